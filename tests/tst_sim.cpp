// The board simulator: the model's answers and records, and the pty front
// end driven through a real QSerialPort (the program's own serial class).
#include "sim/PtyBoard.h"
#include "sim/SimBoard.h"
#include "support/SimFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

using namespace vexlo::sim;

Q_DECLARE_METATYPE(vexlo::sim::Model)

namespace {

// Feeds `input` whole, and again byte by byte to a fresh board: both must
// give the same answer, whatever the pieces the line delivers.
QByteArray answer(Model model, const QByteArray &input, const Faults &faults = {}, quint64 seed = 1)
{
    SimBoard whole(model, seed);
    whole.setFaults(faults);
    const QByteArray out = whole.receive(input);
    SimBoard bytewise(model, seed);
    bytewise.setFaults(faults);
    QByteArray pieces;
    for (char c : input)
        pieces += bytewise.receive(QByteArray(1, c));
    if (pieces != out)
        qWarning() << "whole/bytewise answers differ:" << out << pieces;
    return pieces == out ? out : QByteArray("<differs>");
}

QString linkTarget(const QString &link) { return QFileInfo(link).symLinkTarget(); }

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void faultyAnswers_data();
    void faultyAnswers();
    void badCodesStayOutOfRange();
    void records_data();
    void records();
    void countZeroStreamsUntilStopped();
    void cutStreamEndsMidRecord();
    void millivoltField_data();
    void millivoltField();

    void listensOnlyAtModelBaud_data();
    void listensOnlyAtModelBaud();
    void hostCloseAndReopenKeepsServing();
    void linkCreatedReplacedAndRemoved();
    void streamOverPty_data();
    void streamOverPty();
    void stopCommandEndsEndlessStream();
    void lateReplyArrivesLate();
    void hangUpIsSeenByHost();
    void hangUpAfterRecords();
    void programServesAndCleansUp();
    void programRejectsBadOptions_data();
    void programRejectsBadOptions();
};

void TestSim::answers_data()
{
    QTest::addColumn<Model>("model");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    const Model T = Model::Tamrix, S = Model::Selvor;

    QTest::newRow("presence tamrix") << T << QByteArray("?\r") << QByteArray("VEXLO TAMRIX 1.00\r");
    QTest::newRow("presence selvor") << S << QByteArray("?\r") << QByteArray("VEXLO SELVOR 1.00\r");
    QTest::newRow("status") << T << QByteArray("S?\r") << QByteArray("S14\r");
    QTest::newRow("gain read") << T << QByteArray("G?\r") << QByteArray("G0\r");
    QTest::newRow("rate read") << T << QByteArray("F?\r") << QByteArray("F5\r");
    QTest::newRow("gain set 5 then read") << T << QByteArray("G5\rG?\r") << QByteArray("OK\rG5\r");
    QTest::newRow("gain 6 refused, kept") << T << QByteArray("G6\rG?\r") << QByteArray("NG\rG0\r");
    QTest::newRow("gain FFFF refused") << T << QByteArray("GFFFF\r") << QByteArray("NG\r");
    QTest::newRow("gain lower-case refused") << T << QByteArray("Ga\r") << QByteArray("NG\r");
    QTest::newRow("gain without code") << T << QByteArray("G\r") << QByteArray("NG\r");
    QTest::newRow("rate A tamrix") << T << QByteArray("FA\rF?\r") << QByteArray("OK\rFA\r");
    QTest::newRow("rate B tamrix refused") << T << QByteArray("FB\r") << QByteArray("NG\r");
    QTest::newRow("rate 6 selvor") << S << QByteArray("F6\rF?\r") << QByteArray("OK\rF6\r");
    QTest::newRow("rate 7 selvor refused") << S << QByteArray("F7\rF?\r") << QByteArray("NG\rF5\r");
    QTest::newRow("rate FF refused") << T << QByteArray("FF\r") << QByteArray("NG\r");
    QTest::newRow("lone CR") << T << QByteArray("\r") << QByteArray();
    QTest::newRow("stops say nothing") << T << QByteArray("AX\rMX\r") << QByteArray();
    QTest::newRow("line feed ignored") << T << QByteArray("\nG?\r\n") << QByteArray("G0\r");
    QTest::newRow("unknown") << T << QByteArray("XYZ\r") << QByteArray("NG\r");
    QTest::newRow("lower-case command") << T << QByteArray("g?\r") << QByteArray("NG\r");
    QTest::newRow("no CR yet") << T << QByteArray("G?") << QByteArray();
    QTest::newRow("overlong line") << T << QByteArray(100, 'G') + "?\r" << QByteArray("NG\r");
    QTest::newRow("start ok is silent") << T << QByteArray("A00064\r") << QByteArray();
    QTest::newRow("start channel 3") << T << QByteArray("A30064\r") << QByteArray("NG\r");
    QTest::newRow("start channel FFFF") << T << QByteArray("AFFFF0064\r") << QByteArray("NG\r");
    QTest::newRow("start count short") << T << QByteArray("M0064\r") << QByteArray("NG\r");
    QTest::newRow("start count not hex") << T << QByteArray("M2006G\r") << QByteArray("NG\r");
    QTest::newRow("start count lower-case") << T << QByteArray("A0006a\r") << QByteArray("NG\r");
}

