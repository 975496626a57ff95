// vexlo-cli end to end: the program run as a process against the board
// simulator on a real pty (linked as COM4). Its files are compared byte for
// byte (but the date line) with the file the real window saves for the same
// board state and samples (same simulator seed); faults end with their exit
// code, the window's message and every record received kept.

#include <QtTest>

#include <QtWidgets>
#include <csignal>
#include <sys/resource.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeDialogs.h"
#include "support/SimFixture.h"

using namespace vexlo::sim;

namespace {

struct Run { int exit = -1; QByteArray out, err; };

// Runs vexlo-cli; `during` (optional) is called once the process runs,
// `inChild` (optional) in the child before the program starts.
Run cli(const QStringList& args, const std::function<void(QProcess&)>& during = {}, int ms = 60000,
        const std::function<void()>& inChild = {})
{
    QProcess p;
    if (inChild)
        p.setChildProcessModifier(inChild);
    p.start(QStringLiteral(VEXLO_CLI_PROGRAM), args);
    Run r;
    if (!p.waitForStarted(5000))
        return r;
    if (during)
        during(p);
    if (!p.waitForFinished(ms))
        p.kill();
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstCli : public QObject {
    Q_OBJECT
private slots:
    void sameFileAsWindow_data();
    void sameFileAsWindow();
    void infoAndSet();
    void logPastOneBlockUntilSigint();
    void faults_data();
    void faults();
    void analyzeSpan_data();
    void analyzeSpan();
};

void TstCli::sameFileAsWindow_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("gain");
    QTest::addColumn<bool>("toStdout");
    QTest::newRow("hex CH0") << true << 0 << 100 << 3 << false;
    QTest::newRow("hex both") << true << 2 << 300 << 0 << false;
    QTest::newRow("mV CH1") << false << 1 << 200 << 1 << false;
    QTest::newRow("mV both, to stdout") << false << 2 << 500 << 4 << true;
}

// Catches a tool whose file differs from the window's by a byte (header,
// cells, line ends, stdout), --stats figures other than the window's, and
// analyze reading the saved file to figures other than those --stats printed.
void TstCli::sameFileAsWindow()
{
    QFETCH(bool, hex);
    QFETCH(int, mode);
    QFETCH(int, count);
    QFETCH(int, gain);
    QFETCH(bool, toStdout);
    const PtyOptions board{Model::Tamrix, 4, RateMode::Flood, 7, {true, 4, gain, 10}, {}};
    QTemporaryDir dir;
    QByteArray window, tool, stats;
    QString status;
    {
        SimFixture sim;
        QVERIFY2(sim.start(board), qPrintable(sim.error));
        FakeDialogs dialogs;
        Form1 w(kVexloDemoProfile, nullptr, &dialogs);
        w.Option_CM->click();
        w.Button1_Click();
        (hex ? w.Option1 : w.Option2)->setChecked(true);
        w.Combo2->SetListIndex(mode);
        w.Text1->setText(QString::number(count));
        w.SendB2_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Measuring, 20000);
        status = w.Status->text();
        QVERIFY(w.SaveDataFile(dir.filePath("w.csv")));
        window = fileBytes(dir.filePath("w.csv"));
    }
    {
        SimFixture sim;
        QVERIFY2(sim.start(board), qPrintable(sim.error));
        const QString out = toStdout ? QStringLiteral("-") : dir.filePath("c.csv");
        const Run r = cli({"acquire", "--com", "4", "--channel", mode == 2 ? "both" : QString::number(mode),
                           "--format", hex ? "hex" : "mv", "--count", QString::number(count), "-o", out, "--stats"});
        QVERIFY2(r.exit == 0, r.err.constData());
        stats = toStdout ? r.err : r.out;
        tool = toStdout ? r.out : fileBytes(out);
    }
    QList<QByteArray> a = window.split('\n'), b = tool.split('\n');
    QCOMPARE(a.size(), count + 9); // 8 header lines, rows, "" after the last CR LF
    a.removeAt(1);
    b.removeAt(1);
    QCOMPARE(b, a);
    // --stats (on standard error when the data goes to standard output): the
    // window's peak-to-peak line, then the noise table's header of
    // tab-separated columns (9 for codes, 7 for millivolts) and one row per channel.
    const QStringList s = QString::fromUtf8(stats).split(u'\n', Qt::SkipEmptyParts);
    const QStringList names = mode == 2 ? QStringList{"CH0", "CH1"} : QStringList{mode ? "CH1" : "CH0"};
    QCOMPARE(s.size(), 2 + names.size());
    QCOMPARE(QStringLiteral("測定終了... ") + s[0], status);
    QVERIFY2(s[1].startsWith(QStringLiteral("CH\tデータ個数\t")), qPrintable(s[1]));
    for (int i = 1; i < s.size(); ++i)
        QVERIFY2(s[i].count(u'\t') == (hex ? 8 : 6) && (i == 1 || s[i].startsWith(names[i - 2] + u'\t' + QString::number(count) + u'\t')),
                 qPrintable(s[i]));
    const QString saved = dir.filePath("saved.csv");
    QFile f(saved);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(tool) == tool.size());
    f.close();
    const Run analyzed = cli({"analyze", saved});
    QVERIFY2(analyzed.exit == 0 && analyzed.err.isEmpty(), analyzed.err.constData());
    // A millivolt file keeps three decimals of the board's texts: the same
    // table, its figures those of the stored values.
    if (hex)
        QVERIFY2(analyzed.out.startsWith(stats), (stats + "---\n" + analyzed.out).constData());
    QCOMPARE(analyzed.out.split('\n').value(1), stats.split('\n').value(1));
    for (const QString& name : names)
        QVERIFY(analyzed.out.contains((u'\n' + name + u'\t' + QString::number(count) + u'\t').toUtf8()));
}

