#pragma once
// What the stream benchmarks share: the simulated board they measure against,
// and their yardstick, the least a Qt program must do to take a two-channel
// millivolt block off the line (a plain QSerialPort, event driven, writes the
// start command and reads until every byte is in).

#include <QByteArray>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>

#include "sim/PtyBoard.h"

namespace bench {

constexpr int kRecordBytes = 19;  // two millivolt fields and the ending character

inline double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A Tamrix board on COM4 (buffer on, gain code 4, filter 0, rate code 10)
// streaming in `mode`; null, with the reason on stderr, when it cannot start.
inline std::unique_ptr<vexlo::sim::PtyBoard> StartStreamBoard(vexlo::sim::RateMode mode)
{
    using namespace vexlo::sim;
    PtyOptions o;
    o.model = Model::Tamrix;
    o.com = 4;
    o.rateMode = mode;
    o.state = BoardState{true, 4, 0, 10};
    auto b = std::make_unique<PtyBoard>(o);
    QString error;
    if (!b->start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return nullptr;
    }
    return b;
}

struct ReaderRun {
    double wall = 0;  // start command written .. last byte read
    double cpu = 0;   // this thread's CPU over the same span
    bool ok = false;  // every byte arrived
};

inline ReaderRun RunMinimalReader(const QString& path, int records, int timeoutMs = 600000)
{
    ReaderRun r;
    QSerialPort port;
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite))
        return r;
    port.setBaudRate(115200);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.clear();
    const qint64 want = qint64(records) * kRecordBytes;
    qint64 got = 0;
    QEventLoop loop;
    QObject::connect(&port, &QSerialPort::readyRead, &loop, [&] {
        got += port.readAll().size();
        if (got >= want)
            loop.quit();
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, &loop, [&](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    port.write(QByteArrayLiteral("M2") + QByteArray::number(records, 16).toUpper().rightJustified(4, '0') + '\r');
    port.flush();
    QElapsedTimer t;
    t.start();
    const double cpu0 = ThreadCpuSeconds();
    loop.exec();
    r.wall = t.nsecsElapsed() * 1e-9;
    r.cpu = ThreadCpuSeconds() - cpu0;
    r.ok = got >= want;
    return r;
}

// A run of a program (vexlo-cli) as a child: wall time from start to exit,
// its CPU from the children's resource usage, and whether it exited with 0.
struct ProgramRun {
    double wall = 0;
    double cpu = 0;
    bool ok = false;
};

inline double ChildrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
         + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

inline ProgramRun RunProgram(const QString& program, const QStringList& args)
{
    ProgramRun m;
    const double cpu0 = ChildrenCpuSeconds();
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForFinished(600000))
        p.kill();
    m.wall = t.nsecsElapsed() * 1e-9;
    m.cpu = ChildrenCpuSeconds() - cpu0;
    m.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return m;
}

} // namespace bench