void TestSim::answers()
{
    QFETCH(Model, model);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(answer(model, input), expected);
}

void TestSim::faultyAnswers_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("silent presence") << QByteArray("?\r") << "silent" << QByteArray();
    QTest::newRow("silent start") << QByteArray("A00005\r") << "silent" << QByteArray();
    QTest::newRow("bare CR") << QByteArray("G?\rG1\r") << "bareCr" << QByteArray("\r\r");
    QTest::newRow("no CR") << QByteArray("G?\rG1\r") << "noCr" << QByteArray("G0OK");
    QTest::newRow("refuse start") << QByteArray("M20064\r") << "refuseStart" << QByteArray("NG\r");
    QTest::newRow("refuse start keeps others") << QByteArray("F?\r") << "refuseStart" << QByteArray("F5\r");
}

void TestSim::faultyAnswers()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, fault);
    QFETCH(QByteArray, expected);
    Faults f;
    f.silent = fault == "silent";
    f.bareCr = fault == "bareCr";
    f.noCr = fault == "noCr";
    f.refuseStart = fault == "refuseStart";
    QCOMPARE(answer(Model::Tamrix, input, f), expected);

    SimBoard board(Model::Tamrix);
    board.setFaults(f);
    board.receive(input);
    QVERIFY2(board.nextRecord().isEmpty(), "a refused or unheard start must not stream");

    // Garbage: random bytes, one CR at the end, never the healthy reply.
    Faults g;
    g.garbage = true;
    for (quint64 seed = 1; seed <= 50; ++seed) {
        const QByteArray out = answer(Model::Tamrix, "G?\r", g, seed);
        QVERIFY(out.endsWith('\r'));
        QCOMPARE(out.count('\r'), 1);
        QVERIFY(out.size() >= 4);
    }
}

void TestSim::badCodesStayOutOfRange()
{
    Faults f;
    f.badCodes = true;
    for (quint64 seed = 1; seed <= 100; ++seed) {
        const QByteArray g = answer(Model::Tamrix, "G?\r", f, seed);
        QVERIFY2(QByteArray("6789ABCDEF").contains(g.at(1)), g);
        const QByteArray r = answer(Model::Tamrix, "F?\r", f, seed);
        QVERIFY2(QByteArray("BCDEF").contains(r.at(1)), r);
        const QByteArray s = answer(Model::Tamrix, "S?\r", f, seed).chopped(1);
        const bool bufferOk = s.size() >= 2 && (s[1] == '0' || s[1] == '1');
        const bool filterOk = s.size() >= 3 && (s[2] == '3' || s[2] == '4');
        QVERIFY2(!(bufferOk && filterOk), s);
    }
}

void TestSim::records_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("length");
    for (int gain : {0, 2, 5}) {
        const QByteArray g = QByteArray::number(gain);
        QTest::newRow("A0 gain " + g) << QByteArray("A0") << gain << 7;
        QTest::newRow("A1 gain " + g) << QByteArray("A1") << gain << 7;
        QTest::newRow("A2 gain " + g) << QByteArray("A2") << gain << 13;
        QTest::newRow("M0 gain " + g) << QByteArray("M0") << gain << 10;
        QTest::newRow("M1 gain " + g) << QByteArray("M1") << gain << 10;
        QTest::newRow("M2 gain " + g) << QByteArray("M2") << gain << 19;
    }
}

