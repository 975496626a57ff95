// vexlo-cli sweep: what a cell costs beyond its measuring time, against the
// board simulator paced at 100 sps on a pseudo-terminal of this program.
// One cell's wall time comes from the difference of two sweeps (1 cell and
// N cells, same process start and connection check); the measuring time is a
// minimal reader's wall time for the same block on the same board. Prints:
//
//   cell overhead = (cell time - minimal block time) / minimal block time
//                   (settings with read-back, settling records, start, the
//                   end of the stream and the figures)          goal < 0.05
//
// Usage: bench_sweep [records=1000] [cells=3]
// (about (cells + 2) x records / 100 s: 50 s with the defaults)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "bench/StreamBench.h"
#include "sim/PtyBoard.h"

using namespace vexlo::sim;

namespace {

// Wall time of one vexlo-cli run in seconds; < 0 when it failed.
double runCli(const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(VEXLO_CLI_PROGRAM), args);
    if (!p.waitForFinished(3600000))
        p.kill();
    const double wall = t.nsecsElapsed() * 1e-9;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? wall : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? qBound(100, atoi(argv[1]), 65000) : 1000;
    const int cells = argc > 2 ? qBound(2, atoi(argv[2]), 6) : 3;

    QTemporaryDir cfg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
    auto board = bench::StartStreamBoard(RateMode::Paced);
    if (!board)
        return 1;
    board->setBoardState({true, 4, 0, 5}); // 100 sps

    const bench::ReaderRun minimal = bench::RunMinimalReader(board->slavePath(), records);
    const QStringList gains{"1", "8", "16", "32", "64", "128"};
    const auto sweep = [&](int n) {
        return runCli({"sweep", "--com", "4", "--rates", "100sps", "--gains", gains.mid(0, n).join(u','),
                       "--count", QString::number(records), "--channel", "both", "--format", "mv", "--quiet"});
    };
    const double one = sweep(1);
    const double many = sweep(cells);
    board.reset();
    if (!minimal.ok || one < 0 || many < 0) {
        std::fprintf(stderr, "a run failed (minimal %d, 1 cell %.2f, %d cells %.2f)\n", minimal.ok, one, cells, many);
        return 1;
    }
    const double cell = (many - one) / (cells - 1);
    const double settling = 4 / 100.0; // the default --settle at 100 sps
    std::printf("minimal block of %d records at 100 sps: %.3f s; sweep of 1 cell %.3f s, of %d cells %.3f s\n",
                records, minimal.wall, one, cells, many);
    std::printf("one cell %.3f s: %.3f s beyond the block, of which %.3f s settling records\n", cell,
                cell - minimal.wall, settling);
    std::printf("cell overhead  %.4f  (goal < 0.05)\n", (cell - minimal.wall) / minimal.wall);
    return 0;
}
