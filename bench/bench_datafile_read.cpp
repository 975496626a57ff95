// Reading a long data file back: a file of 10 million two-channel millivolt
// rows (written here) read through DataFileReader alone, read into the live
// view's History as the window opens a file (the time to show it whole), and
// `vexlo-cli analyze` of all of it, each against a plain QFile::readLine loop
// over the same file in the same run. Prints the best of a few runs, the
// ratios with their goals, and the resident memory the reading adds.
//
// Usage: bench_datafile_read [rows] [folder]   (default 10000000, the current folder)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

#include "datafile/DataFile.h"
#include "datafile/DataFileReader.h"
#include "stream/History.h"
#include "stream/RecordSink.h"

namespace {

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Counts what it gets and keeps the largest resident size seen.
class CountingSink : public RecordSink {
public:
    bool Begin(const StreamInfo&) override { return true; }
    bool Append(const SampleBlock& rows, int count, qint64) override
    {
        n += count;
        chars += rows.Ch0(count - 1).size();
        peakKiB = std::max(peakKiB, residentKiB());
        return true;
    }
    bool Finish(qint64) override { return true; }
    QString Error() const override { return {}; }
    qint64 n = 0, chars = 0;
    long peakKiB = 0;
};

bool writeFile(const QString& path, qint64 rows)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    DataFileContent c;
    c.title = QStringLiteral("データ");
    c.dateTime = QStringLiteral("2026/01/31 08:15:00");
    c.gainEntry = QStringLiteral("Gain=1");
    c.filterCaption = QStringLiteral("BUF ON / Sinc4");
    c.rateEntry = QStringLiteral("1200sps");
    c.channelEntry = QStringLiteral("CH0 + CH1");
    c.channelList0 = QStringLiteral("CH0=Ain0-Ain1");
    c.channelList1 = QStringLiteral("CH1=Ain2-Ain3");
    c.channelMode = 2;
    c.hex = false;
    QByteArray header;
    if (!EncodeDataFile(c, header))
        return false;
    header.replace(QByteArray(" :  0\r\n"), " :  " + QByteArray::number(rows) + "\r\n");
    f.write(header);
    // Uniform noise of about 0.15 mV RMS on two levels, as millivolt rows look.
    QByteArray chunk;
    quint32 seed = 12345;
    char line[64];
    for (qint64 i = 0; i < rows; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int a = int(seed >> 22) - 512, b = int((seed >> 12) & 1023) - 512;
        const int n = std::snprintf(line, sizeof line, "%d.%03d,-%d.%03d\r\n", 1200 + a / 1000, std::abs(a % 1000),
                                    2 + b / 1000, std::abs(b % 1000));
        chunk.append(line, n);
        if (chunk.size() > (1 << 20)) {
            if (f.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return f.write(chunk) == chunk.size() && f.flush();
}

double plainRead(const QString& path, qint64* lines)
{
    QElapsedTimer t;
    t.start();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint64 n = 0;
    char buf[256];
    while (f.readLine(buf, sizeof buf) > 0)
        ++n;
    *lines = n;
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10000000;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::currentPath();
    QTemporaryDir dir(QDir(base).filePath(QStringLiteral("bench_datafile_read-XXXXXX")));
    const QString path = dir.filePath(QStringLiteral("long.csv"));
    if (!dir.isValid() || rows < 1 || !writeFile(path, rows)) {
        std::fprintf(stderr, "cannot write a file of %lld rows in %s\n", qlonglong(rows), qPrintable(base));
        return 1;
    }
    std::printf("file: %lld two-channel millivolt rows, %.1f MiB\n", qlonglong(rows),
                QFileInfo(path).size() / 1048576.0);

    std::vector<double> plain, reader, history, analyze;
    long growthKiB = 0, historyKiB = 0, analyzeKiB = 0;
    bool ok = true;
    for (int run = 0; run < 3; ++run) {
        qint64 lines = 0;
        plain.push_back(plainRead(path, &lines));
        ok = ok && lines == rows + 8;

        QElapsedTimer t;
        t.start();
        const long before = residentKiB();
        DataFileReader r;
        CountingSink sink;
        ok = ok && r.Open(path) && r.ReadRows(sink) && sink.n == rows && r.Report().Describe().isEmpty();
        reader.push_back(t.nsecsElapsed() / 1e9);
        growthKiB = std::max(growthKiB, sink.peakKiB - before);

        // As the window opens a file: the reader into the history, then the
        // envelope of all of it for a graph 1000 pixels wide.
        t.restart();
        const long beforeHistory = residentKiB();
        {
            DataFileReader hr;
            History h;
            ok = ok && hr.Open(path) && hr.ReadRows(h) && h.Count() == rows && h.Malformed() == 0;
            ok = ok && h.Envelope(0, {0, double(rows - 1)}, 1000).back().used;
            history.push_back(t.nsecsElapsed() / 1e9);
            historyKiB = std::max(historyKiB, residentKiB() - beforeHistory);
        }

        QProcess p;
        t.restart();
        p.start(QStringLiteral(VEXLO_CLI_PROGRAM), {QStringLiteral("analyze"), path});
        ok = ok && p.waitForFinished(-1) && p.exitCode() == 0;
        analyze.push_back(t.nsecsElapsed() / 1e9);
        struct rusage ru {};
        getrusage(RUSAGE_CHILDREN, &ru);
        analyzeKiB = std::max(analyzeKiB, long(ru.ru_maxrss));
        if (run == 0)
            std::printf("%s", p.readAllStandardOutput().constData());
    }
    if (!ok) {
        std::fprintf(stderr, "a reading went wrong\n");
        return 1;
    }
    const double tp = *std::min_element(plain.begin(), plain.end());
    const double tr = *std::min_element(reader.begin(), reader.end());
    const double th = *std::min_element(history.begin(), history.end());
    const double ta = *std::min_element(analyze.begin(), analyze.end());
    std::printf("plain QFile::readLine loop: %.2f s (%.1f M rows/s)\n", tp, rows / tp / 1e6);
    std::printf("DataFileReader, all rows:   %.2f s (%.1f M rows/s)  ratio %.2f (goal <= 2)\n", tr,
                rows / tr / 1e6, tr / tp);
    std::printf("into History (shown whole): %.2f s (%.1f M rows/s)  ratio %.2f (goal <= 2)\n", th,
                rows / th / 1e6, th / tp);
    std::printf("vexlo-cli analyze, all:     %.2f s (%.1f M rows/s)  ratio %.2f (goal <= 3)\n", ta,
                rows / ta / 1e6, ta / tp);
    std::printf("resident memory added while reading: %.1f MiB (goal < 64)\n", growthKiB / 1024.0);
    std::printf("resident memory added with it open in History: %.1f MiB (goal < 64)\n", historyKiB / 1024.0);
    std::printf("vexlo-cli analyze peak resident memory: %.1f MiB\n", analyzeKiB / 1024.0);
    return 0;
}
