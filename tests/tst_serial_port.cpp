// The real serial port (QtCommPort) on its own: COM-name resolution and the
// port on a pseudo-terminal - stale input, writes,
// the receive threshold and a far side that hangs up. (Large bursts through
// the real port: tst_measure_e2e. The settings texts the programs use reach
// the line in tst_serial_open and tst_board_e2e.)

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <ctime>

#include "serial/QtCommPort.h"
#include "support/TestPty.h"

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    // Catches: a dangling or relative link resolved wrongly, a number with
    // no link not falling back to its tty, links looked for in the wrong folder.
    void resolveName()
    {
        ComConfigDir cfg;
        QVERIFY(cfg.link(12, QStringLiteral("/nowhere/missing")) && cfg.link(5, QStringLiteral("dev5")));
        // A dangling link still names its target: opening fails later.
        QCOMPARE(ResolveComPortName(12), QStringLiteral("/nowhere/missing"));
        QCOMPARE(ResolveComPortName(5), cfg.portsFolder() + QStringLiteral("/dev5")); // relative
        QCOMPARE(ResolveComPortName(20), QStringLiteral("/dev/ttyS19"));
        QVERIFY(ResolveComPortName(0).isEmpty() && ResolveComPortName(-3).isEmpty());
        // Without XDG_CONFIG_HOME the links are under $HOME/.config.
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(ComPortLinkFolder(), QDir::homePath() + QStringLiteral("/.config/vexlo/ports"));
    }

    // Catches: bytes that waited before the open taken as input, a write
    // that is not sent as given, receive events raised at threshold 0.
    void onPty()
    {
        ComConfigDir cfg;
        TestPty pty;
        QVERIFY(pty.open() && pty.linkAs(cfg, 4));
        QtCommPort port;
        QVERIFY(!port.SetCommPort(0));
        QVERIFY(port.Input().isEmpty() && !port.Output("x\r")); // closed: reads and writes nothing
        QVERIFY(pty.write("stale bytes\r")); // waiting before the open: not input of this link
        QVERIFY(port.SetCommPort(4) && port.Open());
        QVERIFY(!port.Open() && port.DeviceName() == pty.slavePath()); // already open
        QVERIFY(port.Output("G?\r"));
        QCOMPARE(pty.readFor(200), QByteArray("G?\r"));
        QVERIFY(port.Input().isEmpty());

        // Threshold 0: bytes arrive without receive events and are kept
        // (threshold 1 drives every measurement: tst_measure_e2e).
        QSignalSpy arrived(&port, &CommPort::BytesArrived);
        QSignalSpy oncomm(&port, &CommPort::OnComm);
        port.SetRThreshold(0);
        QVERIFY(pty.write("abc") && arrived.wait(1000));
        QTest::qWait(20);
        QVERIFY(oncomm.isEmpty() && port.Input() == "abc");
        port.Close();
        port.Close();
        QVERIFY(!port.PortOpen());
    }

    // Catches: a hang-up reported twice or never, a read-error loop that
    // spins the processor, writes to a dead line.
    void hangUpClosesOnceWithoutSpin()
    {
        ComConfigDir cfg;
        TestPty pty;
        QVERIFY(pty.open() && pty.linkAs(cfg, 4));
        QtCommPort port;
        QVERIFY(port.SetCommPort(4) && port.Open());
        QSignalSpy failed(&port, &CommPort::PortFailed);
        pty.hangUp();
        QVERIFY(failed.wait(2000));
        QVERIFY(!port.PortOpen());
        // Another second of events: no second report, and no read-error loop
        // eating the processor (that would use the whole second).
        const std::clock_t cpu0 = std::clock();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(1000);
        const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
        QCOMPARE(failed.count(), 1);
        QVERIFY2(cpu < 0.5 * double(wall.elapsed()) / 1000.0,
                 qPrintable(QStringLiteral("CPU %1 s in %2 ms").arg(cpu).arg(wall.elapsed())));
        QVERIFY(!port.Output("x\r"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