void TestSim::records()
{
    QFETCH(QByteArray, start);
    QFETCH(int, gain);
    QFETCH(int, length);
    const bool mv = start[0] == 'M';
    const int width = mv ? 9 : 6;
    const int decimals = gain == 0 ? 3 : (gain <= 2 ? 4 : 5);
    const QRegularExpression field(mv ? QStringLiteral("^[+-]\\d{%1}\\.\\d{%2}$").arg(7 - decimals).arg(decimals)
                                      : QStringLiteral("^[0-9A-F]{6}$"));

    SimBoard board(Model::Tamrix, 7);
    QCOMPARE(board.receive("G" + QByteArray::number(gain) + "\r" + start + "012C\r"), QByteArray("OK\r"));
    QCOMPARE(board.recordLength(), length);
    for (int i = 0; i < 300; ++i) {
        const QByteArray rec = board.nextRecord();
        QCOMPARE(rec.size(), length);
        QCOMPARE(rec.back(), '\r');
        for (int f = 0; f + 1 < length; f += width) {
            const QString text = QString::fromLatin1(rec.mid(f, width));
            QVERIFY2(field.match(text).hasMatch(), qPrintable(text));
            // Values stay near mid-scale (hex) or near zero millivolts.
            if (mv)
                QVERIFY2(qAbs(text.toDouble()) < 5.0, qPrintable(text));
            else
                QVERIFY2(qAbs(int(text.toUInt(nullptr, 16)) - 0x800000) < 0x4000, qPrintable(text));
        }
    }
    QVERIFY(!board.streaming());
    QVERIFY2(board.nextRecord().isEmpty(), "no record beyond the count");
}

void TestSim::countZeroStreamsUntilStopped()
{
    SimBoard board(Model::Selvor);
    board.receive("M10000\r");
    for (int i = 0; i < 70000; ++i) // beyond any four-digit count
        QVERIFY(!board.nextRecord().isEmpty());
    QVERIFY(board.streaming());
    QCOMPARE(board.receive("MX\r"), QByteArray());
    QVERIFY(!board.streaming());
    QVERIFY(board.nextRecord().isEmpty());
}

void TestSim::cutStreamEndsMidRecord()
{
    Faults f;
    f.cutAfterRecords = 3;
    SimBoard board(Model::Tamrix);
    board.setFaults(f);
    board.receive("A20064\r");
    for (int i = 0; i < 3; ++i)
        QCOMPARE(board.nextRecord().size(), 13);
    const QByteArray piece = board.nextRecord();
    QVERIFY(!piece.isEmpty() && piece.size() < 13);
    QVERIFY(board.nextRecord().isEmpty());
    // The board still answers afterwards.
    QCOMPARE(board.receive("G?\r"), QByteArray("G0\r"));
}

void TestSim::millivoltField_data()
{
    QTest::addColumn<double>("mv");
    QTest::addColumn<int>("gain");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("negative") << -12.345 << 0 << QByteArray("-0012.345");
    QTest::newRow("positive") << 1.234 << 0 << QByteArray("+0001.234");
    QTest::newRow("rounds to zero") << -0.0004 << 0 << QByteArray("+0000.000");
    QTest::newRow("too large is clamped") << 123456.0 << 0 << QByteArray("+9999.999");
    QTest::newRow("gain 1 four decimals") << 12.34567 << 1 << QByteArray("+012.3457");
    QTest::newRow("gain 5 five decimals") << -1.234564 << 5 << QByteArray("-01.23456");
}

void TestSim::millivoltField()
{
    QFETCH(double, mv);
    QFETCH(int, gain);
    QFETCH(QByteArray, text);
    QCOMPARE(SimBoard::millivoltField(mv, gain), text);
}

// ---- the pty front end, through QSerialPort ----

void TestSim::listensOnlyAtModelBaud_data()
{
    QTest::addColumn<Model>("model");
    QTest::addColumn<int>("wrongBaud");
    QTest::addColumn<int>("rightBaud");
    QTest::newRow("tamrix") << Model::Tamrix << 38400 << 115200;
    QTest::newRow("selvor") << Model::Selvor << 115200 << 38400;
}

void TestSim::listensOnlyAtModelBaud()
{
    QFETCH(Model, model);
    QFETCH(int, wrongBaud);
    QFETCH(int, rightBaud);
    SimFixture sim;
    QVERIFY2(sim.start(model, 0), qPrintable(sim.error));
    QSerialPort port;
    QVERIFY(openSimPort(port, sim.board->slavePath(), wrongBaud));
    QCOMPARE(transact(port, "?", 300), QByteArray());
    QVERIFY(sim.board->ignoredBytes() >= 2);
    QVERIFY(sim.board->commands().isEmpty());

    QVERIFY(port.setBaudRate(rightBaud));
    QVERIFY(transact(port, "?").startsWith("VEXLO"));
    QCOMPARE(sim.board->commands(), QList<QByteArray>{"?"});
}