// Catches info reading the wrong reply or naming a code wrongly (text and
// JSON), and set not reaching the board.
void TstCli::infoAndSet()
{
    SimFixture sim;
    QVERIFY2(sim.start({Model::Tamrix, 4, RateMode::Flood, 1, {true, 4, 3, 10}, {}}), qPrintable(sim.error));
    Run r = cli({"info", "--com", "4"});
    QCOMPARE(r.exit, 0);
    QVERIFY2(r.out.contains("board: VEXLO TAMRIX 1.00\n") && r.out.contains("filter: BUF ON / Sinc4\n")
                 && r.out.contains("gain: Gain=32\n") && r.out.contains("rate: 1200sps\n"),
             r.out.constData());
    QCOMPARE(sim.board->commands(), (QList<QByteArray>{"", "?", "S?", "G?", "F?", ""}));

    r = cli({"info", "--json", "--com", "COM4"});
    QCOMPARE(r.exit, 0);
    const QJsonObject j = QJsonDocument::fromJson(r.out).object();
    QCOMPARE((QStringList{j.value("gain").toString(), QString::number(j.value("gainCode").toInt()), j.value("rate").toString(),
                          j.value("filter").toString(), j.value("settings").toString()}),
             (QStringList{"Gain=32", "3", "1200sps", "BUF ON / Sinc4", "115200,N,8,1"}));

    sim.board->clearLog();
    r = cli({"set", "--com", "4", "--gain", "Gain=8", "--rate", "10sps"});
    QVERIFY2(r.exit == 0, r.err.constData());
    QVERIFY(sim.board->boardState().gainCode == 1 && sim.board->boardState().rateCode == 1);
}

