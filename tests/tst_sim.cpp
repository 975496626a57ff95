// The board simulator, as far as the other tests rely on it: the model's
// answers and record shapes, and the program vexlo-board-sim (used by the
// demo) serving, pacing and ending cleanly. Its fault switches show in
// tst_board_e2e and tst_faults; a board at the wrong baud in tst_board_e2e.
#include "sim/PtyBoard.h"
#include "sim/SimBoard.h"
#include "support/SimFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

using namespace vexlo::sim;

Q_DECLARE_METATYPE(vexlo::sim::Model)

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const Model T = Model::Tamrix, S = Model::Selvor;
        auto row = [](const char *name, Model m, const QByteArray &in, const QByteArray &out) {
            QTest::newRow(name) << m << in << out;
        };
        row("presence tamrix", T, "?\r", "VEXLO TAMRIX 1.00\r");
        row("presence selvor", S, "?\r", "VEXLO SELVOR 1.00\r");
        row("status, gain, rate", T, "S?\rG?\rF?\r", "S14\rG0\rF5\r");
        row("gain set, refused, kept", T, "G5\rG6\rG?\r", "OK\rNG\rG5\r");
        row("gain bad codes", T, "GFFFF\rGa\rG\r", "NG\rNG\rNG\r");
        row("rate A, B, FF tamrix", T, "FA\rFB\rFF\rF?\r", "OK\rNG\rNG\rFA\r");
        row("rate 6, 7 selvor", S, "F6\rF7\rF?\r", "OK\rNG\rF6\r");
        row("lone CR, stops silent", T, "\rAX\rMX\r", "");
        row("start ok is silent", T, "A00064\r", "");
        row("start channel 3, FFFF, short", T, "A30064\rAFFFF0064\rM0064\r", "NG\rNG\rNG\r");
    }

    // Fed whole, and again byte by byte to a fresh board: the same answer.
    void answers()
    {
        QFETCH(Model, model);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        SimBoard whole(model), bytewise(model);
        QCOMPARE(whole.receive(input), expected);
        QByteArray pieces;
        for (char c : input)
            pieces += bytewise.receive(QByteArray(1, c));
        QCOMPARE(pieces, expected);
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
            for (int f = 0; f + 1 < length; f += mv ? 9 : 6)
                QVERIFY2(field.match(QString::fromLatin1(rec.mid(f, mv ? 9 : 6))).hasMatch(), rec.constData());
        }
        QVERIFY(!board.streaming() && board.nextRecord().isEmpty()); // nothing beyond the count
    }

    void program()
    {
        QTemporaryDir cfg;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", cfg.path());
        const QString link = cfg.path() + "/vexlo/ports/COM9";
        QVERIFY(QDir().mkpath(cfg.path() + "/vexlo/ports") && QFile::link("/nonexistent/pts/99", link)); // stale
        QProcess proc;
        proc.setProcessEnvironment(env);
        proc.start(VEXLO_SIM_PROGRAM, {"--model", "selvor", "--com", "9", "--print-ready", "--gain", "3",
                                       "--filter", "3", "--buffer", "off", "--rate", "6"});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += proc.readAllStandardOutput()).contains("READY "), 10000);
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
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
