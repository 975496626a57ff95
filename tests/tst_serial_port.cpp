// The real serial port (QtCommPort) on its own: COM-name resolution, the
// settings text, and the port's behaviour on a pseudo-terminal - receive
// threshold, stale input, writes, and a far side that hangs up.

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <sys/resource.h>
#include <termios.h>

#include "serial/QtCommPort.h"
#include "support/TestPty.h"

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    void resolveName();
    void resolveFolderFromHome();
    void parseSettings_data();
    void parseSettings();
    void openAppliesSettings_data();
    void openAppliesSettings();
    void openFailures();
    void staleInputDroppedAtOpen();
    void thresholdEmulation();
    void outputAndInput();
    void hangUpClosesOnceWithoutSpin();
};

void TestSerialPort::resolveName()
{
    ComConfigDir cfg;
    QVERIFY(cfg.link(4, QStringLiteral("/dev/pts/77")));
    QVERIFY(cfg.link(12, QStringLiteral("/nowhere/missing")));
    QCOMPARE(ResolveComPortName(4), QStringLiteral("/dev/pts/77"));
    // A link whose target is gone still names that target; opening fails later.
    QCOMPARE(ResolveComPortName(12), QStringLiteral("/nowhere/missing"));
    QCOMPARE(ResolveComPortName(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(ResolveComPortName(20), QStringLiteral("/dev/ttyS19"));
    QVERIFY(ResolveComPortName(0).isEmpty());
    QVERIFY(ResolveComPortName(-3).isEmpty());
    // A relative target is taken relative to the link's folder.
    QVERIFY(cfg.link(5, QStringLiteral("dev5")));
    QCOMPARE(ResolveComPortName(5), cfg.portsFolder() + QStringLiteral("/dev5"));
}

void TestSerialPort::resolveFolderFromHome()
{
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/op");
    QCOMPARE(ComPortLinkFolder(), QStringLiteral("/home/op/.config/vexlo/ports"));
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    QCOMPARE(ComPortLinkFolder(), QStringLiteral("/home/op/.config/vexlo/ports"));
    qputenv("XDG_CONFIG_HOME", "/cfg");
    QCOMPARE(ComPortLinkFolder(), QStringLiteral("/cfg/vexlo/ports"));
    qputenv("HOME", savedHome);
    if (hadXdg)
        qputenv("XDG_CONFIG_HOME", savedXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

void TestSerialPort::parseSettings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("stop");
    QTest::newRow("tamrix") << "115200,N,8,1" << true << 115200 << int(QSerialPort::NoParity) << 8 << 1;
    QTest::newRow("selvor") << "38400,N,8,1" << true << 38400 << int(QSerialPort::NoParity) << 8 << 1;
    QTest::newRow("even 7 2") << "9600,e,7,2" << true << 9600 << int(QSerialPort::EvenParity) << 7 << 2;
    QTest::newRow("blanks") << " 4800 , O , 5 , 1 " << true << 4800 << int(QSerialPort::OddParity) << 5 << 1;
    QTest::newRow("one and half") << "1200,M,6,1.5" << true << 1200 << int(QSerialPort::MarkParity) << 6 << 3;
    QTest::newRow("empty") << "" << false << 0 << 0 << 0 << 0;
    QTest::newRow("three fields") << "115200,N,8" << false << 0 << 0 << 0 << 0;
    QTest::newRow("five fields") << "115200,N,8,1,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("zero baud") << "0,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("negative baud") << "-9600,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("baud text") << "fast,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("huge baud") << "99999999999999999999,N,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("parity X") << "9600,X,8,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("9 data bits") << "9600,N,9,1" << false << 0 << 0 << 0 << 0;
    QTest::newRow("stop 3") << "9600,N,8,3" << false << 0 << 0 << 0 << 0;
    QTest::newRow("fullwidth digits") << QString::fromUtf8("１１５２００,N,8,1") << false << 0 << 0 << 0 << 0;
}

void TestSerialPort::parseSettings()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    const std::optional<LineSettings> s = ParseLineSettings(text);
    QCOMPARE(s.has_value(), ok);
    if (!ok)
        return;
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, data);
    QFETCH(int, stop);
    QCOMPARE(s->baudRate, baud);
    QCOMPARE(int(s->parity), parity);
    QCOMPARE(int(s->dataBits), data);
    QCOMPARE(int(s->stopBits), stop);
}

void TestSerialPort::openAppliesSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("baud");
    QTest::newRow("tamrix") << "115200,N,8,1" << 115200;
    QTest::newRow("selvor") << "38400,N,8,1" << 38400;
}

