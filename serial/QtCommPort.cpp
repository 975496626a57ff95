#include "serial/QtCommPort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <termios.h>
#endif

CommPort* CreateDefaultCommPort(QObject* parent)
{
    return new QtCommPort(parent);
}

// ---------------------------------------------------------------------------
// Pure helpers
// ---------------------------------------------------------------------------

std::optional<LineSettings> ParseLineSettings(const QString& text)
{
    const QStringList f = text.split(u',');
    if (f.size() != 4)
        return std::nullopt;
    LineSettings s;

    bool ok = false;
    const QString baud = f[0].trimmed();
    for (QChar c : baud)
        if (!c.isDigit() || c.unicode() > 127)
            return std::nullopt;
    const qlonglong rate = baud.toLongLong(&ok);
    if (!ok || rate <= 0 || rate > 4000000)
        return std::nullopt;
    s.baudRate = static_cast<qint32>(rate);

    const QString parity = f[1].trimmed().toUpper();
    if (parity == u"N")
        s.parity = QSerialPort::NoParity;
    else if (parity == u"E")
        s.parity = QSerialPort::EvenParity;
    else if (parity == u"O")
        s.parity = QSerialPort::OddParity;
    else if (parity == u"M")
        s.parity = QSerialPort::MarkParity;
    else if (parity == u"S")
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const QString data = f[2].trimmed();
    if (data == u"5")
        s.dataBits = QSerialPort::Data5;
    else if (data == u"6")
        s.dataBits = QSerialPort::Data6;
    else if (data == u"7")
        s.dataBits = QSerialPort::Data7;
    else if (data == u"8")
        s.dataBits = QSerialPort::Data8;
    else
        return std::nullopt;

    const QString stop = f[3].trimmed();
    if (stop == u"1")
        s.stopBits = QSerialPort::OneStop;
    else if (stop == u"1.5")
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == u"2")
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString ComPortLinkFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the convention says.
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty())
            home = QDir::homePath();
        base = home + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/vexlo/ports");
}

QString ResolveComPortName(int number)
{
    if (number < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    const QFileInfo link(ComPortLinkFolder() + QStringLiteral("/COM%1").arg(number));
    if (link.isSymLink()) {
        const QString target = link.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

// ---------------------------------------------------------------------------
// QtCommPort
// ---------------------------------------------------------------------------

QtCommPort::QtCommPort(QObject* parent)
    : CommPort(parent), port_(new QSerialPort(this))
{
    // Unlimited: everything that arrives between two reads is kept.
    port_->setReadBufferSize(0);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    apply(line_);
    connect(port_, &QSerialPort::readyRead, this, &QtCommPort::onReadyRead);
    connect(port_, &QSerialPort::errorOccurred, this, &QtCommPort::onError);
}

QtCommPort::~QtCommPort()
{
    failPending_ = false;
    closeDrained();
}

bool QtCommPort::PortOpen() const
{
    return port_->isOpen();
}

bool QtCommPort::Open()
{
    if (port_->isOpen())
        return false;
    device_ = devicePath_.isEmpty() ? ResolveComPortName(number_) : devicePath_;
    if (device_.isEmpty())
        return false;
    port_->setPortName(device_);
    if (!apply(line_))
        return false;
    if (!port_->open(QIODevice::ReadWrite)) {
        port_->clearError();
        return false;
    }
    failPending_ = false;
    // A freshly opened port may hand over bytes from before the opening.
    ClearInput();
    return true;
}

void QtCommPort::Close()
{
    failPending_ = false;
    closeDrained();
    port_->clearError();
}

void QtCommPort::closeDrained()
{
    if (!port_->isOpen())
        return;
    // QSerialPort::close() puts back the line settings the device had before
    // it was opened, at once. A byte still waiting in Qt's buffer would be
    // dropped, and one still queued in the driver would leave at the old
    // speed, garbled: the stop command or the lone CR written just before
    // closing would never reach the board. So everything written first goes
    // to the driver, and the driver sends it, before the port closes.
    {
        // No arrival or error events for a port that is being closed.
        const QSignalBlocker quiet(port_);
        // Allow the time the bytes take on the line, and a second more.
        const qint64 lineMs = port_->bytesToWrite() * 10 * 1000 / qMax(1, line_.baudRate);
        const QDeadlineTimer deadline(1000 + lineMs);
        while (port_->bytesToWrite() > 0 && !deadline.hasExpired()
               && port_->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())))) {
        }
#ifdef Q_OS_WIN
        FlushFileBuffers(reinterpret_cast<HANDLE>(port_->handle()));
#else
        const int fd = int(port_->handle());
        while (fd >= 0 && ::tcdrain(fd) != 0 && errno == EINTR) {
        }
#endif
    }
    port_->close();
}

bool QtCommPort::SetCommPort(int number)
{
    if (number < 1)
        return false;
    number_ = number;
    return true;
}

bool QtCommPort::SetSettings(const QString& settings)
{
    const std::optional<LineSettings> parsed = ParseLineSettings(settings);
    if (!parsed)
        return false;
    if (!apply(*parsed)) {
        // Keep the port on the settings that were in force.
        apply(line_);
        port_->clearError();
        return false;
    }
    line_ = *parsed;
    settings_ = settings;
    return true;
}

bool QtCommPort::apply(const LineSettings& s)
{
    // Before opening these only record the values; open() applies them and
    // fails when the device refuses them.
    return port_->setBaudRate(s.baudRate) && port_->setParity(s.parity)
        && port_->setDataBits(s.dataBits) && port_->setStopBits(s.stopBits);
}

void QtCommPort::ClearInput()
{
    if (!port_->isOpen())
        return;
    // clear() empties Qt's buffer and the driver's input queue. Where the
    // driver refuses the flush, what it holds is pulled in and dropped, so
    // bytes that arrived while no events ran are gone either way.
    if (!port_->clear(QSerialPort::Input)) {
        const QSignalBlocker quiet(port_); // no arrival events for discarded bytes
        port_->waitForReadyRead(0);
    }
    port_->readAll();
}

void QtCommPort::SetHandshakingNone()
{
    port_->setFlowControl(QSerialPort::NoFlowControl);
}

QByteArray QtCommPort::Input()
{
    if (!port_->isOpen())
        return {};
    return port_->readAll();
}

bool QtCommPort::Output(const QByteArray& data)
{
    if (!port_->isOpen() || failPending_)
        return false;
    if (port_->write(data) != data.size())
        return false;
    // Hand the bytes to the device now rather than on the next event loop pass.
    port_->flush();
    return true;
}

void QtCommPort::onReadyRead()
{
    emit BytesArrived();
    if (rthreshold_ > 0 && port_->isOpen() && port_->bytesAvailable() >= rthreshold_)
        emit OnComm(ComEvReceive);
}

void QtCommPort::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (!port_->isOpen() || failPending_)
        return;
    // The device is gone. QSerialPort keeps reporting the error for as long
    // as the descriptor stays open, so close it - but from the event loop,
    // not from inside QSerialPort's own notification.
    failPending_ = true;
    QTimer::singleShot(0, this, &QtCommPort::failNow);
}

void QtCommPort::failNow()
{
    if (!failPending_)
        return; // closed on purpose in the meantime
    failPending_ = false;
    closeDrained();
    port_->clearError();
    emit PortFailed();
}
