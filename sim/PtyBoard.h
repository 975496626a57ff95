// Pseudo-terminal front end of the simulator: serves one SimBoard on a pty
// from its own thread and links the pty as a COM name, so the host program
// opens it like a serial port. Used in-process by tests and by the program
// vexlo-board-sim. Every public member may be called from any thread.
#pragma once

#include "sim/SimBoard.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vexlo::sim {

// How fast a stream leaves the board:
//  Paced - one record per sample period of the selected data rate, never
//          faster than the line's byte rate (baud / 10 bytes a second);
//  Flood - as fast as the pty takes the bytes (replies too, no line limit);
//  Line  - records back to back at the line's byte rate (for benchmarks).
enum class RateMode { Paced, Flood, Line };
bool parseRateMode(const QString &text, RateMode *mode);

struct PtyOptions {
    Model model = Model::Tamrix;
    int com = 0;                // 1..255: create the COM<com> link; 0: no link
    RateMode rateMode = RateMode::Paced;
    quint64 seed = 1;
    BoardState state;
    Faults faults;
};

class PtyBoard
{
public:
    explicit PtyBoard(const PtyOptions &options);
    ~PtyBoard(); // stops and removes the link
    PtyBoard(const PtyBoard &) = delete;
    PtyBoard &operator=(const PtyBoard &) = delete;

    // Opens the pty, creates the link and starts serving. On failure returns
    // false with a readable reason in *error and leaves nothing behind.
    bool start(QString *error = nullptr);
    // Ends serving, closes the pty and removes the link. Safe to call twice.
    void stop();

    bool isRunning() const;     // serving (started, not stopped, not hung up)
    bool hungUp() const;        // a hang-up closed the pty
    Model model() const { return m_options.model; }
    QString slavePath() const;  // e.g. /dev/pts/7
    QString linkPath() const;   // the COM link, "" when com is 0

    // ${XDG_CONFIG_HOME:-$HOME/.config}/vexlo/ports, read from the environment now.
    static QString portsFolder();

    // Run-time controls; they take effect at once.
    Faults faults() const;
    void setFaults(const Faults &faults);
    void setDrift(const Drift &drift);  // slow wander of the readings (none at start)
    void setRateMode(RateMode mode);
    BoardState boardState() const;
    void setBoardState(const BoardState &state);
    void hangUp(); // close the pty now, dropping unsent output

    // What arrived. Only bytes received while the line was set to the
    // model's baud rate are interpreted and logged; others are only counted.
    // The logs keep the latest 1 MiB of bytes and 16384 commands.
    QByteArray receivedBytes() const;
    QList<QByteArray> commands() const; // command texts without "\r"; "" for a lone CR
    int commandCount() const;
    qint64 ignoredBytes() const;
    qint64 recordsWritten() const;      // stream records written completely, all streams
    bool streaming() const;
    void clearLog();                    // empties the received bytes and commands

    // Block until the condition holds or the time is up; true when it holds.
    bool waitForCommands(int count, int timeoutMs) const;
    bool waitForHangUp(int timeoutMs) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        QByteArray data;
        int offset = 0;
        Clock::time_point notBefore;
        bool record = false;
        int gapMs = 0;            // written no sooner than this long after the chunk before
    };

    void run();
    bool lineMatchesModel() const;
    void readInput(Clock::time_point now);
    void produceRecords(Clock::time_point now);
    // Writes what may go now; returns how long to wait before the next try
    // (-1 when nothing waits) and sets *needWritable when the pty is full.
    int writeOutput(Clock::time_point now, bool *needWritable);
    int recordWaitMs(Clock::time_point now) const;
    bool shouldHangUp() const;
    bool hostHasReadAll(Clock::time_point now);
    void closeEverything();       // fds and link; caller holds m_mutex
    void removeLink();
    void wake();

    PtyOptions m_options;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    SimBoard m_board;
    std::thread m_thread;

    int m_master = -1;
    int m_slave = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    QString m_slavePath;
    QString m_linkPath;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_hangUpRequested = false;
    bool m_hungUp = false;

    std::deque<Chunk> m_out;
    qint64 m_queuedBytes = 0;
    double m_credit = 0;          // bytes the line may carry now
    Clock::time_point m_creditTime;
    Clock::time_point m_lastWrite;
    Clock::time_point m_streamStart;
    Clock::time_point m_drainDeadline;
    int m_drainChecks = 0;        // 0: not waiting for the host to read; else checks so far + 1
    quint64 m_streamId = 0;

    QByteArray m_received;
    QList<QByteArray> m_commands;
    int m_totalCommands = 0;
    qint64 m_ignored = 0;
    qint64 m_recordsWritten = 0;
};

} // namespace vexlo::sim
