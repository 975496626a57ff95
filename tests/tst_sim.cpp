// The board simulator: the model's answers and records, and the pty front
// end driven through a real QSerialPort (the program's own serial class).
// Its fault switches are exercised end to end in tst_board_e2e and tst_faults.
#include "sim/PtyBoard.h"
#include "sim/SimBoard.h"
#include "support/SimFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

using namespace vexlo::sim;

Q_DECLARE_METATYPE(vexlo::sim::Model)

namespace {

// Feeds `input` whole, and again byte by byte to a fresh board: both must
// give the same answer, whatever the pieces the line delivers.
QByteArray answer(Model model, const QByteArray &input, const Faults &faults)
{
    SimBoard whole(model), bytewise(model);
    whole.setFaults(faults);
    bytewise.setFaults(faults);
    const QByteArray out = whole.receive(input);
    QByteArray pieces;
    for (char c : input)
        pieces += bytewise.receive(QByteArray(1, c));
    return pieces == out ? out : "<differs: " + out + " / " + pieces + ">";
}

// The program, with its COM links in a folder of its own.
void startProgram(QProcess &proc, const QTemporaryDir &cfg, const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", cfg.path());
    proc.setProcessEnvironment(env);
    proc.start(VEXLO_SIM_PROGRAM, args);
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("noCr");
        const Model T = Model::Tamrix, S = Model::Selvor;
        auto row = [](const char *name, Model m, const QByteArray &in, const QByteArray &out, bool noCr = false) {
            QTest::newRow(name) << m << in << out << noCr;
        };
        row("presence tamrix", T, "?\r", "VEXLO TAMRIX 1.00\r");
        row("presence selvor", S, "?\r", "VEXLO SELVOR 1.00\r");
        row("status, gain, rate", T, "S?\rG?\rF?\r", "S14\rG0\rF5\r");
        row("gain set 5, read", T, "G5\rG?\r", "OK\rG5\r");
        row("gain 6 refused, kept", T, "G6\rG?\r", "NG\rG0\r");
        row("gain bad codes", T, "GFFFF\rGa\rG\r", "NG\rNG\rNG\r");
        row("rate A tamrix", T, "FA\rF?\r", "OK\rFA\r");
        row("rate B, FF tamrix", T, "FB\rFF\r", "NG\rNG\r");
        row("rate 6 selvor", S, "F6\rF?\r", "OK\rF6\r");
        row("rate 7 selvor refused", S, "F7\rF?\r", "NG\rF5\r");
        row("lone CR, stops silent", T, "\rAX\rMX\r", "");
        row("line feeds ignored", T, "\nG?\r\n", "G0\r");
        row("unknown, lower case", T, "XYZ\rg?\r", "NG\rNG\r");
        row("no CR yet", T, "G?", "");
        row("overlong line", T, QByteArray(100, 'G') + "?\r", "NG\r");
        row("start ok is silent", T, "A00064\r", "");
        row("start channel 3, FFFF", T, "A30064\rAFFFF0064\r", "NG\rNG\r");
        row("start count short, bad", T, "M0064\rM2006G\rA0006a\r", "NG\rNG\rNG\r");
        row("replies without CR", T, "G?\rG1\r", "G0OK", true);
    }

    void answers()
    {
        QFETCH(Model, model);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QFETCH(bool, noCr);
        Faults f;
        f.noCr = noCr;
        QCOMPARE(answer(model, input, f), expected);
    }

