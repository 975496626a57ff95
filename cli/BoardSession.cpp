#include "cli/BoardSession.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board/ConnectionCheck.h"
#include "cli/SignalWatch.h"
#include "serial/ComName.h"
#include "serial/QtCommPort.h"

namespace {

// The process named in a serial lock file ("LCK..ttyUSB0", "LCK..pts_2":
// the path below /dev with '/' as '_'; its number as ten digits or on the
// first line), 0 when there is none or its process is gone.
qint64 lockOwner(const QString& device)
{
    QString below = device;
    if (below.startsWith(QStringLiteral("/dev/")))
        below = below.mid(5);
    const QString name = QStringLiteral("LCK..") + below.replace(u'/', u'_');
    for (const char* dir : {"/var/lock", "/run/lock", "/var/spool/locks", "/tmp"}) {
        QFile lock(QString::fromLatin1(dir) + u'/' + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = lock.readLine(64).trimmed().toLongLong();
        if (pid > 0 && ::kill(pid_t(pid), 0) == 0)
            return pid;
    }
    return 0;
}

// The second line after "COM Open 失敗 ...": why the device could not be opened.
QString openFailureReason(const QString& device)
{
    const QByteArray path = QFile::encodeName(device);
    struct stat st = {};
    if (device.isEmpty() || ::stat(path.constData(), &st) != 0)
        return device + QStringLiteral(": no such device");
    if (!S_ISCHR(st.st_mode))
        return device + QStringLiteral(": not a serial device (not a terminal)");
    if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return device + QStringLiteral(": permission denied; members of the group 'dialout' may use "
                                       "serial ports: sudo usermod -aG dialout \"$USER\", then log in again");
    if (const qint64 pid = lockOwner(device)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                                            : QString();
        return device + QStringLiteral(": busy, in use by process %1").arg(pid)
            + (name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(name));
    }
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return device + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno))
            + (errno == EBUSY ? QStringLiteral(" (busy: another program has it open)") : QString());
    const bool tty = ::isatty(fd);
    ::close(fd);
    return device + (tty ? QStringLiteral(": busy or not usable (another program may have it open)")
                         : QStringLiteral(": not a serial device (not a terminal)"));
}

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
        Complain(openFailureReason(port_->DeviceName().isEmpty() ? info_.portName : port_->DeviceName()));
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

// A board that an earlier run left streaming (killed outright) would have
// its records read as the check's replies. Bytes that arrive unasked right
// after opening, more than a reply to the lone CR, are taken as such a
// stream: the stop commands of both formats go out and the check waits until
// the line stays quiet.
int BoardSession::quietStream()
{
    constexpr int kListenMs = 250;   // longer than a record period at 5 sps
    constexpr int kRecordBytes = 7;  // the shortest record
    constexpr int kQuietMs = 300;
    constexpr int kGiveUpMs = 5000;
    QElapsedTimer t;
    t.start();
    qint64 heard = 0;
    while (heard < kRecordBytes && t.elapsed() < kListenMs && !lost_ && !Interrupted()) {
        Wait(int(kListenMs - t.elapsed()));
        heard += port_->Input().size();
    }
    if (heard < kRecordBytes || lost_ || Interrupted())
        return kExitOk;
    Complain(QStringLiteral("the board was still streaming: stopping it (AX, MX) before the check"));
    port_->Output(QByteArrayLiteral("AX\rMX\r"));
    QElapsedTimer quiet;
    quiet.start();
    t.restart();
    while (quiet.elapsed() < kQuietMs) {
        if (lost_ || Interrupted())
            return kExitOk; // told by the caller
        if (t.elapsed() > kGiveUpMs) {
            Complain(NoAnswerText(CliBoardName()));
            return kExitNoBoard;
        }
        Wait(int(kQuietMs - quiet.elapsed()));
        if (!port_->Input().isEmpty())
            quiet.restart();
    }
    return kExitOk;
}

int BoardSession::Connect()
{
    if (const int rc = openPort())
        return rc;
    if (const int rc = quietStream())
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
    if (Interrupted()) {
        Complain(QStringLiteral("interrupted by signal %1 during the connection check").arg(watch_->Signal()));
        return InterruptExit();
    }
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
