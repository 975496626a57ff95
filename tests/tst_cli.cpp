// vexlo-cli end to end: the program run as a process against the board
// simulator on a real pty (linked as COM4). Its files are compared byte for
// byte (but the date line) with the file the real window saves for the same
// board state and samples (same simulator seed); faults end with their exit
// code, the window's message and every record received kept.

#include <QtTest>

#include <QtWidgets>
#include <csignal>
#include <QSerialPort>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeDialogs.h"
#include "support/SimFixture.h"

using namespace vexlo::sim;

namespace {

struct Run { int exit = -1; QByteArray out, err; };

constexpr int kExitFileCode = 6;

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

// Signals the program only while it runs: a finished one has process id 0,
// and kill(0, ...) would signal this test's whole process group.
void Signal(QProcess& p, int sig)
{
    if (p.state() == QProcess::Running && p.processId() > 0)
        ::kill(pid_t(p.processId()), sig);
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
    void sweep_data();
    void sweep();
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
// an Allan deviation on the wrong time scale, and analyze reading the saved
// file to figures other than those --stats printed.
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
    // tab-separated columns (10 for codes, 8 for millivolts) and one row per
    // channel, then the spectrum's table (11 columns) likewise.
    const QStringList s = QString::fromUtf8(stats).split(u'\n', Qt::SkipEmptyParts);
    const QStringList names = mode == 2 ? QStringList{"CH0", "CH1"} : QStringList{mode ? "CH1" : "CH0"};
    QVERIFY(s.size() > 5 + 2 * names.size());
    QCOMPARE(QStringLiteral("測定終了... ") + s[0], status);
    QVERIFY2(s[1].startsWith(QStringLiteral("CH\tデータ個数\t")), qPrintable(s[1]));
    QVERIFY2(s[2 + names.size()].startsWith(QStringLiteral("CH\tノイズフロア [")), qPrintable(s[2 + names.size()]));
    for (int i = 1; i < 3 + 2 * names.size(); ++i) {
        const bool spectrum = i >= 2 + names.size();
        const int row = spectrum ? i - 3 - int(names.size()) : i - 2;
        QVERIFY2(s[i].count(u'\t') == (spectrum ? 10 : hex ? 9 : 7)
                     && (row < 0 || s[i].startsWith(names[row] + u'\t' + (spectrum ? QString() : QString::number(count) + u'\t'))),
                 qPrintable(s[i]));
    }
    // Then the Allan deviation from tau = 1/1200 s, and each channel's minimum.
    const int allan = 3 + 2 * int(names.size());
    QVERIFY2(s[allan].startsWith(QStringLiteral("τ [s]\t")) && s[allan + 1].startsWith("0.000833333\t"), qPrintable(s[allan + 1]));
    QVERIFY2(s.last().startsWith(names.last() + QStringLiteral("\t最小 ")), qPrintable(s.last()));
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
        Signal(p, SIGINT);
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
    QTest::addColumn<QString>("out"); // in standard output ("@pty": the board's device); "": nothing printed
    // --stats prints nothing after a fault or an interrupt: a part of a block is not the block.
    const QStringList block{"acquire", "--com", "4", "--count", "2000", "-o", "@/f.csv", "--stats"},
        info{"info", "--com", "4"}, acquire{"acquire", "-o", "@/f.csv", "--count"}, log{"log", "-o", "@/f.csv", "--count"};
    QTest::newRow("silent board") << "silent" << info << 3 << "Vexloが応答しませんでした" << -1 << "";
    QTest::newRow("garbage replies") << "garbage" << info << 3 << "Vexloの応答エラーです" << -1 << "";
    QTest::newRow("refused start") << "refuse" << block << 4 << "測定開始エラー... " << -1 << "";
    QTest::newRow("hang-up mid-block") << "hangup" << block << 5 << "COMポートが切断されました" << 700 << "";
    QTest::newRow("stream stalls") << "cut" << block << 3 << "Vexloが応答しませんでした" << 300 << "";
    QTest::newRow("unwritable file") << "" << QStringList{"acquire", "--com", "4", "--count", "10", "-o", "@/none/f.csv"}
                                     << 6 << "データファイルを保存出来ませんでした\n@/none/f.csv: No such file or directory" << -1 << "";
    QTest::newRow("no such port") << "" << QStringList{"info", "--port", "@/nothing"} << 5
                                  << "COM Open 失敗 ...\n@/nothing: no such device" << -1 << "";
    QTest::newRow("COM17") << "" << QStringList{"info", "--com", "COM17"} << 2 << "COM番号は1から16です" << -1 << "";
    QTest::newRow("count too large") << "" << QStringList{"acquire", "--count", "65536", "-o", "-"} << 2
                                     << "データ個数が正しくありません" << -1 << "";
    // Catches analyze taking a program, a folder or a bad span bound for a data file.
    QTest::newRow("analyze a program") << "" << QStringList{"analyze", VEXLO_CLI_PROGRAM} << 9 << "not a data file" << -1 << "";
    QTest::newRow("analyze a folder") << "" << QStringList{"analyze", "@"} << 9 << "not a plain file" << -1 << "";
    QTest::newRow("analyze --from yesterday") << "" << QStringList{"analyze", "@/f.csv", "--from", "yesterday"} << 2
                                              << "--from: a record index" << -1 << "";
    // Catches a log started against a broker URL it cannot publish to (a wildcard topic).
    QTest::newRow("bad MQTT URL") << "" << QStringList{"log", "--com", "4", "-o", "@/f.csv", "--mqtt", "mqtt://h/lab/#"}
                                  << 2 << "MQTT URL mqtt://h/lab/#: the topic must be" << -1 << "*";
    QTest::newRow("SIGINT mid-block") << "sigint" << block << 130 << "測定停止しました" << 0 << "";
    const QStringList log3000{"log", "--com", "4", "--count", "3000", "-o", "@/f.csv"};
    // Catches: a full disk leaving a torn last row or a count of rows never written.
    // 161 header bytes, rows of 8: a 20000-byte file holds 2479 whole rows.
    QTest::newRow("log, disk full") << "fsize" << log3000 << 6
                                    << "データファイルを保存出来ませんでした\n@/f.csv: File too large" << 2479 << "*";
    // Catches: an earlier log cut to its header before the board accepted the start.
    QTest::newRow("log, refused start, earlier file") << "refuse" << log3000 << 4 << "測定開始エラー... " << -2 << "*";
    // Catches: a stalled disk write holding up the port's reader (records lost or late).
    QTest::newRow("log, writer stalls 2 s") << "stall" << log3000 << 0 << "3000 records" << 3000 << "*";
    // Catches: the reader blocked behind the writer (a pty holds far less than 30000 records).
    QTest::newRow("log, writer stalls, flood") << "stall flood" << QStringList{"log", "--com", "4", "--count", "40000", "-o", "@/f.csv"}
                                               << 0 << "40000 records" << 40000 << "*";
    // Catches: a time column off the start time + index / data rate, or missing its header.
    QTest::newRow("log --time") << "" << QStringList{"log", "--com", "4", "--count", "1200", "--time", "-o", "@/f.csv"}
                                << 0 << "1200 records" << 1200 << "*";
    // Catches: an SSH hang-up killing the log with a stale count and the board left streaming.
    QTest::newRow("log, SIGHUP") << "sighup" << QStringList{"log", "--com", "4", "--count", "100000", "-o", "@/f.csv"}
                                 << 0 << "records" << 0 << "*";
    // Catches: acquire ended by SIGHUP without its records or with the wrong status.
    QTest::newRow("acquire, SIGHUP") << "sighup" << block << 129 << "測定停止しました" << 0 << "*";
    // Catches: a signal during the check ending the run without a word.
    QTest::newRow("SIGINT during the check") << "sigint check" << info << 130
                                             << "interrupted by signal 2 during the connection check" << -1 << "*";
    // Catches: a measured block thrown away when the final write fails.
    QTest::newRow("acquire, folder gone at the end") << "vanish" << QStringList{"acquire", "--com", "4", "--count", "2000", "-o", "@/sub/f.csv"}
                                                     << 6 << "the 2000 records measured are in @/vexlo-recovery-" << 2000 << "*";
    // Catches: a board left streaming whose samples are read as the check's replies.
    QTest::newRow("board left streaming") << "streaming" << info << 0 << "the board was still streaming" << -1 << "*";
    QTest::newRow("board left streaming, flood") << "streaming flood" << info << 0 << "the board was still streaming" << -1 << "*";
    // Catches: output errors ignored (exit 0 with nothing delivered).
    QTest::newRow("info > /dev/full") << "stdout full" << info << 6 << "standard output: No space left on device" << -1 << "*";
    QTest::newRow("--help > /dev/full") << "stdout full" << QStringList{"--help"} << 6 << "standard output: No space left on device" << -1 << "*";
    QTest::newRow("info | closed pipe") << "stdout pipe" << info << 6 << "standard output: Broken pipe" << -1 << "*";
    // Catches: a port that cannot be opened without saying why.
    QTest::newRow("port not a terminal") << "" << QStringList{"info", "--port", "/dev/null"} << 5
                                         << "COM Open 失敗 ...\n/dev/null: not a serial device" << -1 << "*";
    QTest::newRow("port busy") << "busy" << info << 5 << "busy, in use by process %pid" << -1 << "*";
    // Catches: options the command ignores taken silently.
    QTest::newRow("info --gain") << "" << QStringList{"info", "--com", "4", "--gain", "8"} << 2 << "info: --gain does not apply" << -1 << "*";
    QTest::newRow("ports --json") << "" << QStringList{"ports", "--json"} << 2 << "ports: --json does not apply" << -1 << "*";
    // Catches: ports listing names that lead to no serial device (COM5 -> /dev/null, COM6 -> a file).
    QTest::newRow("ports") << "ports" << QStringList{"ports"} << 0 << "" << -1 << "*";
    // The 100 ms reply time-out; CR LF replies whose LF is 1, 5 or 20 ms late
    // (after the next command, after the start) through the check, the gain
    // set and its read-back, and a block.
    QTest::newRow("reply at 70 ms") << "late 70" << info << 0 << "" << -1 << "*";
    QTest::newRow("reply at 130 ms") << "late 130" << info << 3 << "Vexloが応答しませんでした" << -1 << "*";
    for (const char* gap : {"1", "5", "20"})
        QTest::addRow("CR LF, LF %s ms late", gap) << QStringLiteral("crlf %1").arg(gap)
                                                  << block + QStringList{"--gain", "8"} << 0 << "" << 2000 << "*";
    // 6 cells of 500 records at 1200 sps take 2.5 s: the signal comes mid-sweep.
    QTest::newRow("SIGINT mid-sweep") << "sigint" << QStringList{"sweep", "--com", "4", "--rates", "1200sps", "--count", "500"}
                                      << 130 << "測定停止しました" << -1 << "*";
    QTest::newRow("sweep, start refused") << "refuse" << QStringList{"sweep", "--com", "4", "--gains", "1", "--rates", "5sps"}
                                          << 3 << "測定開始エラー... " << -1 << "*";
    // Catches malformed records silently counted into the figures, or a
    // --strict run that ends with success; the file keeps every row.
    QTest::newRow("malformed records, --strict") << "garbage-records" << block + QStringList{"--stats", "--strict"} << 7
                                                 << "CH0: 不正値 " << 2000 << "*";
    // Catches: a block or a log cut off by the stall limit while records keep coming, or log rows
    // misplaced after a sync rewrote the count (7000 records at 1200 sps: 5.8 s, five syncs).
    QTest::newRow("acquire past the stall limit") << "" << acquire + QStringList{"7000"} << 0 << "" << 7000 << "";
    QTest::newRow("log past the stall limit") << "" << log + QStringList{"7000"} << 0 << "7000 records" << 7000 << "";
    // Catches: the rows cut since the last write left out of the log when the port goes.
    QTest::newRow("log hang-up") << "hangup" << QStringList{"log", "-o", "@/f.csv"} << 5 << "COMポートが切断されました" << 700 << "";
    // Catches: a log killed outright whose count line was never brought up to date.
    QTest::newRow("log killed") << "kill" << QStringList{"log", "-o", "@/f.csv"} << -1 << "" << 0 << "";
    // Catches: --count bounds off by one (acquire 1 to 65535, log from 1 up).
    QTest::newRow("acquire count 0") << "" << acquire + QStringList{"0"} << 2 << "データ個数が正しくありません" << -1 << "";
    QTest::newRow("acquire count 1") << "" << acquire + QStringList{"1"} << 0 << "" << 1 << "";
    QTest::newRow("acquire count 65535") << "silent" << acquire + QStringList{"65535"} << 3 << "Vexloが応答しませんでした" << -1 << "";
    QTest::newRow("log count 0") << "" << log + QStringList{"0"} << 2 << "データ個数が正しくありません" << -1 << "";
    QTest::newRow("log count 1") << "" << log + QStringList{"1"} << 0 << "1 records" << 1 << "";
    QTest::newRow("log count 2^63-1") << "silent" << log + QStringList{"9223372036854775807"} << 3 << "Vexloが応答しませんでした" << -1 << "";
    QTest::newRow("log count 2^63") << "" << log + QStringList{"9223372036854775808"} << 2 << "データ個数が正しくありません" << -1 << "";
    // Catches: a refused or unlisted setting ending with another exit code; the Selvor check
    // passing a rate code past its list (6, 200sps, the last one).
    QTest::newRow("refused setting") << "refuse-set" << QStringList{"set", "--rate", "10sps"} << 3 << "データレート設定できませんでした" << -1 << "";
    QTest::newRow("Selvor rate 400sps") << "selvor6" << QStringList{"set", "--model", "selvor", "--rate", "400sps"} << 2 << "データレート設定できませんでした" << -1 << "";
    QTest::newRow("Selvor board at 200sps") << "selvor6" << QStringList{"info", "--model", "selvor"} << 0 << "" << -1 << "rate: 200sps\n";
    QTest::newRow("Selvor board at code 7") << "selvor7" << QStringList{"info", "--model", "selvor"} << 3 << "Vexlo 応答エラー" << -1 << "";
    // Catches: ports stopping short of COM16.
    QTest::newRow("ports: COM16") << "com16" << QStringList{"ports"} << 0 << "" << -1 << "COM16\t@pty\n";
}

// Catches a fault ending with the wrong exit code or message, a file left
// where none belongs, received rows lost or miscounted, a reply time-out
// other than 100 ms, and a late LF read as a reply's or the stream's start.
void TstCli::faults()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, message);
    QFETCH(int, rows);
    const QStringList words = fault.split(u' ');
    QFETCH(QString, out);
    Faults f;
    f.lateMs = words[0] == u"late" ? words.value(1).toInt() : 0;
    f.crLf = words[0] == u"crlf";
    f.tailGapMs = f.crLf ? words.value(1).toInt() : 0;
    f.silent = fault == u"silent";
    f.garbage = fault == u"garbage";
    f.garbageRecords = fault == u"garbage-records";
    f.refuseStart = fault == u"refuse";
    f.hangupAfterRecords = fault == u"hangup" ? 700 : -1;
    f.cutAfterRecords = fault == u"cut" ? 300 : -1;
    f.refuseSettings = fault == u"refuse-set";
    f.rateReply = fault == u"selvor7" ? 7 : -1;
    SimFixture sim;
    // 1200 sps paced: 2000 records take well over a second.
    PtyOptions board{Model::Tamrix, fault == u"com16" ? 16 : 4, RateMode::Paced, 1, {true, 4, 0, 10}, f};
    if (fault.startsWith(u"selvor"))
        board.model = Model::Selvor, board.state.rateCode = 6;
    QVERIFY2(sim.start(board), qPrintable(sim.error));
    QTemporaryDir dir;
    args.replaceInStrings(QStringLiteral("@"), dir.path());
    message.replace(u'@', dir.path());
    const QString file = dir.filePath("f.csv");
    const QByteArray earlier = "an earlier log\r\n";
    if (rows == -2) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(earlier) == earlier.size());
    }
    message.replace(QStringLiteral("%pid"), QString::number(QCoreApplication::applicationPid()));
    QSerialPort holder(sim.board->slavePath());
    if (fault.startsWith(u"streaming") || fault == u"busy") {
        // An earlier run (or another program) opened the port.
        holder.setBaudRate(115200);
        QVERIFY(holder.open(QIODevice::ReadWrite));
        if (fault.endsWith(u"flood"))
            sim.board->setRateMode(RateMode::Flood);
        if (fault.startsWith(u"streaming")) {
            holder.write("A00000\r");
            QTRY_VERIFY(sim.board->streaming());
            holder.close();
        }
    }
    if (fault == u"ports") {
        QVERIFY(QFile::link("/dev/null", PtyBoard::portsFolder() + QStringLiteral("/COM5")));
        QFile(dir.filePath("plain")).open(QIODevice::WriteOnly);
        QVERIFY(QFile::link(dir.filePath("plain"), PtyBoard::portsFolder() + QStringLiteral("/COM6")));
    }
    if (fault == u"vanish") {
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
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
            Signal(p, SIGINT);
        } else if (fault == u"kill") { // once 2400 rows (2 s at 1200 sps) are in the file
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(args[2]).size() > 300 + 2400 * 8, 30000);
            Signal(p, SIGKILL);
        }
        if (fault == u"sighup") {
            QTRY_VERIFY_WITH_TIMEOUT(sim.board->recordsWritten() >= 500, 20000);
            Signal(p, SIGHUP);
        }
        if (fault == u"sigint check") {
            QVERIFY(sim.board->waitForCommands(2, 20000)); // the lone CR and "?"
            Signal(p, SIGINT);
        }
        if (fault == u"vanish") {
            QTRY_VERIFY_WITH_TIMEOUT(sim.board->streaming(), 20000);
            QVERIFY(QDir(dir.path()).rmdir("sub"));
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
        if (fault.startsWith(u"stdout")) {
            int fds[2] = {::open("/dev/full", O_WRONLY), -1};
            if (fault.endsWith(u"pipe") && ::pipe(fds) == 0)
                ::close(fds[0]);
            ::dup2(fault.endsWith(u"pipe") ? fds[1] : fds[0], 1);
        }
        if (fault == u"fsize") {
            ::signal(SIGXFSZ, SIG_DFL); // the program itself must ignore it
            const rlimit limit{20000, 20000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
    qunsetenv("VEXLO_LOG_WRITER_GATE");
    qunsetenv("TMPDIR");
    QCOMPARE(r.exit, exit);
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    if (fault.startsWith(u"streaming"))
        QVERIFY2(r.out.contains("board: VEXLO TAMRIX 1.00\n") && sim.board->commands().contains("AX"), r.out.constData());
    if (fault == u"ports")
        QVERIFY2(r.out.contains("COM4\t/dev/pts/") && !r.out.contains("COM5") && !r.out.contains("COM6"), r.out.constData());
    if (exit == kExitFileCode && rows == -1) { // the board never started
        for (const QByteArray& c : sim.board->commands())
            QVERIFY2(!(c.size() == 6 && c.startsWith('A')), c.constData());
    }
    if (rows == -2)
        QCOMPARE(fileBytes(file), earlier);
    out.replace(QStringLiteral("@pty"), sim.board->slavePath());
    if (out != u"*")
        QVERIFY2(out.isEmpty() ? r.out.isEmpty() : QString::fromUtf8(r.out).contains(out), r.out.constData());
    if (rows < 0) {
        QVERIFY(rows == -2 || !QFileInfo::exists(file));
        return;
    }
    const QStringList recovered = QDir(dir.path()).entryList({"vexlo-recovery-*"});
    const QByteArray bytes = fileBytes(fault == u"vanish" && recovered.size() == 1 ? dir.filePath(recovered[0]) : file);
    QVERIFY(bytes.endsWith("\r\n")); // no torn row
    const QList<QByteArray> lines = bytes.split('\n');
    const qsizetype got = lines.size() - 9;
    if (rows == 0)
        QVERIFY(got > 0 && (fault == u"kill" || got < args[args.indexOf("--count") + 1].toInt()));
    else
        QCOMPARE(got, qsizetype(rows));
    const qint64 counted = lines[6].mid(14).trimmed().toLongLong();
    if (fault == u"kill") // a count at most one sync behind, never ahead
        QVERIFY2(counted > 0 && counted <= got, lines[6].constData());
    else
        QCOMPARE(counted, got); // the count line tells the truth
    if (f.crLf) // a stray LF would be written as "?" in a shifted row
        QVERIFY(!lines.mid(8).join().contains('?'));
    if (fault == u"sigint" || fault == u"sighup")
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
    // After the peak-to-peak line, two two-line tables and the Allan header and minimum
    // (three values: no spectrum, no Allan points), the span line.
    QCOMPARE(lines.value(7), expected);
}

void TstCli::sweep_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QList<double>>("rms"); // CH0 RMS codes, rates x gains; -1: refused
    // The simulator's noise table (sim/README.md) plus 1/12 code^2 of rounding:
    // 5 sps 2.0 / 24.0, 1200 sps 22.0 / 264.0 codes at gain 1 / 128.
    const QStringList cells{"sweep", "--com", "4", "--gains", "1,128", "--rates", "5sps,1200sps", "--count", "3000"};
    const QList<double> table{2.0207, 24.0017, 22.0019, 264.0002};
    // Catches figures of the wrong cell, settings not applied or not read
    // back, settling records not asked for, a broken text table.
    QTest::newRow("text") << cells << 0 << table;
    // Catches JSON, CSV and Markdown that lose or misplace cells.
    QTest::newRow("json") << cells + QStringList{"--json"} << 0 << table;
    QTest::newRow("csv") << cells + QStringList{"--csv"} << 0 << table;
    QTest::newRow("markdown") << cells + QStringList{"--markdown", "--settle", "0"} << 0 << table;
    // Catches a refused setting that ends the sweep or reads as success:
    // 400 sps is beyond the Selvor board's list.
    QTest::newRow("refused cell") << QStringList{"sweep", "--model", "selvor", "--com", "4", "--gains", "8", "--rates",
                                                 "400sps,200sps", "--count", "2000", "--markdown"}
                                  << 3 << QList<double>{-1, 13.5031};
}

void TstCli::sweep()
{
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QList<double>, rms);
    SimFixture sim;
    QVERIFY2(sim.start(args.contains("selvor") ? Model::Selvor : Model::Tamrix), qPrintable(sim.error));
    const Run r = cli(args);
    QCOMPARE(r.exit, exit);
    QVERIFY2(r.err.startsWith(QByteArray("sweep: ") + QByteArray::number(rms.size()) + " cells"), r.err.constData());
    // The RMS cells of CH0, row by row, in each output's own shape.
    QStringList got;
    const QString out = QString::fromUtf8(r.out);
    if (args.contains("--json")) {
        for (const QJsonValue c : QJsonDocument::fromJson(r.out).object().value("cells").toArray())
            got << QString::number(c["channels"]["CH0"]["rmsCodes"].toDouble());
    } else if (args.contains("--csv")) {
        for (const QString& line : out.split('\n').mid(1, rms.size()))
            got << line.section(',', 5, 5);
    } else {
        const int n = args.contains("--markdown") ? 1 : 0;
        const QString table = out.section("\n\n", n, n);
        for (const QString& line : table.split(QLatin1Char(10)).mid(2))
            got << line.split(args.contains("--markdown") ? QRegularExpression(" *\\| *") : QRegularExpression(" +"),
                              Qt::SkipEmptyParts).mid(1);
    }
    QCOMPARE(got.size(), rms.size());
    // The first cell as the buttons set it (each read back), then one block
    // of 3000 records plus 4 settling ones (none with --settle 0).
    const QList<QByteArray> sent = sim.board->commands();
    if (exit == 0)
        QCOMPARE(sent.mid(sent.indexOf("F0"), 7), (QList<QByteArray>{"F0", "F?", "G0", "G?", "F0", "G0",
                                                                     args.contains("0") ? "A00BB8" : "A00BBC"}));
    for (int i = 0; i < rms.size(); ++i)
        QVERIFY2(rms[i] < 0 ? got[i] == u"refused" : std::fabs(got[i].toDouble() / rms[i] - 1) < 0.05, qPrintable(got.join(' ')));
}

QTEST_MAIN(TstCli)
#include "tst_cli.moc"