    // The six start commands at gains of three different decimal counts.
    void records_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("gain");
        QTest::addColumn<int>("length");
        const QList<QPair<QByteArray, int>> starts = {{"A0", 7}, {"A1", 7}, {"A2", 13}, {"M0", 10}, {"M1", 10}, {"M2", 19}};
        for (int gain : {0, 2, 5})
            for (const auto &[start, length] : starts)
                QTest::addRow("%s gain %d", start.constData(), gain) << start << gain << length;
    }

    void records()
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
                // Values stay near zero millivolts (mid-scale in hex).
                QVERIFY2(mv ? qAbs(text.toDouble()) < 5.0 : qAbs(int(text.toUInt(nullptr, 16)) - 0x800000) < 0x4000,
                         qPrintable(text));
            }
        }
        QVERIFY(!board.streaming());
        QVERIFY2(board.nextRecord().isEmpty(), "no record beyond the count");
    }

    void countZeroStreamsUntilStopped()
    {
        SimBoard board(Model::Selvor);
        board.receive("M10000\r");
        for (int i = 0; i < 70000; ++i) // beyond any four-digit count
            QVERIFY(!board.nextRecord().isEmpty());
        QCOMPARE(board.receive("MX\r"), QByteArray());
        QVERIFY(!board.streaming());
        QVERIFY(board.nextRecord().isEmpty());
    }

    void millivoltField()
    {
        QCOMPARE(SimBoard::millivoltField(-12.345, 0), QByteArray("-0012.345"));
        QCOMPARE(SimBoard::millivoltField(-0.0004, 0), QByteArray("+0000.000")); // no "-0"
        QCOMPARE(SimBoard::millivoltField(123456.0, 0), QByteArray("+9999.999")); // clamped
        QCOMPARE(SimBoard::millivoltField(12.34567, 1), QByteArray("+012.3457"));
        QCOMPARE(SimBoard::millivoltField(-1.234564, 5), QByteArray("-01.23456"));
    }

    // ---- the pty front end, through QSerialPort ----

    // Bytes at the other model's baud rate are not commands; the host may
    // close and reopen the port and is served again.
    void baudRateAndReopen_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<int>("wrongBaud");
        QTest::addColumn<int>("rightBaud");
        QTest::newRow("tamrix") << Model::Tamrix << 38400 << 115200;
        QTest::newRow("selvor") << Model::Selvor << 115200 << 38400;
    }

    void baudRateAndReopen()
    {
        QFETCH(Model, model);
        QFETCH(int, wrongBaud);
        QFETCH(int, rightBaud);
        SimFixture sim;
        QVERIFY2(sim.start(model, 4), qPrintable(sim.error));
        QSerialPort port;
        QVERIFY(openSimPort(port, sim.linkPath(), wrongBaud));
        QCOMPARE(transact(port, "?", 300), QByteArray());
        QVERIFY(sim.board->ignoredBytes() >= 2);
        QVERIFY(sim.board->commands().isEmpty());
        QVERIFY(port.setBaudRate(rightBaud));
        for (int round = 0; round < 3; ++round) {
            QVERIFY(round == 0 || openSimPort(port, sim.linkPath(), rightBaud));
            QCOMPARE(transact(port, "G?"), QByteArray("G0\r"));
            port.write("\r"); // what the host sends before it closes
            QVERIFY(port.waitForBytesWritten(1000));
            port.close();
            QVERIFY(sim.board->waitForCommands(2 * (round + 1), 2000));
        }
        QVERIFY(sim.board->isRunning());
        QCOMPARE(sim.board->commands(), (QList<QByteArray>{"G?", "", "G?", "", "G?", ""}));
    }

    void linkCreatedReplacedAndRemoved()
    {
        SimFixture sim;
        QDir().mkpath(PtyBoard::portsFolder());
        const QString stale = PtyBoard::portsFolder() + "/COM5";
        QVERIFY(QFile::link("/nonexistent/pts/99", stale));
        QVERIFY2(sim.start(Model::Selvor, 5), qPrintable(sim.error));
        QCOMPARE(sim.board->linkPath(), stale);
        QCOMPARE(QFileInfo(stale).symLinkTarget(), sim.board->slavePath());
        sim.board->stop();
        QVERIFY(!QFileInfo(stale).isSymLink() && !QFileInfo::exists(stale));

        // A plain file with the COM name is somebody else's: refuse, keep it.
        QFile plain(PtyBoard::portsFolder() + "/COM6");
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("keep me") == 7);
        plain.close();
        QVERIFY(!sim.start(Model::Tamrix, 6));
        QVERIFY(sim.error.contains("COM6"));
        QCOMPARE(QFileInfo(plain.fileName()).size(), 7);
    }

    void programServesAndCleansUp()
    {
        QTemporaryDir cfg;
        QProcess proc;
        startProgram(proc, cfg, {"--model", "selvor", "--com", "9", "--print-ready", "--gain", "3", "--filter", "3",
                                 "--buffer", "off", "--rate", "6"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("READY "), 10000);
        const QString link = cfg.path() + "/vexlo/ports/COM9";
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(out.mid(out.indexOf("READY ") + 6)).trimmed());
        {
            QSerialPort port;
            QVERIFY(openSimPort(port, link, 38400));
            QCOMPARE(transact(port, "S?"), QByteArray("S03\r"));
            QCOMPARE(transact(port, "G?"), QByteArray("G3\r"));
            // The default pacing: 20 records at 200 sps, then nothing.
            port.write("A10014\r");
            QCOMPARE(readBytes(port, 140, 5000).count('\r'), 20);
            QCOMPARE(readFor(port, 100), QByteArray());
        }
        proc.terminate(); // SIGTERM: the program removes its link and exits cleanly
        QVERIFY(proc.waitForFinished(5000));
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());

        // Bad options: a message, exit code 2, no link left behind.
        for (const QStringList &bad : {QStringList{"--com", "4"}, QStringList{"--model", "other", "--com", "4"},
                                       QStringList{"--model", "selvor", "--rate", "7", "--com", "4"},
                                       QStringList{"--model", "tamrix", "--rate-mode", "fast", "--com", "4"}}) {
            QProcess p;
            startProgram(p, cfg, bad);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), 2);
            QVERIFY(!p.readAllStandardError().isEmpty() && !QFileInfo::exists(cfg.path() + "/vexlo/ports/COM4"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
