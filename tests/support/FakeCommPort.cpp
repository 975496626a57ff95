#include "support/FakeCommPort.h"

#include <QTimer>

bool FakeCommPort::Output(const QByteArray& data)
{
    if (!open_)
        return false;
    writes.append(data);
    if (onWrite)
        onWrite(data);
    return true;
}

void FakeCommPort::ClearInput()
{
    input_.clear();
    driver_.clear();
    if (!afterClear.isEmpty())
        Feed(std::exchange(afterClear, QByteArray()));
}

void FakeCommPort::Feed(const QByteArray& bytes, bool queued)
{
    if (!open_)
        return;
    driver_.append(bytes);
    auto deliver = [this] {
        if (!open_ || driver_.isEmpty())
            return;
        input_.append(std::exchange(driver_, QByteArray()));
        emit BytesArrived();
        if (rthreshold_ > 0)
            emit OnComm(ComEvReceive);
    };
    if (queued)
        QTimer::singleShot(0, this, deliver);
    else
        deliver();
}
