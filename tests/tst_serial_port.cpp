// The serial layer. The real port on pseudo-terminals linked as COM names in
// a temporary config folder: QtCommPort on its own (COM-name resolution,
// stale input, writes, the receive threshold and a far side that hangs up),
// and the window opening, closing and changing it (typed names, line
// settings, the port list). The command transaction (SendCommand and its
// time-out) on the in-process fake port: the outcomes table, no nesting in
// any of the three programs, and closing the window during a wait.
// (Large bursts through the real port: tst_measure_e2e; COM17, com4, COM0,
// blanks and a missing or busy port through the connection check, and
// transactions over the real port: tst_faults and tst_board_check.)

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>
#include <ctime>
#include <thread>
#include <termios.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/QtCommPort.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"
#include "support/ProfileSuite.h"
#include "support/TestPty.h"

namespace {
QString DeviceOf(Form1& w) { return static_cast<QtCommPort*>(w.MSComm1)->DeviceName(); }

// The operator picks entry `index` with the arrow key from the entry above.
void ChoosePort(Form1& w, int index)
{
    w.ComboCommPort->SetListIndex(index - 1);
    QTest::keyClick(w.ComboCommPort, Qt::Key_Down);
}
// A window with its link open on a fake port.
struct FakeBench {
    explicit FakeBench(const BuildProfile& profile = kTamrixProfile) : w(profile, port, &dialogs)
    {
        w.OpenCommPort();
    }
    FakeDialogs dialogs;
    FakeCommPort* port = new FakeCommPort; // owned by the window
    Form1 w;
};
} // namespace

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
        // Without XDG_CONFIG_HOME the links are under $HOME/.config.
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(ComPortLinkFolder(), QDir::homePath() + QStringLiteral("/.config/vexlo/ports"));
    }

    // Catches: bytes that waited before the open taken as input, a write
    // that is not sent as given, receive events raised at threshold 0, a
    // close that drops what Qt's buffer or the driver still holds (the stop
    // or the lone CR written just before closing).
    void onPty()
    {
        ComConfigDir cfg;
        TestPty pty;
        QVERIFY(pty.open() && pty.linkAs(cfg, 4));
        QtCommPort port;
        QVERIFY(!port.Output("x\r")); // closed: writes nothing
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

        // Far more than the pty takes before its far side reads: most of it
        // still waits in Qt's buffer when Close() is called, and must leave.
        const QByteArray sent = QByteArray(256 * 1024, 'x') + "AX\r";
        QVERIFY(port.Output(sent));
        QByteArray got;
        std::thread board([&] { got = pty.readFor(1500); });
        port.Close();
        board.join();
        QVERIFY(!port.PortOpen() && got.size() == sent.size() && got.endsWith("xAX\r"));
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
        QVERIFY(failed.wait(2000) && !port.PortOpen());
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

    void open_data()
    {
        QTest::addColumn<const BuildProfile*>("program");
        QTest::addColumn<QString>("typed");  // "" = the start-up choice "COM4"
        QTest::addColumn<int>("com");        // 0: not opened
        QTest::addColumn<QString>("status"); // on failure
        auto row = [](const BuildProfile* p, const char* typed, int com, const char* status = "") {
            QTest::addRow("%s '%s'", p->programName, typed) << p << QString::fromLatin1(typed) << com
                                                           << QString::fromUtf8(status);
        };
        const BuildProfile *demo = &kVexloDemoProfile, *tamrix = &kTamrixProfile;
        // Tamrix chosen: "115200,N,8,1" (Selvor's 38400: portChangeAndClose;
        // both also in tst_board_check, where the simulator answers only at its own).
        row(demo, "", 4);
        // Typed names: the number after "COM", halves to even, range 1 to 16.
        row(demo, "COM4x", 4);
        row(demo, "COM4.5", 4);
        row(demo, "COM5.5", 6);
        row(demo, "COM16", 16);
        row(demo, "COM&HC", 12); // "&H" and "&O" are read in the COM number only
        row(demo, "COM16.5", 0, "COM番号は1から16です");
        row(demo, "COM", 0, "Setting Error");
        row(&kVexloProfile, "COM17", 0, "可能なCOM番号は1から16です");
        // Tamrix has no range check: the port layer refuses what is not there.
        row(tamrix, "COM20", 0, "Setting Error");
        row(tamrix, "COM1e99", 0, "Setting Error");
    }

    // Catches: a typed name read wrongly (rounding, "&H", range, per program),
    // a failure not shown, the wrong device or line settings.
    void open()
    {
        QFETCH(const BuildProfile*, program);
        QFETCH(QString, typed);
        QFETCH(int, com);
        QFETCH(QString, status);
        ComConfigDir cfg;
        TestPty pty;
        QVERIFY(pty.open() && pty.linkAs(cfg, 4) && pty.linkAs(cfg, 6) && pty.linkAs(cfg, 12) && pty.linkAs(cfg, 16));
        QVERIFY(cfg.link(20, cfg.path() + QStringLiteral("/gone"))); // whatever /dev holds
        FakeDialogs dialogs;
        Form1 w(*program, nullptr, &dialogs);
        if (w.Option_CM)
            w.Option_CM->click();
        if (!typed.isEmpty())
            w.ComboCommPort->SetText(typed);
        w.Status->setText(QStringLiteral("before"));

        w.OpenCommPort();
        QVERIFY(w.PortOpened == (com != 0) && w.MSComm1->PortOpen() == (com != 0) && dialogs.shown.isEmpty());
        QCOMPARE(w.Status->text(), com ? QStringLiteral("before") : status);
        if (!com)
            return;
        QVERIFY(w.MSComm1->CommPortNumber() == com && DeviceOf(w) == pty.slavePath() && w.MSComm1->RThreshold() == 0);
        // The line itself: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow control.
        QVERIFY(w.MSComm1->Settings() == "115200,N,8,1" && pty.baudRate() == 115200);
        termios t{};
        QVERIFY(pty.lineSettings(&t));
        QVERIFY((t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & (PARENB | CSTOPB | CRTSCTS)) && !(t.c_iflag & (IXON | IXOFF)));
    }

    // Catches: a port choice that does not move the open link with its
    // settings, or moves a closed one; a double close that fails or sends; a
    // choice of a missing device that leaves the window "connected".
    void portChangeAndClose()
    {
        ComConfigDir cfg;
        TestPty second, third;
        QVERIFY(second.open() && third.open() && second.linkAs(cfg, 2) && third.linkAs(cfg, 3));
        QVERIFY(cfg.link(9, cfg.path() + QStringLiteral("/gone")));
        FakeDialogs dialogs;
        Form1 w(kVexloDemoProfile, nullptr, &dialogs);
        w.Option_RS->click();
        w.ComboCommPort->SetListIndex(2);
        w.OpenCommPort(); // COM3
        w.Status->setText(QStringLiteral("status"));
        ChoosePort(w, 1); // open: "COM2" takes over silently, at Selvor's speed
        QVERIFY(w.PortOpened && w.MSComm1->CommPortNumber() == 2 && DeviceOf(w) == second.slavePath());
        QVERIFY(second.baudRate() == 38400 && w.Status->text() == QStringLiteral("status"));

        w.CloseCommPort();
        w.PortOpened = true;
        w.CloseCommPort();
        ChoosePort(w, 2); // closed: waits for the next opening
        QVERIFY(!w.PortOpened && !w.MSComm1->PortOpen() && second.readFor(50).isEmpty());
        w.OpenCommPort();
        QVERIFY(w.PortOpened && DeviceOf(w) == third.slavePath());

        // After a connection check, changed to a missing device: the link is
        // down and the controls say "not connected".
        w.EnableControls();
        w.Button1->setText(QStringLiteral("閉じる"));
        w.Option_RS->setEnabled(false);
        ChoosePort(w, 8); // "COM9"
        QVERIFY(!w.MSComm1->PortOpen() && !w.PortOpened);
        QCOMPARE(w.Status->text() + w.ComStatus->text() + w.Button1->text(),
                 QStringLiteral("Setting ErrorCOM Open 失敗 ...接続確認"));
        QVERIFY(w.Button1->isEnabled() && w.Option_RS->isEnabled() && !w.Command6->isEnabled() && !w.SendB2->isEnabled());
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("before"); // waiting in the port, and again in the driver
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<int>>("delays"); // ms after the command, per chunk
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("reply");
        using B = QList<QByteArray>;
        using D = QList<int>;
        const QByteArray no;
        QTest::newRow("CR only") << no << B{"\r"} << D{} << false << "";
        QTest::newRow("CR then more, one read") << no << B{"\rmore"} << D{} << true << "";
        QTest::newRow("ab CR cd") << no << B{"ab\rcd"} << D{} << true << "ab";
        QTest::newRow("silent") << no << B{} << D{} << false << "";
        QTest::newRow("one at a time") << no << B{"O", "K", "\r"} << D{5, 10, 15} << true << "OK";
        QTest::newRow("late CR") << no << B{"ab\rcd", "late\r"} << D{0, 150} << true << "ab";
        QTest::newRow("cut, ended late") << no << B{"par", "tial\r"} << D{0, 150} << false << "";
        QTest::newRow("stream tail waiting") << QByteArray("0123456,0123456,") << B{"OK\r"} << D{} << true << "OK";
        QTest::newRow("LF of the last reply") << QByteArray("\n") << B{"OK\r"} << D{} << true << "OK";
        // The last reply's LF lands after the clear, in front of this reply.
        QTest::newRow("LF after the clear") << no << B{"\n", "OK\r"} << D{0, 5} << true << "OK";
        QTest::newRow("LFs, then a lone CR") << no << B{"\n\n\r"} << D{} << false << "";
    }

    // Catches: a reply taken before its CR or after the time-out, stale input
    // (also still in the driver) or a late CR taken as the next reply, the
    // time-out or receive events left armed.
    void outcomes()
    {
        QFETCH(QByteArray, before);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<int>, delays);
        QFETCH(bool, ok);
        QFETCH(QString, reply);
        FakeBench b;
        // The board's side: every command is answered with the chunks.
        b.port->Feed(before, false);
        b.port->Feed(before); // reached the driver, not yet the program
        b.port->onWrite = [&](const QByteArray&) {
            for (int i = 0; i < chunks.size(); ++i)
                QTimer::singleShot(i < delays.size() ? delays[i] : 0, &b.w,
                                   [&, c = chunks[i]] { b.port->Feed(c, false); });
        };
        b.w.MSComm1->SetRThreshold(1);

        QString got = QStringLiteral("left over");
        QCOMPARE(b.w.SendCommand(QStringLiteral("G?"), got, 100), ok);
        QCOMPARE(got, reply);
        QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"}); // command and CR in one write
        // The time-out is idle again and receive events stay off.
        QVERIFY(b.w.MSComm1->RThreshold() == 0 && !b.w.TimedOut && !b.w.Timer1->isActive() && !b.w.InTransaction());

        // Whatever of this reply is left or still on its way (a late CR
        // included) is not taken as the next transaction's reply.
        QTest::qWait(delays.isEmpty() ? 0 : *std::max_element(delays.begin(), delays.end()) + 50);
        chunks = {"y\r"};
        delays.clear();
        QVERIFY(b.w.SendCommand(QStringLiteral("F?"), got, 100));
        QCOMPARE(got, QStringLiteral("y"));
    }

    void noNesting_data()
    {
        QTest::addColumn<const BuildProfile*>("profile");
        for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile})
            QTest::newRow(p->programName) << p;
    }

    // Catches: a click or a port choice during a wait that starts a second
    // transaction, changes the port or the model under the first, or
    // measures; a nested SendCommand that writes.
    void noNesting()
    {
        QFETCH(const BuildProfile*, profile);
        FakeBench b(*profile);
        b.w.EnableControls(); // as during a connection check: every button usable
        const QString title = b.w.windowTitle();
        bool innerOk = true;
        QTimer::singleShot(10, &b.w, [&] {
            for (QAbstractButton* c : std::initializer_list<QAbstractButton*>{
                     b.w.Option_RS, b.w.Option_CM, b.w.Button1, b.w.Command6, b.w.Command7, b.w.Command8,
                     b.w.Command29, b.w.Command1, b.w.SendB2})
                if (c)
                    QTest::mouseClick(c, Qt::LeftButton);
            QTest::keyClick(b.w.ComboCommPort, Qt::Key_Down); // COM5
            QString inner;
            innerOk = b.w.SendCommand(QStringLiteral("F?"), inner, 100);
        });
        QTimer::singleShot(60, b.port, [&] { b.port->Feed("OK\r", false); });
        QString reply;
        QVERIFY(b.w.SendCommand(QStringLiteral("G?"), reply, 100) && reply == "OK" && !innerOk);
        QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"});
        QVERIFY(b.port->CommPortNumber() == 4 && b.port->PortOpen() && b.w.windowTitle() == title && !b.w.Measuring);
        QVERIFY(b.dialogs.shown.isEmpty());
        // The same clicks once the wait is over do reach their handlers.
        QTest::keyClick(b.w.ComboCommPort, Qt::Key_Down);
        QTest::mouseClick(b.w.Command8, Qt::LeftButton);
        QVERIFY(b.port->CommPortNumber() == 5 && b.port->writes.last() == "G?\r" && b.port->writes.size() == 2);
    }

    // Catches: closing the window during a wait (in the program's own event
    // loop) that leaves the wait running to its time-out, the port open, the
    // program running, or sends more. (The quit button: tst_faults.)
    void closeDuringWait()
    {
        FakeBench b;
        bool ok = true;
        QString reply = QStringLiteral("old");
        QTimer::singleShot(0, &b.w, [&] { ok = b.w.SendCommand(QStringLiteral("G?"), reply, 30000); });
        QTimer::singleShot(20, &b.w, [&] { b.w.close(); });
        QTimer watchdog;
        watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
        watchdog.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!ok && reply.isEmpty() && b.w.QuitDone && !b.port->PortOpen() && !b.w.Timer1->isActive());
        QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"});
    }
};

QTEST_MAIN(TestSerialPort)
#include "tst_serial_port.moc"
