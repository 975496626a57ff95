// Cost of the command transaction, measured in one run on a pseudo-terminal
// whose far side is a thread of this program that answers at once (or stays
// silent). Prints three ratios:
//
//   overhead  = median SendCommand round trip
//               / median bare QSerialPort write + waitForReadyRead round trip
//               (same pty, same peer; measured in alternating rounds, the
//               median of the rounds' ratios is printed)      goal <= 1.5
//   waiting   = CPU time / wall time during transactions that
//               time out (silent peer)                        goal <  0.02
//   time-out  = median measured time-out / 100 ms             goal 1.0 .. 1.05
//
// Usage: bench_transaction [round-trips=400] [time-outs=20]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "support/FakeDialogs.h"
#include "app/Dialogs.h"
#include "app/Form1.h"

namespace {

// The board: answers "OK\r" to every command the moment its CR arrives, or
// says nothing while `silent` is set.
class Peer {
public:
    bool open()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return false;
        slavePath_ = QString::fromLocal8Bit(ptsname(master_));
        keptSlave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (keptSlave_ < 0)
            return false;
        termios t{};
        tcgetattr(keptSlave_, &t);
        cfmakeraw(&t);
        tcsetattr(keptSlave_, TCSANOW, &t);
        if (pipe(wake_) != 0)
            return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }
    ~Peer()
    {
        if (thread_.joinable()) {
            const char c = 'q';
            (void)!::write(wake_[1], &c, 1);
            thread_.join();
        }
        for (int fd : {master_, keptSlave_, wake_[0], wake_[1]})
            if (fd >= 0)
                ::close(fd);
    }
    QString slavePath() const { return slavePath_; }
    std::atomic<bool> silent{false};

private:
    void run()
    {
        char buf[256];
        for (;;) {
            pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0)
                continue;
            if (p[1].revents)
                return;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) {
                usleep(1000);
                continue;
            }
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == '\r' && !silent)
                    (void)!::write(master_, "OK\r", 3);
        }
    }
    int master_ = -1;
    int keptSlave_ = -1;
    int wake_[2] = {-1, -1};
    QString slavePath_;
    std::thread thread_;
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One block of SendCommand round trips (microseconds each).
bool windowRoundTrips(Form1& w, int count, std::vector<double>* out)
{
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        QString reply;
        t.start();
        const bool ok = w.SendCommand(QStringLiteral("G?"), reply, 100);
        const double us = double(t.nsecsElapsed()) / 1000.0;
        if (!ok || reply != QStringLiteral("OK"))
            return false;
        out->push_back(us);
    }
    return true;
}

// One block of bare QSerialPort round trips on the same device.
bool bareRoundTrips(const QString& device, int count, std::vector<double>* out)
{
    QSerialPort port;
    port.setPortName(device);
    port.setBaudRate(115200);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.clear();
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        QByteArray got;
        t.start();
        port.write("G?\r");
        while (!got.contains('\r')) {
            if (!port.waitForReadyRead(1000))
                return false;
            got += port.readAll();
        }
        out->push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int roundTrips = argc > 1 ? std::max(10, atoi(argv[1])) : 400;
    const int timeOuts = argc > 2 ? std::max(2, atoi(argv[2])) : 20;

    QTemporaryDir cfg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
    const QString ports = cfg.path() + QStringLiteral("/vexlo/ports");
    QDir().mkpath(ports);

    Peer peer;
    if (!peer.open()) {
        std::fprintf(stderr, "cannot create a pseudo-terminal\n");
        return 1;
    }
    if (!QFile::link(peer.slavePath(), ports + QStringLiteral("/COM4"))) {
        std::fprintf(stderr, "cannot create the COM4 link\n");
        return 1;
    }

    FakeDialogs dialogs;
    Form1 w(kTamrixProfile, nullptr, &dialogs);

    // Round trips, alternating blocks so that drift hits both sides alike.
    std::vector<double> window, bare, roundRatios;
    const int rounds = 10;
    const int block = std::max(5, roundTrips / rounds);
    for (int r = 0; r < rounds; ++r) {
        w.OpenCommPort();
        if (!w.PortOpened) {
            std::fprintf(stderr, "cannot open COM4\n");
            return 1;
        }
        std::vector<double> warm;
        windowRoundTrips(w, 10, &warm);
        if (!windowRoundTrips(w, block, &window)) {
            std::fprintf(stderr, "a transaction failed\n");
            return 1;
        }
        w.CloseCommPort();
        warm.clear();
        bareRoundTrips(peer.slavePath(), 10, &warm);
        if (!bareRoundTrips(peer.slavePath(), block, &bare)) {
            std::fprintf(stderr, "a bare round trip failed\n");
            return 1;
        }
        // Ratio of this round's medians: load that comes and goes on a shared
        // machine then hits both sides of the ratio alike.
        roundRatios.push_back(median({window.end() - block, window.end()})
                              / median({bare.end() - block, bare.end()}));
    }

    // Silent board: every transaction waits for its time-out.
    w.OpenCommPort();
    peer.silent = true;
    std::vector<double> waits;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < timeOuts; ++i) {
        QString reply;
        QElapsedTimer t;
        t.start();
        if (w.SendCommand(QStringLiteral("G?"), reply, 100)) {
            std::fprintf(stderr, "a silent board answered\n");
            return 1;
        }
        waits.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double wallS = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    w.CloseCommPort();

    const double mWindow = median(window);
    const double mBare = median(bare);
    const double mWait = median(waits);
    std::printf("round trips: %zu SendCommand, %zu bare QSerialPort\n", window.size(), bare.size());
    std::printf("  median SendCommand      %8.1f us\n", mWindow);
    std::printf("  median bare round trip  %8.1f us\n", mBare);
    std::printf("  ratio of the medians of all round trips  %.3f\n", mWindow / mBare);
    std::printf("  per-round ratios min/max  %.3f / %.3f\n",
                *std::min_element(roundRatios.begin(), roundRatios.end()),
                *std::max_element(roundRatios.begin(), roundRatios.end()));
    std::printf("overhead ratio  (goal <= 1.5)        %.3f   (median of %d per-round ratios)\n",
                median(roundRatios), rounds);
    std::printf("time-outs: %d, %.3f s wall, %.4f s CPU\n", timeOuts, wallS, cpu);
    std::printf("waiting cost    (goal < 0.02)        %.4f\n", cpu / wallS);
    std::printf("  time-out min/median/max  %.2f / %.2f / %.2f ms\n",
                *std::min_element(waits.begin(), waits.end()), mWait,
                *std::max_element(waits.begin(), waits.end()));
    std::printf("time-out ratio  (goal 1.0 .. 1.05)   %.4f\n", mWait / 100.0);
    return 0;
}
