#pragma once
// The live view's recorder: a measurement of the main window with a count
// of 0 whose records go, as they are cut off the input, to the log file
// (stream/LogWriter, the same writer as `vexlo-cli log`) and to the live
// view's history. The main window's controls are those of a measurement
// while it runs; its block stays empty.
//
// It ends with Stop() (「記録停止」), the main window's 測定停止, a lost port,
// a limit reached, or a failed write; then the file is finished (its count
// line holds the rows in it) and a failure is shown as for the data file.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

#include "measure/SampleBlock.h"
#include "stream/RecordSink.h"

class Form1;
class LogWriter;
class QTimer;

class Recorder : public QObject {
    Q_OBJECT
public:
    struct Limit {
        qint64 records = 0;  // 0: none
        qint64 ms = 0;       // 0: none
    };

    // `view` (may be null) gets every record the file gets.
    Recorder(Form1* owner, RecordSink* view, QObject* parent = nullptr);
    ~Recorder() override;

    // Prepares the file and starts the board. False when nothing started:
    // the file could not be prepared (the message was shown) or the main
    // window refused the start (its status line says why).
    bool Start(const QString& path, bool timeColumn, Limit limit);
    // Ends the recording through the main window's stop.
    void Stop();

    bool Active() const { return file_ != nullptr; }
    qint64 Records() const { return total_; }
    qint64 ElapsedMs() const { return run_.isValid() ? run_.elapsed() : 0; }
    // Milliseconds left of the time limit (-1 without one).
    qint64 LeftMs() const;
    qint64 FileBytes() const;
    const Limit& Limits() const { return limit_; }
    QString Path() const { return path_; }
    // Why the last recording failed ("" when it did not).
    QString Error() const { return error_; }

signals:
    // Records were appended (also once a quarter second for the clock).
    void progressed();
    // The recording ended; `ok` false when the file could not be written.
    void ended(bool ok);

private:
    void receive();
    void finish();

    Form1* owner_;
    RecordSink* view_;
    std::unique_ptr<LogWriter> file_;
    StreamInfo info_;
    SampleBlock chunk_;
    Limit limit_;
    QString path_;
    QString error_;
    qint64 total_ = 0;
    bool failed_ = false;
    QElapsedTimer run_;
    QTimer* clock_ = nullptr;
};
