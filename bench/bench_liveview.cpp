// The live view, measured in one run:
//
//   latency    = median time from a record's arrival (the receive event that
//                stored it) to the chart's next paint, in 60 Hz frames, for
//                a two-channel block at 1200 sps from the simulator over a
//                pty with the view open                            goal < 2
//   cpu        = (window with the view: main thread CPU / wall) / (minimal
//                reader's CPU / wall) on the same paced block      goal <= 3
//   history    = memory of 72 hours of two channels at 1200 sps fed straight
//                into the view's history (no port)                 goal < 64 MiB
//   paint all  = painting the whole of those 72 hours, in frames   goal < 0.25
//
//   bench_liveview [hours=72] [paced-records=3600] [picture.png]
//   (the picture is the window showing the whole run)

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/Form1.h"
#include "bench/WindowBench.h"
#include "liveview/LiveViewWindow.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"

namespace {

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

// Paint events of the chart: the arrival time of the oldest record not yet
// painted against the time its first paint starts.
struct LatencyProbe : QObject {
    QElapsedTimer clock;
    qint64 waiting = -1;  // ns; -1: everything arrived is painted
    std::vector<double> frames;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && waiting >= 0) {
            frames.push_back((clock.nsecsElapsed() - waiting) * 1e-9 * 60.0);
            waiting = -1;
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double hours = argc > 1 ? std::max(0.01, atof(argv[1])) : 72;
    const int paced = argc > 2 ? std::max(100, atoi(argv[2])) : 3600;

    // ---- paced block at 1200 sps with the view open --------------------------
    QTemporaryDir cfg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
    double latency = -1, cpuRatio = -1;
    {
        auto board = bench::StartStreamBoard(vexlo::sim::RateMode::Paced);
        if (!board)
            return 1;
        FakeDialogs dialogs;
        bench::WindowRun run;
        LatencyProbe probe;
        {
            Form1 w(kVexloDemoProfile, nullptr, &dialogs);
            w.show();
            if (!bench::connectWindow(w)) {
                std::fprintf(stderr, "connection check failed\n");
                return 1;
            }
            w.ShowLiveView();
            w.LiveView()->resize(1000, 600);
            w.LiveView()->Chart->installEventFilter(&probe);
            probe.clock.start();
            QObject::connect(&w, &Form1::RecordsStored, &probe, [&probe] {
                if (probe.waiting < 0)
                    probe.waiting = probe.clock.nsecsElapsed();
            });
            run = bench::runWindow(w, paced);
            w.Button1_Click();
        }
        const bench::WindowRun minimal =
            bench::toWindowRun(bench::RunMinimalReader(board->slavePath(), paced, 300000));
        if (!run.ok || !minimal.ok || probe.frames.empty()) {
            std::fprintf(stderr, "paced run failed\n");
            return 1;
        }
        std::sort(probe.frames.begin(), probe.frames.end());
        latency = probe.frames[probe.frames.size() / 2];
        cpuRatio = (run.cpu / run.wall) / std::max(minimal.cpu / minimal.wall, 1e-6);
        std::printf("paced: %d records at 1200 sps; window %.2f s wall, %.3f CPU/wall; minimal "
                    "%.2f s wall, %.3f CPU/wall; %zu frames painted\n",
                    paced, run.wall, run.cpu / run.wall, minimal.wall, minimal.cpu / minimal.wall,
                    probe.frames.size());
    }
    constexpr double kRate = 1200;
    const qint64 records = qint64(hours * 3600 * kRate);

    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, new FakeCommPort, &dialogs);
    w.ShowLiveView();
    LiveViewWindow& v = *w.LiveView();
    v.resize(1000, 600);
    QCoreApplication::processEvents();

    const long before = bench::procStatusKiB("VmRSS:");
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
    const long after = bench::procStatusKiB("VmRSS:");
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
    std::printf("latency    %.2f frames (median)  (goal < 2)\n", latency);
    std::printf("cpu        %.2f  (goal <= 3)\n", cpuRatio);
    if (argc > 3)
        v.grab().save(QString::fromLocal8Bit(argv[3]));
    return 0;
}