// Catches a log that stops at the block's 65535 rows, a count line that
// disagrees with the rows, and SIGINT that leaves the board streaming.
void TstCli::logPastOneBlockUntilSigint()
{
    SimFixture sim;
    QVERIFY2(sim.start(Model::Tamrix, 4, RateMode::Flood), qPrintable(sim.error));
    QTemporaryDir dir;
    const QString path = dir.filePath("log.csv");
    const Run r = cli({"log", "--com", "4", "--format", "hex", "-o", path, "--quiet"}, [&](QProcess& p) {
        // 8 header lines + 7 + 2 bytes each: well past one block of 65535 rows.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 80000 * 9, 60000);
        ::kill(pid_t(p.processId()), SIGINT);
    });
    QVERIFY2(r.exit == 0, r.err.constData());
    const QList<QByteArray> lines = fileBytes(path).split('\n');
    const qsizetype rows = lines.size() - 9;
    QVERIFY(rows > 65535);
    QVERIFY(lines[6].startsWith(QByteArray::fromHex("8366815B835E8CC29094203A2020")));
    QCOMPARE(lines[6].mid(14).trimmed().toLongLong(), rows);
    for (qsizetype i = 8; i < lines.size() - 1; ++i)
        QVERIFY2(QRegularExpression("^[0-9A-F]{6}\r$").match(QString::fromLatin1(lines[i])).hasMatch(),
                 lines[i].constData());
    QVERIFY(sim.board->commands().contains("A00000") && sim.board->commands().contains("AX"));
}

void TstCli::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rows");  // rows in the file afterwards; -1: no file
    const QStringList block{"acquire", "--com", "4", "--count", "2000", "-o", "@/f.csv"}, info{"info", "--com", "4"};
    QTest::newRow("silent board") << "silent" << info << 3 << "Vexloが応答しませんでした" << -1;
    QTest::newRow("garbage replies") << "garbage" << info << 3 << "Vexloの応答エラーです" << -1;
    QTest::newRow("refused start") << "refuse" << block << 4 << "測定開始エラー... " << -1;
    QTest::newRow("hang-up mid-block") << "hangup" << block << 5 << "COMポートが切断されました" << 700;
    QTest::newRow("stream stalls") << "cut" << block << 3 << "Vexloが応答しませんでした" << 300;
    QTest::newRow("unwritable file") << "" << QStringList{"acquire", "--com", "4", "--count", "10", "-o", "@/none/f.csv"}
                                     << 6 << "データファイルを保存出来ませんでした" << -1;
    QTest::newRow("no such port") << "" << QStringList{"info", "--port", "@/nothing"} << 5 << "COM Open 失敗 ..." << -1;
    QTest::newRow("COM17") << "" << QStringList{"info", "--com", "COM17"} << 2 << "COM番号は1から16です" << -1;
    QTest::newRow("count too large") << "" << QStringList{"acquire", "--count", "65536", "-o", "-"} << 2
                                     << "データ個数が正しくありません" << -1;
    // Catches analyze taking a program, a folder or a bad span bound for a data file.
    QTest::newRow("analyze a program") << "" << QStringList{"analyze", VEXLO_CLI_PROGRAM} << 7 << "not a data file" << -1;
    QTest::newRow("analyze a folder") << "" << QStringList{"analyze", "@"} << 7 << "not a plain file" << -1;
    QTest::newRow("analyze --from yesterday") << "" << QStringList{"analyze", "@/f.csv", "--from", "yesterday"} << 2
                                              << "--from: a record index" << -1;
    QTest::newRow("SIGINT mid-block") << "sigint" << block << 130 << "測定停止しました" << 0;
    const QStringList log{"log", "--com", "4", "--count", "3000", "-o", "@/f.csv"};
    // Catches: a full disk leaving a torn last row or a count of rows never written.
    // 161 header bytes, rows of 8: a 20000-byte file holds 2479 whole rows.
    QTest::newRow("log, disk full") << "fsize" << log << 6
                                    << "データファイルを保存出来ませんでした\n@/f.csv: File too large" << 2479;
    // Catches: an earlier log cut to its header before the board accepted the start.
    QTest::newRow("log, refused start, earlier file") << "refuse" << log << 4 << "測定開始エラー... " << -2;
    // Catches: a stalled disk write holding up the port's reader (records lost or late).
    QTest::newRow("log, writer stalls 2 s") << "stall" << log << 0 << "3000 records" << 3000;
    QTest::newRow("log, writer stalls, flood") << "stall flood" << QStringList{"log", "--com", "4", "--count", "40000", "-o", "@/f.csv"}
                                               << 0 << "40000 records" << 40000;
    // Catches: a time column off the start time + index / data rate, or missing its header.
    QTest::newRow("log --time") << "" << QStringList{"log", "--com", "4", "--count", "1200", "--time", "-o", "@/f.csv"}
                                << 0 << "1200 records" << 1200;
}

