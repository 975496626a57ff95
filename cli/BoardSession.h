#pragma once
// One conversation with the board for vexlo-cli: open the port as the window
// does (COM name rules, the model's line settings, a lone carriage return),
// the connection check, setting gain and data rate, and the measurement
// stream. Failures are told on standard error with the window's texts and
// returned as an exit code.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include "board/Protocol.h"
#include "cli/CliCommon.h"
#include "serial/CommandTransaction.h"

class QtCommPort;
class SignalWatch;

struct BoardInfo {
    QString portName;     // "COM4" or the device path given
    QString device;       // device opened
    QString settings;     // "115200,N,8,1"
    QString identity;     // the reply to "?"
    StatusSummary status; // "S?": status text and label
    int gainCode = -1;
    int rateCode = -1;
};

class BoardSession : public QObject {
    Q_OBJECT
public:
    BoardSession(const CliOptions& options, SignalWatch* watch, QObject* parent = nullptr);
    ~BoardSession() override;

    // Opens the port, stops a stream an earlier run left going, and runs the
    // connection check. kExitOk or the failure's code.
    int Connect();
    const BoardInfo& Info() const { return info_; }
    // Entries of the model's data-rate list (11 or 7).
    int RateEntries() const;

    // "G" + code / "F" + code, accepted with "OK", then read back with "G?" /
    // "F?" when `verify`.
    int SetGain(int code, bool verify);
    int SetRate(int code, bool verify);

    // The measurement start: the rate and gain commands, then the start
    // command with `count` (0: until stopped).
    int Start(bool hex, int channel, int count);
    void Stop(bool hex);

    // Every byte received since the last call; after Start(), line feeds in
    // front of the first record are left out.
    QByteArray Input();
    // Sleeps until bytes arrive, the port fails, a signal comes or `ms` pass.
    void Wait(int ms);
    bool PortLost() const { return lost_; }
    bool Interrupted() const;
    int InterruptExit() const;

    // A lone carriage return, then the port is closed (as the window's close).
    void Close();

private:
    int openPort();
    int quietStream();
    bool transact(const QString& command, QString& reply);
    int setCode(const QString& set, const QString& query, int code, bool verify,
                const QString& refused, const QString& readBackError);

    const CliOptions& options_;
    SignalWatch* watch_;
    QtCommPort* port_ = nullptr;
    CommandTransaction transaction_;
    QEventLoop loop_;
    QTimer wake_;
    BoardInfo info_;
    bool lost_ = false;
    bool streamLead_ = false; // started, nothing but line feeds received yet
};
