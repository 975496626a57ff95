#include "cli/BoardSession.h"

#include "app/NumberReading.h"
#include "board/ConnectionCheck.h"
#include "cli/SignalWatch.h"
#include "serial/QtCommPort.h"

namespace {

constexpr int kReplyTimeoutMs = 100;

} // namespace

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
        if (!name.startsWith(QStringLiteral("COM"), Qt::CaseSensitive)) {
            Complain(QStringLiteral("COM 設定エラー"));
            return kExitUsage;
        }
        const double number = ReadComNumber(QStringView(name).mid(3));
        if (number > 16) {
            Complain(QStringLiteral("COM番号は1から16です"));
            return kExitUsage;
        }
        const std::optional<int> com = RoundHalfEven(number);
        if (!com || !port_->SetCommPort(*com)) {
            Complain(QStringLiteral("Setting Error"));
            return kExitUsage;
        }
        info_.portName = QStringLiteral("COM%1").arg(*com);
    }
    const QString settings = options_.tamrix ? QStringLiteral("115200,N,8,1")
                                             : QStringLiteral("38400,N,8,1");
    if (!port_->SetSettings(settings) || !port_->Open()) {
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

int BoardSession::SetGain(int code, bool verify)
{
    const QString failed = QStringLiteral("ゲイン設定できませんでした");
    QString reply;
    if (!transact(GainCommand(code), reply) || !IsAccepted(reply)) {
        Complain(lost_ ? QStringLiteral("COMポートが切断されました") : failed);
        return lost_ ? kExitPort : kExitNoBoard;
    }
    if (verify) {
        if (!transact(GainQueryCommand(), reply) || CodeDigit(reply) != std::optional<int>(code)) {
            Complain(lost_ ? QStringLiteral("COMポートが切断されました")
                           : QStringLiteral("ゲイン設定読出しエラーです"));
            return lost_ ? kExitPort : kExitNoBoard;
        }
    }
    info_.gainCode = code;
    return kExitOk;
}

int BoardSession::SetRate(int code, bool verify)
{
    QString reply;
    const QString failed = QStringLiteral("データレート設定できませんでした");
    if (!transact(RateCommand(code), reply) || !IsAccepted(reply)) {
        Complain(lost_ ? QStringLiteral("COMポートが切断されました") : failed);
        return lost_ ? kExitPort : kExitNoBoard;
    }
    if (verify) {
        if (!transact(RateQueryCommand(), reply) || CodeDigit(reply) != std::optional<int>(code)) {
            Complain(lost_ ? QStringLiteral("COMポートが切断されました")
                           : RateErrorText(CliBoardName()));
            return lost_ ? kExitPort : kExitNoBoard;
        }
    }
    info_.rateCode = code;
    return kExitOk;
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
    return port_ ? port_->Input() : QByteArray();
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
