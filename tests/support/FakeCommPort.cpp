#include "support/FakeCommPort.h"

#include <QTimer>

bool FakeCommPort::Open()
{
    if (open_ || failOpen)
        return false;
    open_ = true;
    ++openCount;
    return true;
}

bool FakeCommPort::SetCommPort(int number)
{
    if (number < 1)
        return false;
    number_ = number;
    return true;
}

bool FakeCommPort::SetSettings(const QString& settings)
{
    settings_ = settings;
    return true;
}

QByteArray FakeCommPort::Input()
{
    QByteArray out;
    out.swap(input_);
    return out;
}

bool FakeCommPort::Output(const QByteArray& data)
{
    if (!open_)
        return false;
    writes.append(data);
    if (onWrite)
        onWrite(data);
    return true;
}

void FakeCommPort::Feed(const QByteArray& bytes, bool queued)
{
    auto deliver = [this, bytes] {
        if (!open_)
            return;
        input_.append(bytes);
        emit BytesArrived();
        if (rthreshold_ > 0)
            emit OnComm(ComEvReceive);
    };
    if (queued)
        QTimer::singleShot(0, this, deliver);
    else
        deliver();
}

void FakeCommPort::HangUp()
{
    open_ = false;
    emit PortFailed();
}
