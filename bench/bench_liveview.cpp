// The live view over a long run: 72 hours of two channels at 1200 sps fed
// straight into the view's history (no port), then its resident memory and
// the time to paint the whole run against painting ten seconds of it.
//
//   bench_liveview [hours] [picture.png]    (default 72 hours; the picture
//   is the window showing the whole run)

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <vector>

#include "app/Form1.h"
#include "liveview/LiveViewWindow.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"

namespace {

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Best of a few repaints of the chart, in seconds.
double paintSeconds(LiveViewWindow& v, int span)
{
    v.SpanList->setCurrentIndex(span);
    v.Refresh();
    double best = 1e9;
    for (int k = 0; k < 5; ++k) {
        QElapsedTimer t;
        t.start();
        v.Chart->repaint();
        best = std::min(best, t.nsecsElapsed() * 1e-9);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double hours = argc > 1 ? std::max(0.01, atof(argv[1])) : 72;
    constexpr double kRate = 1200;
    const qint64 records = qint64(hours * 3600 * kRate);

    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, new FakeCommPort, &dialogs);
    w.ShowLiveView();
    LiveViewWindow& v = *w.LiveView();
    v.resize(1000, 600);
    QCoreApplication::processEvents();

    const long before = rssKiB();
    StreamInfo info;
    info.header.channelMode = 2;
    info.header.hex = true;
    info.samplesPerSecond = kRate;
    v.Stream().Begin(info);
    // Codes around mid-scale with a slow wave and some noise.
    std::vector<double> chunk(2 * 12000);
    unsigned noise = 1;
    QElapsedTimer feed;
    feed.start();
    for (qint64 done = 0; done < records;) {
        const qint64 n = std::min<qint64>(12000, records - done);
        for (qint64 i = 0; i < n; ++i) {
            noise = noise * 1103515245u + 12345u;
            const double wave = double((done + i) / 600 % 2000);
            chunk[size_t(2 * i)] = 8388608 + wave + (noise >> 24);
            chunk[size_t(2 * i + 1)] = 8388608 - wave + (noise >> 25);
        }
        v.Stream().AppendValues(chunk.data(), n);
        done += n;
    }
    const double feedSeconds = feed.nsecsElapsed() * 1e-9;
    const long after = rssKiB();
    v.Stream().Finish(records);

    const double frame = 1.0 / 60.0;
    const double paintTen = paintSeconds(v, 0);
    const double paintAll = paintSeconds(v, int(LiveViewWindow::Spans().size()) - 1);
    const double historyMiB = double(v.Stream().MemoryBytes()) / (1 << 20);
    const double rssMiB = double(after - before) / 1024.0;

    std::printf("%.1f h at %.0f sps, 2 channels: %lld records fed in %.1f s\n", hours, kRate,
                static_cast<long long>(records), feedSeconds);
    std::printf("history    %.1f MiB held, %.1f MiB resident growth  (goal < 64)\n", historyMiB,
                rssMiB);
    std::printf("paint all  %.3f frames  (goal < 0.25); 10 s %.3f frames; all / 10 s %.2f\n",
                paintAll / frame, paintTen / frame, paintAll / std::max(paintTen, 1e-9));
    if (argc > 2)
        v.grab().save(QString::fromLocal8Bit(argv[2]));
    return 0;
}
