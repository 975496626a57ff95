// Sample stream throughput and cost, measured in one run against the board
// simulator serving a pseudo-terminal from a thread of this program. The
// window runs on the offscreen platform. Prints:
//
//   flood      = the window's records/s / a minimal QSerialPort reader's
//                records/s, 65535 two-channel millivolt records flooded
//                through the pty (best of the rounds)             goal >= 0.5
//   paced cpu  = (window CPU / wall) / (minimal reader CPU / wall) on the
//                same block paced at 115200 baud (main thread only; the
//                simulator's thread is not counted)                goal <= 3
//   line rate  = wire time of the paced block / time from start command
//                to block complete in the window                  goal >= 0.99
//   graph      = end of block (statistics, status, graph recorded) for
//                65535 two-channel samples, in 60 Hz frames        goal < 3
//   memory     = peak resident memory with a full block - idle    goal < 16 MiB
//
// Usage: bench_stream [paced-records=6000] [flood-rounds=3]
// (65535 paced records take 108 s per side at 115200 baud.)

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>

#include "bench/StreamBench.h"
#include "bench/WindowBench.h"
#include "support/FakeDialogs.h"
#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "measure/PictureBox.h"
#include "sim/PtyBoard.h"

using namespace vexlo::sim;

namespace {

constexpr int kBlock = 65535;
using bench::kRecordBytes;
using bench::WindowRun;
using bench::connectWindow;
using bench::runWindow;
using bench::toWindowRun;
using bench::procStatusKiB;

void resetPeakRss()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int pacedRecords = argc > 1 ? qBound(100, atoi(argv[1]), kBlock) : 6000;
    const int floodRounds = argc > 2 ? qBound(1, atoi(argv[2]), 20) : 3;

    QTemporaryDir cfg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
    FakeDialogs dialogs;

    // ---- flood, memory and graph ------------------------------------------
    auto board = bench::StartStreamBoard(RateMode::Flood);
    if (!board)
        return 1;
    double bestWindow = 1e9, bestMinimal = 1e9, windowCpu = 0, minimalCpu = 0, memDeltaMiB = -1, graphFrames = -1,
           paintFrames = -1;
    {
        Form1 w(kVexloDemoProfile, nullptr, &dialogs);
        w.show();
        if (!connectWindow(w)) {
            std::fprintf(stderr, "connection check failed: %s\n", qPrintable(w.Status->text()));
            return 1;
        }
        QCoreApplication::processEvents();
        const long idleKiB = procStatusKiB("VmRSS:");
        resetPeakRss();
        for (int round = 0; round < floodRounds; ++round) {
            const WindowRun r = runWindow(w, kBlock);
            if (!r.ok) {
                std::fprintf(stderr, "flood run failed: %d records, %s\n", w.RecvCount,
                             qPrintable(w.Status->text()));
                return 1;
            }
            if (r.wall < bestWindow)
                windowCpu = r.cpu;
            bestWindow = std::min(bestWindow, r.wall);
            QCoreApplication::processEvents();
            if (round == 0) {
                const long peakKiB = procStatusKiB("VmHWM:");
                memDeltaMiB = double(peakKiB - idleKiB) / 1024.0;
            }
        }
        // End of block again on the block now held: statistics, status line,
        // graph recorded; then the first repaint of the reduced picture.
        double best = 1e9, bestPaint = 1e9;
        for (int k = 0; k < 5; ++k) {
            QElapsedTimer t;
            t.start();
            const QString text = w.PeakToPeakText();
            w.Status->setText(QStringLiteral("測定終了... ") + text);
            w.Graph();
            best = std::min(best, t.nsecsElapsed() * 1e-9);
            w.Picture1->repaint();
            bestPaint = std::min(bestPaint, t.nsecsElapsed() * 1e-9);
        }
        graphFrames = best / (1.0 / 60.0);
        paintFrames = bestPaint / (1.0 / 60.0);
        std::printf("graph lines recorded: %zu, painted: %d\n", w.Picture1->Lines().size(),
                    w.Picture1->PaintedLineCount());
        w.Button1_Click(); // close the port
    }
    for (int round = 0; round < floodRounds; ++round) {
        const WindowRun r = toWindowRun(bench::RunMinimalReader(board->slavePath(), kBlock, 300000));
        if (!r.ok) {
            std::fprintf(stderr, "minimal flood run failed\n");
            return 1;
        }
        if (r.wall < bestMinimal)
            minimalCpu = r.cpu;
        bestMinimal = std::min(bestMinimal, r.wall);
    }
    board.reset();

    // ---- paced at 115200 baud ---------------------------------------------
    board = bench::StartStreamBoard(RateMode::Line);
    if (!board)
        return 1;
    WindowRun paced, minimalPaced;
    {
        Form1 w(kVexloDemoProfile, nullptr, &dialogs);
        w.show();
        if (!connectWindow(w))
            return 1;
        paced = runWindow(w, pacedRecords);
        w.Button1_Click();
    }
    minimalPaced = toWindowRun(bench::RunMinimalReader(board->slavePath(), pacedRecords, 300000));
    board.reset();
    if (!paced.ok || !minimalPaced.ok) {
        std::fprintf(stderr, "paced run failed\n");
        return 1;
    }

    const double wire = double(pacedRecords) * kRecordBytes * 10.0 / 115200.0;
    const double floodRatio = bestMinimal / bestWindow;
    const double cpuWindow = paced.cpu / paced.wall;
    const double cpuMinimal = minimalPaced.cpu / minimalPaced.wall;
    const double cpuRatio = cpuWindow / std::max(cpuMinimal, 1e-6);
    const double lineRate = wire / paced.wall;

    std::printf("flood: window %.1f ms (%.1f ms CPU), minimal reader %.1f ms (%.1f ms CPU) "
                "for %d records (best of %d)\n",
                bestWindow * 1e3, windowCpu * 1e3, bestMinimal * 1e3, minimalCpu * 1e3, kBlock,
                floodRounds);
    std::printf("paced: %d records, wire %.2f s; window %.2f s wall, %.3f CPU/wall; "
                "minimal %.2f s wall, %.3f CPU/wall\n",
                pacedRecords, wire, paced.wall, cpuWindow, minimalPaced.wall, cpuMinimal);
    std::printf("flood      %.2f  (goal >= 0.5)\n", floodRatio);
    std::printf("paced cpu  %.2f  (goal <= 3)\n", cpuRatio);
    std::printf("line rate  %.3f  (goal >= 0.99)\n", lineRate);
    std::printf("graph      %.2f frames (%.2f with the first repaint)  (goal < 3)\n", graphFrames,
                paintFrames);
    std::printf("memory     %.1f MiB  (goal < 16)\n", memDeltaMiB);
    return 0;
}
