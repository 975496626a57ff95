#include "serial/CommandTransaction.h"

#include <QEventLoop>
#include <QTimer>

#include "serial/CommPort.h"

namespace {

const QChar kCR(13);

} // namespace

bool DropLeadingLineFeeds(QByteArray& bytes)
{
    qsizetype n = 0;
    while (n < bytes.size() && bytes[n] == '\n')
        ++n;
    bytes.remove(0, n);
    return !bytes.isEmpty();
}

bool CommandTransaction::Send(const QString& command, QString& reply, int timeoutMs)
{
    bool elapsed = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this, &elapsed] {
        elapsed = true;
        Wake();
    });
    // The time-out counts from before the command is written.
    timer.start(timeoutMs < 0 ? 0 : timeoutMs);
    return Send(command, reply, [&elapsed] { return elapsed; }, [] { return false; });
}

bool CommandTransaction::Send(const QString& command, QString& reply,
                              const std::function<bool()>& timedOut,
                              const std::function<bool()>& abandon)
{
    reply.clear();
    if (active_ || !port_ || !port_->PortOpen() || abandon())
        return false;
    active_ = true;

    port_->SetRThreshold(0);
    // Whatever came before the command is not the reply, including bytes
    // still held by the driver (the LF of a CR LF, a late stray character).
    port_->ClearInput();
    // Commands and replies are plain ASCII: one byte is one character.
    port_->Output((command + kCR).toLatin1());

    QEventLoop loop;
    loop_ = &loop;
    const QMetaObject::Connection c1 =
        QObject::connect(port_, &CommPort::BytesArrived, &loop, &QEventLoop::quit);
    const QMetaObject::Connection c2 =
        QObject::connect(port_, &CommPort::PortFailed, &loop, &QEventLoop::quit);

    bool aborted = false;
    for (;;) {
        if (reply.contains(kCR) || timedOut())
            break;
        if (abandon() || !port_->PortOpen()) {
            aborted = true;
            break;
        }
        QByteArray in = port_->Input();
        // A reply never begins with a line feed: one in front of it is the
        // tail of the previous reply (a CR LF board's LF that arrived after
        // this command's ClearInput).
        if (reply.isEmpty())
            DropLeadingLineFeeds(in);
        reply += QString::fromLatin1(in);
        if (reply.contains(kCR))
            break;
        // -1: the application is quitting and no event loop may run.
        if (loop.exec() == -1) {
            aborted = true;
            break;
        }
    }

    QObject::disconnect(c1);
    QObject::disconnect(c2);
    loop_ = nullptr;
    active_ = false;

    const qsizetype cr = reply.indexOf(kCR);
    if (!aborted && cr >= 0 && reply.size() > 1) {
        reply.truncate(cr);
        return true;
    }
    reply.clear();
    return false;
}

void CommandTransaction::Wake()
{
    if (loop_)
        loop_->quit();
}
