// The board simulator, as far as the other tests rely on it and cannot see
// it themselves: the program vexlo-board-sim (used by the demo) serving,
// pacing and ending cleanly. The model's answers are seen by every end-to-end
// test (both models' replies in tst_board_check, record shapes field by field in
// tst_measure_e2e), its fault switches in tst_board_check and tst_faults.
#include "analysis/AllanDeviation.h"
#include "sim/SimBoard.h"

#include <QProcess>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QtTest>

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void readings_data()
    {
        QTest::addColumn<int>("gain");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("walk");      // codes per square root of a second
        QTest::addColumn<int>("m");            // readings per Allan interval
        QTest::addColumn<double>("expected");  // Allan deviation there, within 8 %
        // White noise: the Allan deviation at one reading is the RMS noise,
        // the table's value with 1/12 code^2 of rounding added.
        // Catches noise that ignores the gain or the rate.
        QTest::newRow("100 sps, gain 1") << 0 << 5 << 0.0 << 1 << 6.5064;
        QTest::newRow("5 sps, gain 128") << 5 << 0 << 0.0 << 1 << 24.0017;
        // Random walk of W codes/sqrt(s): W^2 tau / 3 (1 + 1/(2 m^2)) plus the
        // white part sigma^2 / m, tau = 1.28 s at 100 sps.
        // Catches a walk scaled by readings instead of seconds.
        QTest::newRow("walk 50 at 100 sps") << 0 << 5 << 50.0 << 128 << 32.6654;
    }

    void readings()
    {
        QFETCH(int, gain);
        QFETCH(int, rate);
        QFETCH(double, walk);
        QFETCH(int, m);
        QFETCH(double, expected);
        using namespace vexlo::sim;
        SimBoard board(Model::Tamrix, 5);
        board.setState({true, 4, gain, rate});
        Drift drift;
        drift.walk = walk;
        board.setDrift(drift);
        board.receive("A00000\r");
        std::vector<double> codes;
        for (int i = 0; i < 40000; ++i)
            codes.push_back(board.nextRecord().left(6).toInt(nullptr, 16));
        const std::vector<AllanPoint> allan = ComputeAllanDeviation(codes, vexlo::sim::samplesPerSecond(rate));
        const auto at = std::find_if(allan.begin(), allan.end(), [m](const AllanPoint& p) { return p.clusterSize == m; });
        QVERIFY(at != allan.end());
        QVERIFY2(std::fabs(at->deviation / expected - 1) < 0.08, qPrintable(QString::number(at->deviation)));
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
