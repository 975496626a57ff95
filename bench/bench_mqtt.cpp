// vexlo-cli log --mqtt against a local mosquitto (a broker of its own on a
// free loopback port, as the tests start it), measured in one run against the
// board simulator. Prints:
//
//   mqtt flood   = records/s of `log --count M --mqtt` (end to end: the last
//                  acknowledgement awaited) / records/s of `log --count M` to
//                  the file alone, both in flood mode          goal >= 0.8
//   latency      = median over the records of a paced 1200 sps log of the
//                  time a subscriber (mosquitto_sub) receives the record minus
//                  the record's time (start + index / rate)    goal < 300 ms
//
// Usage: bench_mqtt [flood-records=262140] [paced-records=6000]

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/StreamBench.h"
#include "support/TestBroker.h"

using namespace vexlo::sim;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int flood = argc > 1 ? qBound(1000, atoi(argv[1]), 10000000) : 262140;
    const int paced = argc > 2 ? qBound(1200, atoi(argv[2]), 1000000) : 6000;
    const QString cli = QStringLiteral(VEXLO_CLI_PROGRAM);

    QTemporaryDir cfg, out;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cfg.path()));
    const QString file = out.filePath(QStringLiteral("b.csv"));
    TestBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(broker.error));
        return 1;
    }
    const QString url = QStringLiteral("mqtt://127.0.0.1:%1/bench").arg(broker.port);
    const QStringList log{"log", "--com", "4", "--channel", "both", "--format", "mv", "--quiet", "-o", file};

    // ---- flood: file alone, then file and broker ---------------------------
    auto board = bench::StartStreamBoard(RateMode::Flood);
    if (!board)
        return 1;
    const QStringList count{"--count", QString::number(flood)};
    const bench::ProgramRun fileOnly = bench::RunProgram(cli, log + count);
    const bench::ProgramRun withMqtt = bench::RunProgram(cli, log + count + QStringList{"--mqtt", url});
    board.reset();

    // ---- latency at 1200 sps ------------------------------------------------
    QProcess sub;
    const QStringList at{"-h", "127.0.0.1", "-p", QString::number(broker.port), "-q", "1"};
    sub.start(TestBroker::program("mosquitto_sub"), at + QStringList{"-t", "bench/#", "-F", "%U %t %p"});
    QByteArray got;
    for (int i = 0; i < 100 && !got.contains("bench/probe"); ++i) {
        QProcess::execute(TestBroker::program("mosquitto_pub"), at + QStringList{"-t", "bench/probe", "-m", "p"});
        sub.waitForReadyRead(100);
        got += sub.readAllStandardOutput();
    }
    board = bench::StartStreamBoard(RateMode::Paced);
    if (!board)
        return 1;
    // One hex channel: 7 bytes a record, 1200 sps fit the line (both channels in mV would not).
    const bench::ProgramRun pacedRun = bench::RunProgram(
        cli, QStringList{"log", "--com", "4", "--quiet", "-o", file, "--count", QString::number(paced), "--mqtt",
                         url + QStringLiteral("/paced")});
    board.reset();
    for (int i = 0; i < 50 && !got.contains("\"records\":" + QByteArray::number(paced)); ++i) {
        sub.waitForReadyRead(100);
        got += sub.readAllStandardOutput();
    }
    sub.terminate();
    sub.waitForFinished();

    std::vector<double> latencyMs;
    for (const QByteArray& line : got.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3 || parts[1] != "bench/paced/data")
            continue;
        const double received = parts[0].toDouble();
        const QJsonObject b = QJsonDocument::fromJson(line.mid(parts[0].size() + parts[1].size() + 2)).object();
        const double t0 = QDateTime::fromString(b["time"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch() / 1000.0;
        const double rate = b["rate"].toDouble();
        for (int i = 0; i < b["count"].toInt(); ++i)
            latencyMs.push_back((received - (t0 + i / rate)) * 1000.0);
    }
    if (!fileOnly.ok || !withMqtt.ok || !pacedRun.ok || latencyMs.size() < size_t(paced)) {
        std::fprintf(stderr, "a run failed (file %d, mqtt %d, paced %d, %zu of %d records delivered)\n", fileOnly.ok,
                     withMqtt.ok, pacedRun.ok, latencyMs.size(), paced);
        return 1;
    }
    std::sort(latencyMs.begin(), latencyMs.end());
    const double median = latencyMs[latencyMs.size() / 2];
    std::printf("flood: log %d records: file alone %.2f s, with --mqtt %.2f s (CPU %.2f s vs %.2f s)\n", flood,
                fileOnly.wall, withMqtt.wall, fileOnly.cpu, withMqtt.cpu);
    std::printf("paced 1200 sps: %zu records delivered, latency median %.0f ms, 95th %.0f ms\n", latencyMs.size(),
                median, latencyMs[latencyMs.size() * 95 / 100]);
    std::printf("mqtt flood   %.2f  (goal >= 0.8)\n", fileOnly.wall / withMqtt.wall);
    std::printf("latency      %.2f  of 300 ms (goal < 1)\n", median / 300.0);
    return 0;
}
