#include "support/SimFixture.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <functional>

using namespace vexlo::sim;

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

QString SimFixture::linkPath() const { return cfg.portsFolder() + QStringLiteral("/COM%1").arg(m_com); }

bool openSimPort(QSerialPort &port, const QString &path, int baud)
{
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    return port.setBaudRate(baud) && port.setDataBits(QSerialPort::Data8)
           && port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop)
           && port.setFlowControl(QSerialPort::NoFlowControl);
}

// Reads until done(what arrived) or ms milliseconds have passed. After a
// hang-up every wait fails at once; stop then instead of spinning.
static QByteArray readUntil(QSerialPort &port, int ms, const std::function<bool(const QByteArray &)> &done)
{
    QByteArray got = port.readAll();
    QDeadlineTimer deadline(ms);
    while (!done(got) && !deadline.hasExpired()) {
        if (!port.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))
            && port.error() != QSerialPort::NoError && port.error() != QSerialPort::TimeoutError)
            break;
        got += port.readAll();
    }
    return got;
}

QByteArray readFor(QSerialPort &port, int ms)
{
    return readUntil(port, ms, [](const QByteArray &) { return false; });
}

QByteArray readBytes(QSerialPort &port, int count, int ms)
{
    return readUntil(port, ms, [count](const QByteArray &got) { return got.size() >= count; });
}

QByteArray transact(QSerialPort &port, const QByteArray &cmd, int ms)
{
    port.readAll();
    port.write(cmd + '\r');
    port.waitForBytesWritten(ms);
    return readUntil(port, ms, [](const QByteArray &got) { return got.contains('\r'); });
}