void TestSim::hostCloseAndReopenKeepsServing()
{
    SimFixture sim;
    QVERIFY2(sim.start(Model::Tamrix, 4), qPrintable(sim.error));
    for (int round = 0; round < 3; ++round) {
        QSerialPort port;
        QVERIFY(openSimPort(port, sim.linkPath(), 115200));
        QCOMPARE(transact(port, "G?"), QByteArray("G0\r"));
        port.write("\r"); // what the host sends before it closes
        QVERIFY(port.waitForBytesWritten(1000));
        port.close();
        QVERIFY(sim.board->waitForCommands(2 * (round + 1), 2000));
    }
    QVERIFY(sim.board->isRunning());
    const QList<QByteArray> expected{"G?", "", "G?", "", "G?", ""};
    QCOMPARE(sim.board->commands(), expected);
    QCOMPARE(sim.board->receivedBytes(), QByteArray("G?\r\rG?\r\rG?\r\r"));
}

void TestSim::linkCreatedReplacedAndRemoved()
{
    SimFixture sim;
    QDir().mkpath(PtyBoard::portsFolder());
    const QString stale = PtyBoard::portsFolder() + "/COM5";
    QVERIFY(QFile::link("/nonexistent/pts/99", stale));

    QVERIFY2(sim.start(Model::Selvor, 5), qPrintable(sim.error));
    QCOMPARE(sim.board->linkPath(), stale);
    QCOMPARE(linkTarget(stale), sim.board->slavePath());
    sim.board->stop();
    QVERIFY(!QFileInfo(stale).isSymLink());
    QVERIFY(!QFileInfo::exists(stale));

    // A plain file with the COM name is somebody else's: refuse, keep it.
    const QString plain = PtyBoard::portsFolder() + "/COM6";
    QFile f(plain);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();
    QVERIFY(!sim.start(Model::Tamrix, 6));
    QVERIFY(sim.error.contains("COM6"));
    QVERIFY(QFile::exists(plain));
    QCOMPARE(QFileInfo(plain).size(), 7);
}

void TestSim::streamOverPty_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("mode");
    QTest::newRow("A2 flood") << QByteArray("A2") << 13 << int(RateMode::Flood);
    QTest::newRow("M2 flood") << QByteArray("M2") << 19 << int(RateMode::Flood);
    QTest::newRow("M0 line") << QByteArray("M0") << 10 << int(RateMode::Line);
    QTest::newRow("A1 paced") << QByteArray("A1") << 7 << int(RateMode::Paced);
}

void TestSim::streamOverPty()
{
    QFETCH(QByteArray, start);
    QFETCH(int, length);
    QFETCH(int, mode);
    SimFixture sim;
    PtyOptions o;
    o.rateMode = RateMode(mode);
    o.state.rateCode = 10;
    QVERIFY2(sim.start(o), qPrintable(sim.error));
    QSerialPort port;
    QVERIFY(openSimPort(port, sim.board->slavePath(), 115200));
    const int count = 200;
    port.write(start + "00C8\r");
    const QByteArray got = readBytes(port, count * length, 20000);
    QCOMPARE(got.size(), count * length);
    for (int i = 0; i < count; ++i)
        QCOMPARE(got.at(i * length + length - 1), '\r');
    QCOMPARE(got.count('\r'), count);
    QCOMPARE(readFor(port, 100), QByteArray()); // nothing after the last record
    QTRY_COMPARE(sim.board->recordsWritten(), qint64(count));
}

void TestSim::stopCommandEndsEndlessStream()
{
    SimFixture sim;
    QVERIFY2(sim.start(Model::Tamrix, 0), qPrintable(sim.error));
    QSerialPort port;
    QVERIFY(openSimPort(port, sim.board->slavePath(), 115200));
    port.write("M00000\r");
    QVERIFY(readBytes(port, 50000, 10000).size() >= 50000);
    port.write("MX\r");
    QVERIFY(port.waitForBytesWritten(1000));
    QTRY_VERIFY(!sim.board->streaming());
    readFor(port, 200); // what was already on its way
    QCOMPARE(readFor(port, 200), QByteArray());
    QCOMPARE(transact(port, "F?"), QByteArray("F5\r"));
}

