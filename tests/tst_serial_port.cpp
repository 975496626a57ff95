// The real serial port (QtCommPort) on its own: COM-name resolution, the
// settings text, and the port on a pseudo-terminal - stale input, writes,
// the receive threshold and a far side that hangs up. (Large bursts through
// the real port: tst_measure_e2e.)

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
    void resolveName()
    {
        {
            ComConfigDir cfg;
            QVERIFY(cfg.link(12, QStringLiteral("/nowhere/missing")) && cfg.link(5, QStringLiteral("dev5")));
            // A dangling link still names its target: opening fails later.
            QCOMPARE(ResolveComPortName(12), QStringLiteral("/nowhere/missing"));
            QCOMPARE(ResolveComPortName(5), cfg.portsFolder() + QStringLiteral("/dev5")); // relative
            QCOMPARE(ResolveComPortName(20), QStringLiteral("/dev/ttyS19"));
            QVERIFY(ResolveComPortName(0).isEmpty() && ResolveComPortName(-3).isEmpty());
        }
        // Without XDG_CONFIG_HOME the links are under $HOME/.config.
        ComConfigDir restoresXdg;
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(ComPortLinkFolder(), QDir::homePath() + QStringLiteral("/.config/vexlo/ports"));
    }

    void parseSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("fields"); // baud, parity, data bits, stop bits; empty: refused
        QTest::newRow("tamrix") << "115200,N,8,1" << QList<int>{115200, QSerialPort::NoParity, 8, 1};
        QTest::newRow("even 7 2") << "9600,e,7,2" << QList<int>{9600, QSerialPort::EvenParity, 7, 2};
        QTest::newRow("blanks") << " 4800 , O , 5 , 1 " << QList<int>{4800, QSerialPort::OddParity, 5, 1};
        QTest::newRow("1.5 stop") << "1200,M,6,1.5" << QList<int>{1200, QSerialPort::MarkParity, 6, 3};
        for (const char* bad : {"", "115200,N,8", "115200,N,8,1,1", "0,N,8,1", "-9600,N,8,1", "fast,N,8,1",
                                "99999999999999999999,N,8,1", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3",
                                "１１５２００,N,8,1"})
            QTest::addRow("bad '%s'", bad) << QString::fromUtf8(bad) << QList<int>{};
    }

    void parseSettings()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, fields);
        const std::optional<LineSettings> s = ParseLineSettings(text);
        QCOMPARE(s.has_value(), !fields.isEmpty());
        if (s)
            QCOMPARE((QList<int>{s->baudRate, int(s->parity), int(s->dataBits), int(s->stopBits)}), fields);
    }

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
        QVERIFY(!port.Open()); // already open
        QCOMPARE(port.DeviceName(), pty.slavePath());
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
        QCOMPARE(oncomm.count(), 0);
        QCOMPARE(port.Input(), QByteArray("abc"));
        port.Close();
        port.Close();
        QVERIFY(!port.PortOpen());
    }

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
