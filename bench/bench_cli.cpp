// vexlo-cli against a minimal QSerialPort reader, measured in one run against
// the board simulator serving a pseudo-terminal from a thread of this
// program. vexlo-cli runs as a child process (its CPU from the children's
// resource usage); the minimal reader runs on this program's main thread.
// Prints:
//
//   line rate  = wire time of N two-channel millivolt records at 115200 baud
//                / run time of `vexlo-cli acquire` (process start to exit,
//                connection check and file included)          goal >= 0.99
//   paced cpu  = (vexlo-cli CPU / wall) / (minimal reader CPU / wall) on the
//                same paced block                               goal <= 1.5
//   log flood  = records/s of `vexlo-cli log --count M` in flood mode
//                / records/s of the minimal reader              goal >= 0.8
//
// Usage: bench_cli [paced-records=65535] [log-records=262140]
// (65535 paced records take 108 s per side at 115200 baud.)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>

#include "bench/StreamBench.h"
#include "sim/PtyBoard.h"

using namespace vexlo::sim;

namespace {

using bench::kRecordBytes;

using Measured = bench::ProgramRun;

Measured toMeasured(const bench::ReaderRun& r)
{
    return {r.wall, r.cpu, r.ok};
}

Measured runCli(const QStringList& args)
{
    return bench::RunProgram(QStringLiteral(VEXLO_CLI_PROGRAM), args);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int paced = argc > 1 ? qBound(100, atoi(argv[1]), 65535) : 65535;
    const int logged = argc > 2 ? qBound(1000, atoi(argv[2]), 10000000) : 262140;

    QTemporaryDir cfg, out;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
    const QString file = out.filePath(QStringLiteral("b.csv"));

    // ---- paced at 115200 baud -------------------------------------------
    auto board = bench::StartStreamBoard(RateMode::Line);
    if (!board)
        return 1;
    const Measured cliPaced = runCli({"acquire", "--com", "4", "--channel", "both", "--format", "mv",
                                      "--count", QString::number(paced), "-o", file, "--quiet"});
    const Measured minPaced = toMeasured(bench::RunMinimalReader(board->slavePath(), paced));
    board.reset();

    // ---- flood ----------------------------------------------------------
    board = bench::StartStreamBoard(RateMode::Flood);
    if (!board)
        return 1;
    const Measured cliLog = runCli({"log", "--com", "4", "--channel", "both", "--format", "mv",
                                    "--count", QString::number(logged), "-o", file, "--quiet"});
    Measured minFlood;
    double minRecords = 0;
    for (int done = 0; done < logged; done += 65535) {
        const int n = qMin(65535, logged - done);
        const Measured m = toMeasured(bench::RunMinimalReader(board->slavePath(), n));
        if (!m.ok) {
            std::fprintf(stderr, "minimal flood run failed\n");
            return 1;
        }
        minFlood.wall += m.wall;
        minRecords += n;
    }
    board.reset();
    if (!cliPaced.ok || !minPaced.ok || !cliLog.ok) {
        std::fprintf(stderr, "a run failed (cli acquire %d, minimal %d, cli log %d)\n", cliPaced.ok,
                     minPaced.ok, cliLog.ok);
        return 1;
    }

    const double wire = double(paced) * kRecordBytes * 10.0 / 115200.0;
    const double cpuCli = cliPaced.cpu / cliPaced.wall;
    const double cpuMin = minPaced.cpu / minPaced.wall;
    std::printf("paced: %d records, wire %.2f s; vexlo-cli %.2f s wall, %.4f CPU/wall; "
                "minimal %.2f s wall, %.4f CPU/wall\n",
                paced, wire, cliPaced.wall, cpuCli, minPaced.wall, cpuMin);
    std::printf("flood: vexlo-cli log %d records in %.2f s; minimal %.0f records in %.2f s\n", logged,
                cliLog.wall, minRecords, minFlood.wall);
    std::printf("line rate  %.3f  (goal >= 0.99)\n", wire / cliPaced.wall);
    std::printf("paced cpu  %.2f  (goal <= 1.5)\n", cpuCli / std::max(cpuMin, 1e-6));
    std::printf("log flood  %.2f  (goal >= 0.8)\n",
                (logged / cliLog.wall) / (minRecords / minFlood.wall));
    return 0;
}