void TestSerialPort::openAppliesSettings()
{
    QFETCH(QString, settings);
    QFETCH(int, baud);
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));

    QtCommPort port;
    QVERIFY(port.SetCommPort(4));
    QVERIFY(port.SetSettings(settings));
    QVERIFY(port.Open());
    QVERIFY(port.PortOpen());
    QCOMPARE(port.DeviceName(), pty.slavePath());
    QCOMPARE(port.Settings(), settings);
    QCOMPARE(pty.baudRate(), baud);
    termios t{};
    QVERIFY(pty.lineSettings(&t));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));

    // Settings changed on the open port take effect at once; a bad text
    // leaves the port as it was.
    QVERIFY(port.SetSettings(QStringLiteral("9600,N,8,1")));
    QCOMPARE(pty.baudRate(), 9600);
    QVERIFY(!port.SetSettings(QStringLiteral("9600;N;8;1")));
    QCOMPARE(port.Settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(pty.baudRate(), 9600);

    // Opening twice is refused; closing twice is harmless.
    QVERIFY(!port.Open());
    port.Close();
    port.Close();
    QVERIFY(!port.PortOpen());
}

void TestSerialPort::openFailures()
{
    ComConfigDir cfg;
    QtCommPort port;
    QVERIFY(!port.SetCommPort(0));
    QVERIFY(!port.SetCommPort(-1));
    QCOMPARE(port.CommPortNumber(), 1);
    QVERIFY(cfg.link(7, cfg.path() + QStringLiteral("/no-such-device")));
    QVERIFY(port.SetCommPort(7));
    QVERIFY(!port.Open());
    QVERIFY(!port.PortOpen());
    // A closed port reads nothing and writes nothing.
    QVERIFY(port.Input().isEmpty());
    QVERIFY(!port.Output("x\r"));
}

void TestSerialPort::staleInputDroppedAtOpen()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 3));
    QVERIFY(pty.write("stale bytes\r"));
    QtCommPort port;
    port.SetCommPort(3);
    QVERIFY(port.Open());
    QTest::qWait(50);
    QVERIFY(port.Input().isEmpty());
}

void TestSerialPort::thresholdEmulation()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    QtCommPort port;
    port.SetCommPort(4);
    QVERIFY(port.Open());
    QSignalSpy arrived(&port, &CommPort::BytesArrived);
    QSignalSpy oncomm(&port, &CommPort::OnComm);

    port.SetRThreshold(0);
    QVERIFY(pty.write("abc"));
    QVERIFY(arrived.wait(1000));
    QTest::qWait(20);
    QCOMPARE(oncomm.count(), 0);

    port.SetRThreshold(1);
    QVERIFY(pty.write("def"));
    QTRY_VERIFY(oncomm.count() > 0);
    QCOMPARE(oncomm.first().first().toInt(), int(CommPort::ComEvReceive));
    // The bytes that came while no events were raised were kept.
    QTest::qWait(20);
    QCOMPARE(port.Input(), QByteArray("abcdef"));
}

void TestSerialPort::outputAndInput()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    QtCommPort port;
    port.SetCommPort(4);
    QVERIFY(port.Open());
    QVERIFY(port.Output("G?\r"));
    QCOMPARE(pty.readFor(200), QByteArray("G?\r"));

    // A large burst is kept whole between two reads.
    QByteArray burst;
    for (int i = 0; i < 20000; ++i)
        burst += char('0' + i % 10);
    // The pty holds only a few kilobytes, so the port must keep draining it
    // into its own buffer while the test writes.
    for (qsizetype at = 0; at < burst.size(); at += 1000) {
        QVERIFY(pty.write(burst.mid(at, 1000)));
        QTest::qWait(2);
    }
    QTest::qWait(50);
    QCOMPARE(port.Input(), burst);

    // After ClearInput nothing is left.
    QVERIFY(pty.write("junk"));
    QSignalSpy arrived(&port, &CommPort::BytesArrived);
    QVERIFY(arrived.wait(1000));
    port.ClearInput();
    QVERIFY(port.Input().isEmpty());
}

void TestSerialPort::hangUpClosesOnceWithoutSpin()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    QtCommPort port;
    port.SetCommPort(4);
    QVERIFY(port.Open());
    QSignalSpy failed(&port, &CommPort::PortFailed);

    pty.hangUp();
    QVERIFY(failed.wait(2000));
    QVERIFY(!port.PortOpen());

    // Another second of event processing: no second report, and the process
    // is not busy (a read-error loop would use the whole second).
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(1000);
    const double cpu = cpuSeconds() - cpu0;
    QCOMPARE(failed.count(), 1);
    QVERIFY2(cpu < 0.5 * double(wall.elapsed()) / 1000.0,
             qPrintable(QStringLiteral("CPU %1 s in %2 ms").arg(cpu).arg(wall.elapsed())));
    QVERIFY(!port.Output("x\r"));
    QVERIFY(port.Input().isEmpty());
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