void TestSim::lateReplyArrivesLate()
{
    SimFixture sim;
    PtyOptions o;
    o.faults.lateMs = 400;
    QVERIFY2(sim.start(o), qPrintable(sim.error));
    QSerialPort port;
    QVERIFY(openSimPort(port, sim.board->slavePath(), 115200));
    // The sim never sends before its delay, so this holds on a busy machine too.
    QCOMPARE(transact(port, "G?", 100), QByteArray());
    QCOMPARE(readBytes(port, 3, 5000), QByteArray("G0\r"));

    Faults split;
    split.split = true;
    sim.board->setFaults(split);
    QCOMPARE(transact(port, "?", 5000), QByteArray("VEXLO TAMRIX 1.00\r"));
}

void TestSim::hangUpIsSeenByHost()
{
    SimFixture sim;
    QVERIFY2(sim.start(Model::Tamrix, 3), qPrintable(sim.error));
    QSerialPort port;
    QVERIFY(openSimPort(port, sim.linkPath(), 115200));
    QCOMPARE(transact(port, "S?"), QByteArray("S14\r"));
    sim.board->hangUp();
    QVERIFY(sim.board->waitForHangUp(5000));
    QVERIFY(!sim.board->isRunning());
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
    // The host's side reports the far end gone rather than waiting forever.
    QTRY_VERIFY(!port.waitForReadyRead(10) && port.error() != QSerialPort::NoError
                && port.error() != QSerialPort::TimeoutError);
    port.close();
}

void TestSim::hangUpAfterRecords()
{
    SimFixture sim;
    PtyOptions o;
    o.com = 2;
    o.faults.hangupAfterRecords = 10;
    QVERIFY2(sim.start(o), qPrintable(sim.error));
    QSerialPort port;
    QVERIFY(openSimPort(port, sim.board->slavePath(), 115200));
    port.write("A00064\r");
    QCOMPARE(readBytes(port, 70, 5000).size(), 70); // ten records of 7
    QVERIFY(sim.board->waitForHangUp(5000));
    QCOMPARE(readFor(port, 100), QByteArray());     // and nothing more
    QCOMPARE(sim.board->recordsWritten(), qint64(10));
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
    port.close();
}

void TestSim::programServesAndCleansUp()
{
    QTemporaryDir cfg;
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", cfg.path());
    proc.setProcessEnvironment(env);
    proc.start(VEXLO_SIM_PROGRAM, {"--model", "selvor", "--com", "9", "--print-ready", "--gain", "3",
                                    "--filter", "3", "--buffer", "off"});
    QVERIFY(proc.waitForStarted(5000));
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("READY "), 10000);
    const QString link = cfg.path() + "/vexlo/ports/COM9";
    const QString pty = QString::fromLocal8Bit(out.mid(out.indexOf("READY ") + 6)).trimmed();
    QCOMPARE(linkTarget(link), pty);
    {
        QSerialPort port;
        QVERIFY(openSimPort(port, link, 38400));
        QCOMPARE(transact(port, "S?"), QByteArray("S03\r"));
        QCOMPARE(transact(port, "G?"), QByteArray("G3\r"));
    }
    proc.terminate();
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSim::programRejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("no model") << QStringList{"--com", "4"} << 2;
    QTest::newRow("unknown model") << QStringList{"--model", "other"} << 2;
    QTest::newRow("selvor rate 7") << QStringList{"--model", "selvor", "--rate", "7"} << 2;
    QTest::newRow("com text") << QStringList{"--model", "tamrix", "--com", "x"} << 2;
    QTest::newRow("late negative") << QStringList{"--model", "tamrix", "--late", "-5"} << 2;
    QTest::newRow("rate mode") << QStringList{"--model", "tamrix", "--rate-mode", "fast"} << 2;
}

void TestSim::programRejectsBadOptions()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QTemporaryDir cfg;
    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", cfg.path());
    proc.setProcessEnvironment(env);
    proc.start(VEXLO_SIM_PROGRAM, args);
    QVERIFY(proc.waitForFinished(10000));
    QCOMPARE(proc.exitCode(), exitCode);
    if (exitCode == 0) {
        const QByteArray help = proc.readAllStandardOutput();
        for (const char *opt : {"--model", "--com", "--rate-mode", "--seed", "--print-ready", "--silent",
                                "--late", "--bare-cr", "--no-cr", "--garbage", "--split", "--bad-codes",
                                "--refuse-start", "--cut-after", "--hangup-after-records"})
            QVERIFY2(help.contains(opt), opt);
    } else {
        QVERIFY(!proc.readAllStandardError().isEmpty());
    }
    QVERIFY(!QFileInfo::exists(cfg.path() + "/vexlo/ports/COM4"));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
