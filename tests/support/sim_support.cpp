#include "support/SimFixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>

using namespace vexlo::sim;

SimFixture::SimFixture()
{
    m_hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
}

SimFixture::~SimFixture()
{
    board.reset();
    if (m_hadXdg)
        qputenv("XDG_CONFIG_HOME", m_savedXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

bool SimFixture::start(Model model, int com, RateMode mode)
{
    PtyOptions o;
    o.model = model;
    o.com = com;
    o.rateMode = mode;
    return start(o);
}

bool SimFixture::start(const PtyOptions &options)
{
    board = std::make_unique<PtyBoard>(options);
    m_com = options.com;
    error.clear();
    return board->start(&error);
}

QString SimFixture::comName() const { return QStringLiteral("COM%1").arg(m_com); }

QString SimFixture::linkPath() const { return PtyBoard::portsFolder() + QLatin1Char('/') + comName(); }

// After a hang-up every wait fails at once; stop instead of spinning.
static bool portBroken(const QSerialPort &port)
{
    return port.error() != QSerialPort::NoError && port.error() != QSerialPort::TimeoutError;
}

bool openSimPort(QSerialPort &port, const QString &path, int baud)
{
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    return port.setBaudRate(baud) && port.setDataBits(QSerialPort::Data8)
           && port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop)
           && port.setFlowControl(QSerialPort::NoFlowControl);
}

QByteArray readFor(QSerialPort &port, int ms)
{
    QByteArray got = port.readAll();
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (!port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) && portBroken(port))
            break;
        got += port.readAll();
    }
    return got;
}

QByteArray readBytes(QSerialPort &port, int count, int ms)
{
    QByteArray got = port.readAll();
    QDeadlineTimer deadline(ms);
    while (got.size() < count && !deadline.hasExpired()) {
        if (!port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) && portBroken(port))
            break;
        got += port.readAll();
    }
    return got;
}

QByteArray transact(QSerialPort &port, const QByteArray &cmd, int ms)
{
    port.readAll();
    port.write(cmd + '\r');
    port.waitForBytesWritten(ms);
    QByteArray got;
    QDeadlineTimer deadline(ms);
    while (!got.contains('\r') && !deadline.hasExpired()) {
        if (!port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) && portBroken(port))
            break;
        got += port.readAll();
    }
    return got;
}
