#pragma once
// The noise analysis of a span of a data file: the file read in one pass
// (datafile/DataFileReader), the rows of the span fed to one SpanAnalysis per
// channel. What `vexlo-cli analyze` prints and what the noise analysis
// window shows for a span chosen in an opened file both come from here.
//
// It may run on a worker thread: it touches nothing but the file and what it
// returns, can be cancelled between blocks of rows and reports how many rows
// it has read.

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/SpanAnalysis.h"
#include "datafile/DataFileReader.h"

// One end of a span: a record index (0 is the first row), an offset in
// milliseconds from the first record (by the time column, else by the data
// rate), or a local time on LocalTimeFromText's clock.
struct SpanBound {
    enum Kind { Index, Offset, Clock } kind = Index;
    qint64 value = 0;
};

struct FileSpanRequest {
    std::optional<SpanBound> from;  // first record taken (none: the first)
    std::optional<SpanBound> to;    // first record no longer taken (none: to the end)
    bool histogram = true;
    bool spectrum = true;           // with the Allan deviation
    // Stop reading once an index-bounded span is complete, instead of
    // reading the rest of the file for its findings.
    bool stopAfterSpan = false;
    const std::atomic<bool>* cancel = nullptr;          // set: stop at the next block
    std::function<void(qint64 rowsRead)> progress;      // after each block of rows
};

struct FileSpanResult {
    enum Outcome { Done, Unreadable, BadBound, Cancelled } outcome = Done;
    QString error;                 // Unreadable / BadBound: the reason, with the path
    DataFileHeader header;
    DataFileReport report;         // what the reading met (only up to the span's end with stopAfterSpan)
    std::vector<std::unique_ptr<SpanAnalysis>> channels;  // one per data column
    qint64 first = -1, last = -1;  // records of the span taken; first < 0: none
    qint64 firstTime = kNoTime, lastTime = kNoTime;
    bool timeMissing = false;      // a time bound met a row without a time: left out
    // "CH0" or "CH1" for data column k.
    QString ChannelName(int k) const;
};

FileSpanResult AnalyzeFileSpan(const QString& path, const FileSpanRequest& request);
