#pragma once
// Where the records of a running stream go. The reception loop (the window's
// recorder, `vexlo-cli log`) cuts records off the port and hands each chunk
// to every sink in order: the log file, the live view's history, a broker
// publisher. A sink that is slow (a disk sync, a network) must not block the
// caller: it queues and works on its own thread, and reports trouble through
// its return values and Error().

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include "datafile/DataFile.h"

class SampleBlock;

// What every sink of one stream knows before its first record.
struct StreamInfo {
    DataFileContent header;        // the data file's header for the board's state (no samples)
    double samplesPerSecond = 0;   // from the rate code sent with the start; 0 when unknown
    QDateTime started;             // when the board accepted the start (record 0's time)
    QString model;                 // board model name ("Tamrix", "Selvor")
    QString port;                  // the port's name as the operator gave it
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // The board accepted the start. False when the sink cannot take the
    // stream (Error() says why); nothing of it has been changed then.
    virtual bool Begin(const StreamInfo& info) = 0;
    // Records firstIndex .. firstIndex + count - 1 of the stream, their texts
    // in rows 0 .. count - 1 of `rows`, exactly as the board sent them.
    virtual bool Append(const SampleBlock& rows, int count, qint64 firstIndex) = 0;
    // The stream ended, normally or not, after `total` records; everything
    // appended is delivered (or, where it cannot be, reported) on return.
    virtual bool Finish(qint64 total) = 0;
    // Why the last call failed, in the operator's words; empty when none did.
    virtual QString Error() const = 0;
};
