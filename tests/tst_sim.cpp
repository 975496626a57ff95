// The board simulator, as far as the other tests rely on it and cannot see
// it themselves: the model's answers (a sim that agreed with a wrong program
// would hide its fault) and the program vexlo-board-sim (used by the demo)
// serving, pacing and ending cleanly. Record shapes are checked on every
// field in tst_measure_e2e, fault switches in tst_board_e2e and tst_faults.
#include "sim/PtyBoard.h"
#include "sim/SimBoard.h"
#include "support/SimFixture.h"

#include <QProcess>
#include <QDeadlineTimer>
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
        row("rate A, B, FF tamrix", T, "FA\rFB\rFF\rF?\r", "OK\rNG\rNG\rFA\r");
        row("rate 6, 7 selvor", S, "F6\rF7\rF?\r", "OK\rNG\rF6\r");
        row("lone CR, stops silent", T, "\rAX\rMX\r", "");
        row("start ok is silent", T, "A00064\r", "");
        row("start channel 3, FFFF, short", T, "A30064\rAFFFF0064\rM0064\r", "NG\rNG\rNG\r");
    }

    // Catches a sim whose answers drift from the board's.
    void answers()
    {
        QFETCH(Model, model);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QCOMPARE(SimBoard(model).receive(input), expected);
    }

    // Catches a sim program the demo cannot use: link not replaced or left
    // behind, options ignored, pacing not honoured, unclean exit.
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
            QSerialPort port(link);
            QVERIFY(port.open(QIODevice::ReadWrite) && port.setBaudRate(38400));
            // Everything that arrives within `ms` of the command.
            const auto reply = [&port](const QByteArray& command, int ms) {
                port.write(command + '\r');
                QByteArray got;
                for (QDeadlineTimer t(ms); !t.hasExpired();)
                    if (port.waitForReadyRead(int(qMax<qint64>(1, t.remainingTime()))))
                        got += port.readAll();
                return got;
            };
            QCOMPARE(reply("S?", 500), QByteArray("S03\r"));
            QCOMPARE(reply("G?", 500), QByteArray("G3\r"));
            // The default pacing: 20 records at 200 sps, then nothing.
            QCOMPARE(reply("A10014", 1500).count('\r'), 20);
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
