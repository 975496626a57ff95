#pragma once
// Reading a data file back: the inverse of EncodeDataFile. The header is
// read first (Open), then the rows in one pass (ReadRows), handed to a
// RecordSink a block at a time, so a log of any length is read in a few MiB.
//
// What the reader accepts: the seven header lines and the column header in
// Shift-JIS (UTF-8 is taken too, for files re-saved by an editor), lines
// ended by CR LF or LF alone, one or two data columns ("... [hex]" or
// "... [mV]", the same unit for both) and, before them, an optional time
// column "時刻" of local times "yyyy-MM-ddTHH:mm:ss.zzz".
//
// Files it did not write are read as well as can be: blank lines, rows that
// do not fit the column header, a last row without its line ending (torn by
// a crash or a full disk) and a count line that disagrees with the rows are
// counted with the first line where each was met, and the reading goes on.
// Those rows are not delivered. A file that does not start like a data file
// is refused with a message naming the line.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <limits>
#include <memory>
#include <vector>

#include "datafile/DataFile.h"
#include "measure/SampleBlock.h"

class QIODevice;
class RecordSink;

// What the header says. `content` holds the texts as a writer takes them
// (title, date, gain, filter, rate, channel entry, column titles, channel
// mode, unit), so that writing it again gives the same header.
struct DataFileHeader {
    DataFileContent content;
    qint64 declaredCount = -1;  // the number on line 7; -1 when it has none
    int channels = 0;           // data columns: 1 or 2
    bool timeColumn = false;    // rows begin with a local time
    double samplesPerSecond = 0; // from the rate line ("10sps"); 0 when unknown
};

// One kind of trouble met in the rows: how often, and the first line.
struct DataFileTally {
    qint64 count = 0;
    qint64 firstLine = 0;   // 1-based line number in the file
    void Add(qint64 line)
    {
        if (count++ == 0)
            firstLine = line;
    }
};

struct DataFileReport {
    qint64 rows = 0;             // rows delivered
    qint64 lines = 0;            // lines met, the header's included
    DataFileTally blankLines;
    DataFileTally malformedRows; // wrong number of cells, or a cell that is no sample of the unit
    DataFileTally badTimes;      // a time cell that is no time (the row is still delivered)
    qint64 tornLine = 0;         // the last line had no line ending (not delivered); 0: none
    bool cutShort = false;       // the file ended before the column header
    bool CountDisagrees() const { return declaredCount >= 0 && declaredCount != rows; }
    qint64 declaredCount = -1;
    // One line per finding, for the operator ("line 12: ..."); empty when
    // the file was read cleanly.
    QStringList Describe() const;
};

// Times are local wall-clock milliseconds since 1970-01-01T00:00 with no
// time zone applied: they order and subtract as the clock on the wall read.
constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
// "2026-01-31T08:15:00.125" (milliseconds optional) as such a time, or kNoTime.
qint64 LocalTimeFromText(QByteArrayView text);
QString LocalTimeText(qint64 ms);

class DataFileReader {
public:
    DataFileReader();
    ~DataFileReader();

    // Opens the file and reads its header. False, with Error() set, when the
    // file cannot be opened, is no plain file, or is not a data file.
    bool Open(const QString& path);
    // The same on a device already open for reading (kept by the caller).
    bool Open(QIODevice* device);

    const DataFileHeader& Header() const { return header_; }

    // Reads every row, in one pass: sink.Begin with the header (the start
    // time is the first row's time, else line 2), Append with up to
    // `blockRows` rows at a time, Finish with the total. Returns false when
    // the sink refused (its Error() says why) or the device failed (Error()).
    bool ReadRows(RecordSink& sink, int blockRows = 4096);

    // While the sink's Append runs: the times of the rows of that block, or
    // empty when the file has no time column.
    const std::vector<qint64>& BlockTimes() const { return times_; }

    const DataFileReport& Report() const { return report_; }
    QString Error() const { return error_; }

private:
    bool readHeader();
    bool nextLine(QByteArrayView* line, bool* ended);
    void takeRow(QByteArrayView line, qint64 lineNo);
    bool flush(RecordSink& sink);

    std::unique_ptr<QIODevice> owned_;
    QIODevice* dev_ = nullptr;
    std::vector<char> buf_;         // one chunk and the start of a line
    qsizetype pos_ = 0, end_ = 0;
    bool eof_ = false;
    bool utf8_ = false;
    DataFileHeader header_;
    DataFileReport report_;
    QString error_;
    SampleBlock block_;
    std::vector<qint64> times_;
    int inBlock_ = 0;
    qint64 delivered_ = 0;
};