// Catches a fault ending with the wrong exit code or message, a file left
// where none belongs, and received rows lost or miscounted.
void TstCli::faults()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, message);
    QFETCH(int, rows);
    Faults f;
    f.silent = fault == u"silent";
    f.garbage = fault == u"garbage";
    f.refuseStart = fault == u"refuse";
    f.hangupAfterRecords = fault == u"hangup" ? 700 : -1;
    f.cutAfterRecords = fault == u"cut" ? 300 : -1;
    SimFixture sim;
    // 1200 sps paced: 2000 records take well over a second.
    QVERIFY2(sim.start({Model::Tamrix, 4, RateMode::Paced, 1, {true, 4, 0, 10}, f}), qPrintable(sim.error));
    QTemporaryDir dir;
    args.replaceInStrings(QStringLiteral("@"), dir.path());
    message.replace(u'@', dir.path());
    const QString file = dir.filePath("f.csv");
    const QByteArray earlier = "an earlier log\r\n";
    if (rows == -2) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size());
    }
    // The writer waits while the gate file exists, as on a disk that stalls.
    const QString gate = dir.filePath("gate");
    if (fault.startsWith(u"stall")) {
        QFile(gate).open(QIODevice::WriteOnly);
        qputenv("VEXLO_LOG_WRITER_GATE", QFile::encodeName(gate));
    }
    const Run r = cli(args, [&](QProcess& p) {
        if (fault == u"sigint") {
            QTest::qWait(800);
            ::kill(pid_t(p.processId()), SIGINT);
        }
        if (fault.startsWith(u"stall")) {
            // 2 s of records at 1200 sps; in flood, three times what a pty
            // holds, so the port was read all through the stall.
            if (fault.endsWith(u"flood"))
                sim.board->setRateMode(RateMode::Flood);
            QTRY_VERIFY_WITH_TIMEOUT(sim.board->recordsWritten() >= (fault.endsWith(u"flood") ? 30000 : 2400), 30000);
            QCOMPARE(fileBytes(file).count('\n'), 8); // nothing written yet
            QFile::remove(gate);
        }
    }, 60000, [&] {
        if (fault == u"fsize") {
            ::signal(SIGXFSZ, SIG_DFL); // the program itself must ignore it
            const rlimit limit{20000, 20000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
    qunsetenv("VEXLO_LOG_WRITER_GATE");
    QCOMPARE(r.exit, exit);
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    if (rows == -2)
        QCOMPARE(fileBytes(file), earlier);
    if (rows < 0) {
        QVERIFY(rows == -2 || !QFileInfo::exists(file));
        return;
    }
    const QByteArray bytes = fileBytes(file);
    QVERIFY(bytes.endsWith("\r\n")); // no torn row
    const QList<QByteArray> lines = bytes.split('\n');
    const qsizetype got = lines.size() - 9;
    if (rows == 0)
        QVERIFY(got > 0 && got < 2000);
    else
        QCOMPARE(got, qsizetype(rows));
    QCOMPARE(lines[6].mid(14).trimmed().toLongLong(), got); // the count line tells the truth
    if (fault == u"sigint")
        QVERIFY(sim.board->commands().contains("AX"));
    if (args.contains("--time")) {
        // "時刻," heads the columns; rows 1, 6, 600, 1199 at 1200 sps are
        // 0.83 -> 1, 5, 500 and 999.17 -> 999 ms after row 0.
        QVERIFY(lines[7].startsWith(QByteArray::fromHex("8E9E8D8F2C")));
        const auto at = [&](int row) {
            return QDateTime::fromString(QString::fromLatin1(lines[8 + row].left(23)), "yyyy-MM-dd'T'HH:mm:ss.zzz");
        };
        QVERIFY(at(0).isValid() && lines[8].at(23) == ',');
        QCOMPARE((QList<qint64>{at(0).msecsTo(at(1)), at(0).msecsTo(at(6)), at(0).msecsTo(at(600)), at(0).msecsTo(at(1199))}),
                 (QList<qint64>{1, 5, 500, 999}));
    }
}

void TstCli::analyzeSpan_data()
{
    QTest::addColumn<bool>("times");        // the recorder's time column
    QTest::addColumn<QStringList>("span");
    QTest::addColumn<QString>("expected");  // the span line; the mean of codes 3, 4, 5 is 4
    const QString rows35 = QStringLiteral("span: records 3 to 5 (3 of 10)");
    // Catches a bound taken inclusive at the end or exclusive at the start.
    QTest::newRow("indexes") << false << QStringList{"--from", "3", "--to", "6"} << rows35;
    // Catches offsets measured by the data rate where the file has times (rows are 100 ms apart, rate 5sps says 200 ms).
    QTest::newRow("offsets, time column") << true << QStringList{"--from", "0.3s", "--to=600ms"}
                                          << rows35 + ", 2026-01-31T23:59:59.950 to 2026-02-01T00:00:00.150";
    // Catches offsets without a time column not following the data rate.
    QTest::newRow("offsets by rate") << false << QStringList{"--from", "600ms", "--to", "1200ms"} << rows35;
    // Catches local times compared wrongly across midnight.
    QTest::newRow("local times") << true << QStringList{"--from", "2026-01-31T23:59:59.950", "--to", "2026-02-01T00:00:00.200"}
                                 << rows35 + ", 2026-01-31T23:59:59.950 to 2026-02-01T00:00:00.150";
}

void TstCli::analyzeSpan()
{
    QFETCH(bool, times);
    QFETCH(QStringList, span);
    QFETCH(QString, expected);
    // The header's labels as Shift-JIS bytes, rate 5sps, ten rows 100 ms apart from 23:59:59.650.
    QByteArray file = QByteArray::fromHex("8366815b835e") + "\r\n2026/01/31 23:59:59\r\nGain=1\r\n"
                      + QByteArray::fromHex("83748342838b835e203a20") + "BUF ON / Sinc4\r\n"
                      + QByteArray::fromHex("8366815b835e838c815b8367203a20") + "5sps\r\n"
                      + QByteArray::fromHex("91aa92e882628267203a20") + "CH0=Ain0-Ain1\r\n"
                      + QByteArray::fromHex("8366815b835e8cc29094203a20") + " 10        \r\n"
                      + (times ? QByteArray::fromHex("8e9e8d8f") + "," : QByteArray()) + "CH0=Ain0-Ain1 [hex]\r\n";
    for (int i = 0; i < 10; ++i) {
        const int ms = 59650 + 100 * i;
        if (times)
            file += (ms < 60000 ? QStringLiteral("2026-01-31T23:59:%1.%2,").arg(ms / 1000).arg(ms % 1000, 3, 10, QChar(u'0'))
                                : QStringLiteral("2026-02-01T00:00:00.%1,").arg(ms - 60000, 3, 10, QChar(u'0'))).toLatin1();
        file += QByteArray::number(i).rightJustified(6, '0') + "\r\n";
    }
    QTemporaryDir dir;
    QFile f(dir.filePath("log.csv"));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    const Run r = cli(QStringList{"analyze", f.fileName()} + span);
    QVERIFY2(r.exit == 0 && r.err.isEmpty(), r.err.constData());
    const QStringList lines = QString::fromUtf8(r.out).split(u'\n');
    QVERIFY2(lines.value(2).startsWith(QStringLiteral("CH0\t3\t4.00\t3\t5\t")), qPrintable(lines.value(2)));
    QCOMPARE(lines.value(4), expected);
}

QTEST_MAIN(TstCli)
#include "tst_cli.moc"
