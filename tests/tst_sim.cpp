// The board simulator, as far as the other tests rely on it and cannot see
// it themselves: the program vexlo-board-sim (used by the demo) serving,
// pacing and ending cleanly. The model's answers are seen by every end-to-end
// test (both models' replies in tst_board_check, record shapes field by field in
// tst_measure_e2e), its fault switches in tst_board_check and tst_faults.
#include <QProcess>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QtTest>

class TestSim : public QObject
{
    Q_OBJECT

private slots:
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
