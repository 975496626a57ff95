#pragma once
// The log file: the data file of an open-ended stream. The window's header
// (its count field padded with blanks to kCountWidth characters), then one
// row per record, appended as the records arrive; the count field is brought
// up to date as the rows reach the disk and holds the rows of the file when
// the log ends.
//
// The file work runs on a thread of its own, so a slow disk (a sync that
// takes seconds) never holds up the caller that reads the port. Rows are
// rendered on the caller's thread and queued (at most kMaxQueuedBytes), and
// written within about a quarter of a second; every second the rows are
// synced and only then is the count field rewritten, so the count never runs
// ahead of the rows on disk.
//
//   LogWriter log(path);
//   if (!log.Prepare()) ...          // before the board is started
//   log.Begin(info);                 // the stream has started: the file replaces the target
//   log.Append(block, n, first);     // any number of times
//   log.Finish(total);               // everything on disk, count = rows in the file
//
// A failed write (a full disk) cuts the file back to its last whole row and
// sets the count to the rows in the file; Append and Finish then return false
// and Error() says why.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "stream/RecordSink.h"

class LogWriter : public RecordSink {
public:
    static constexpr int kCountWidth = 10;
    static constexpr qint64 kMaxQueuedBytes = 64 << 20;

    // `timeColumn`: each row begins with the record's local time,
    // "yyyy-MM-ddTHH:mm:ss.zzz" (start time + index / data rate), then a comma;
    // the column header begins with "時刻,".
    explicit LogWriter(const QString& path, bool timeColumn = false);
    ~LogWriter() override; // finishes a begun log; removes the temporary file of one never begun

    // Tries the target before anything is measured: refuses a target that is
    // not an ordinary file and creates the temporary file beside it (which
    // Begin later renames over the target). An existing file is not touched.
    bool Prepare();

    bool Begin(const StreamInfo& info) override;
    bool Append(const SampleBlock& rows, int count, qint64 firstIndex) override;
    bool Finish(qint64 total) override;
    // "<path>: <the system's reason>"; the front end shows its own message
    // ("データファイルを保存出来ませんでした") before it. Empty when nothing failed.
    QString Error() const override;

    // Whole rows in the file (after Finish: the number on the count line).
    qint64 RowsInFile() const { return rows_.load(); }
    QString Path() const { return path_; }

private:
    struct Chunk {
        QByteArray bytes;
        qint64 rows = 0;
    };
    void run();
    bool writeChunk(const Chunk& chunk);
    bool syncAndCount();
    void fail(const QString& reason);
    QByteArray timeCell(qint64 index) const;

    const QString path_;
    const bool timeColumn_;
    QString tempPath_;
    int fd_ = -1;
    bool begun_ = false;
    bool finished_ = false;
    DataFileContent header_;
    qint64 startMs_ = 0;
    double sps_ = 0;
    qint64 countPos_ = 0;
    qint64 end_ = 0;            // file offset just past the last whole row
    std::atomic<qint64> rows_{0};
    QByteArray gate_;           // test hook: the writer waits while this file exists

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Chunk> queue_;
    qint64 queuedBytes_ = 0;
    bool stopping_ = false;
    std::atomic<bool> failed_{false};
    QString error_;
    std::thread thread_;
};
