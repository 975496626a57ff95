#include "cli/BoardSession.h"

#include "board/ConnectionCheck.h"
#include "cli/SignalWatch.h"
#include "serial/ComName.h"
#include "serial/QtCommPort.h"

BoardSession::BoardSession(const CliOptions& options, SignalWatch* watch, QObject* parent)
    : QObject(parent), options_(options), watch_(watch)
{
    wake_.setSingleShot(true);
    connect(&wake_, &QTimer::timeout, &loop_, &QEventLoop::quit);
    if (watch_)
        connect(watch_, &SignalWatch::raised, this, [this] {
            loop_.quit();
            transaction_.Wake();
        });
}

BoardSession::~BoardSession()
{
    Close();
}

int BoardSession::RateEntries() const
{
    return options_.tamrix ? kTamrixRateCount : kSelvorRateCount;
}

bool BoardSession::Interrupted() const
{
    return watch_ && watch_->Raised();
}

int BoardSession::InterruptExit() const
{
    return kExitSignal + (watch_ ? watch_->Signal() : 0);
}

int BoardSession::openPort()
{
    port_ = new QtCommPort(this);
    if (!options_.devicePath.isEmpty()) {
        info_.portName = options_.devicePath;
        port_->SetDevicePath(options_.devicePath);
    } else {
        // The window's rules for a COM name: "COM" exactly, then a number up
        // to 16, rounded half to even; a bare number is taken as COM<n>.
        QString name = options_.com.isEmpty() ? QStringLiteral("COM4") : options_.com;
        if (!name.isEmpty() && (name[0].isDigit() || name[0] == u' '))
            name.prepend(QStringLiteral("COM"));
        info_.portName = name;
        const ComNameReading com = ReadComName(name, 16);
        switch (com.fault) {
        case ComNameFault::NotCom:
            Complain(QStringLiteral("COM 設定エラー"));
            return kExitUsage;
        case ComNameFault::OutOfRange:
            Complain(QStringLiteral("COM番号は1から16です"));
            return kExitUsage;
        case ComNameFault::NoPort:
        case ComNameFault::None:
            break;
        }
        if (com.fault == ComNameFault::NoPort || !port_->SetCommPort(com.number)) {
            Complain(QStringLiteral("Setting Error"));
            return kExitUsage;
        }
        info_.portName = QStringLiteral("COM%1").arg(com.number);
    }
    if (!port_->SetSettings(LineSettingsText(options_.tamrix)) || !port_->Open()) {
        Complain(QStringLiteral("COM Open 失敗 ..."));
        return kExitPort;
    }
    port_->ClearInput();
    port_->SetRThreshold(0);
    port_->SetSThreshold(0);
    port_->SetHandshakingNone();
    info_.device = port_->DeviceName();
    info_.settings = port_->Settings();
    transaction_.SetPort(port_);
    connect(port_, &CommPort::BytesArrived, &loop_, &QEventLoop::quit);
    connect(port_, &CommPort::PortFailed, this, [this] {
        lost_ = true;
        loop_.quit();
    });
    // As the window: what waits is thrown away and a lone CR goes out.
    port_->Input();
    port_->Output(QByteArrayLiteral("\r"));
    return kExitOk;
}

bool BoardSession::transact(const QString& command, QString& reply)
{
    return transaction_.Send(command, reply, kReplyTimeoutMs);
}

int BoardSession::Connect()
{
    if (const int rc = openPort())
        return rc;
    ConnectionCheckSteps steps;
    steps.transact = [this](const QString& command, QString& reply) {
        return transact(command, reply);
    };
    steps.presenceRead = [this](const QString& reply) { info_.identity = reply; };
    steps.statusRead = [this](const StatusSummary& s) { info_.status = s; };
    steps.gainRead = [this](int code) { info_.gainCode = code; };
    steps.rateRead = [this](int code) {
        info_.rateCode = code;
        return true;
    };
    const CheckFailure failure = RunConnectionCheck(steps, CliBoardName(), RateEntries());
    if (lost_) {
        Complain(QStringLiteral("COMポートが切断されました"));
        return kExitPort;
    }
    if (Interrupted())
        return InterruptExit();
    if (failure != CheckFailure::None) {
        Complain(CheckFailureText(failure, CliBoardName()));
        return kExitNoBoard;
    }
    return kExitOk;
}

// Sets a code, and with `verify` reads it back; the board's refusal and a
// read-back that differs each have their own message, a lost port its own.
int BoardSession::setCode(const QString& set, const QString& query, int code, bool verify,
                          const QString& refused, const QString& readBackError)
{
    const auto fail = [this](const QString& text) {
        Complain(lost_ ? QStringLiteral("COMポートが切断されました") : text);
        return lost_ ? kExitPort : kExitNoBoard;
    };
    QString reply;
    if (!transact(set, reply) || !IsAccepted(reply))
        return fail(refused);
    if (verify && (!transact(query, reply) || CodeDigit(reply) != std::optional<int>(code)))
        return fail(readBackError);
    return kExitOk;
}

int BoardSession::SetGain(int code, bool verify)
{
    const int rc = setCode(GainCommand(code), GainQueryCommand(), code, verify,
                           QStringLiteral("ゲイン設定できませんでした"),
                           QStringLiteral("ゲイン設定読出しエラーです"));
    if (rc == kExitOk)
        info_.gainCode = code;
    return rc;
}

int BoardSession::SetRate(int code, bool verify)
{
    const int rc = setCode(RateCommand(code), RateQueryCommand(), code, verify,
                           QStringLiteral("データレート設定できませんでした"),
                           RateErrorText(CliBoardName()));
    if (rc == kExitOk)
        info_.rateCode = code;
    return rc;
}

int BoardSession::Start(bool hex, int channel, int count)
{
    // As the window's start: data rate, then gain, each a transaction.
    if (const int rc = SetRate(info_.rateCode, false))
        return rc;
    if (const int rc = SetGain(info_.gainCode, false))
        return rc;
    port_->ClearInput();
    port_->Input();
    if (!port_->Output((StartCommand(hex, channel, count) + QChar(13)).toLatin1())) {
        Complain(QStringLiteral("COMポートが切断されました"));
        return kExitPort;
    }
    streamLead_ = true;
    return kExitOk;
}

void BoardSession::Stop(bool hex)
{
    if (!port_ || !port_->PortOpen())
        return;
    port_->Output((StopCommand(hex) + QChar(13)).toLatin1());
}

QByteArray BoardSession::Input()
{
    if (!port_)
        return {};
    QByteArray in = port_->Input();
    // Line feeds before the first record are the late tail of the gain
    // command's reply, not part of the stream.
    if (streamLead_)
        streamLead_ = !DropLeadingLineFeeds(in);
    return in;
}

void BoardSession::Wait(int ms)
{
    if (lost_ || Interrupted())
        return;
    wake_.start(ms);
    loop_.exec();
    wake_.stop();
}

void BoardSession::Close()
{
    if (!port_)
        return;
    if (port_->PortOpen()) {
        port_->Input();
        port_->Output(QByteArrayLiteral("\r"));
        port_->Close();
    }
    delete port_;
    port_ = nullptr;
}
