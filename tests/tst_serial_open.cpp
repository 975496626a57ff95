// OpenCommPort, CloseCommPort and the port change of the window, on the real
// serial port against pseudo-terminals linked as COM names in a temporary
// config folder.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <termios.h>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/QtCommPort.h"
#include "support/FakeDialogs.h"
#include "support/TestPty.h"

namespace {

QString deviceOf(Form1& w)
{
    auto* port = qobject_cast<QtCommPort*>(w.MSComm1);
    return port ? port->DeviceName() : QString();
}

void choosePort(Form1& w, int index)
{
    w.ComboCommPort->SetListIndex(index);
    emit w.ComboCommPort->activated(index);
}

} // namespace

Q_DECLARE_METATYPE(const BuildProfile*)

class TestSerialOpen : public QObject {
    Q_OBJECT
private slots:
    void open_data();
    void open();
    void portChangeAndClose();
};

void TestSerialOpen::open_data()
{
    QTest::addColumn<const BuildProfile*>("program");
    QTest::addColumn<int>("model");      // 0 none, 1 Tamrix, 2 Selvor
    QTest::addColumn<QString>("typed");  // "" = the start-up choice "COM4"
    QTest::addColumn<int>("com");        // 0: not opened
    QTest::addColumn<QString>("status"); // on failure

    const BuildProfile* demo = &kVexloDemoProfile;
    const BuildProfile* tamrix = &kTamrixProfile;
    const QString range = QStringLiteral("COM番号は1から16です");
    const QString name = QStringLiteral("COM 設定エラー");
    const QString setting = QStringLiteral("Setting Error");
    // Line settings by model ("115200,N,8,1" for Tamrix, else "38400,N,8,1").
    QTest::newRow("demo tamrix") << demo << 1 << "" << 4 << "";
    QTest::newRow("demo selvor") << demo << 2 << "" << 4 << "";
    QTest::newRow("demo no model") << demo << 0 << "" << 4 << "";
    QTest::newRow("tamrix program") << tamrix << 0 << "" << 4 << "";
    // Typed names.
    QTest::newRow("COM12") << demo << 1 << "COM12" << 12 << "";
    QTest::newRow("COM 5") << demo << 1 << "COM 5" << 5 << "";
    QTest::newRow("COM4x") << demo << 1 << "COM4x" << 4 << "";
    QTest::newRow("COM4.5 halves to even") << demo << 1 << "COM4.5" << 4 << "";
    QTest::newRow("COM5.5 halves to even") << demo << 1 << "COM5.5" << 6 << "";
    QTest::newRow("COM16") << demo << 1 << "COM16" << 16 << "";
    QTest::newRow("COM17") << demo << 1 << "COM17" << 0 << range;
    QTest::newRow("COM16.5") << demo << 1 << "COM16.5" << 0 << range;
    QTest::newRow("com4") << demo << 1 << "com4" << 0 << name;
    QTest::newRow("PORT4") << demo << 1 << "PORT4" << 0 << name;
    QTest::newRow("COM") << demo << 1 << "COM" << 0 << setting;
    QTest::newRow("COM0") << demo << 1 << "COM0" << 0 << setting;
    QTest::newRow("missing device") << demo << 1 << "COM9" << 0 << setting;
    QTest::newRow("vexlo COM17") << &kVexloProfile << 1 << "COM17" << 0 << QStringLiteral("可能なCOM番号は1から16です");
    // Tamrix has no range check: the port layer refuses what is not there.
    QTest::newRow("tamrix COM20") << tamrix << 0 << "COM20" << 0 << setting;
    QTest::newRow("tamrix COM1e99") << tamrix << 0 << "COM1e99" << 0 << setting;
    QTest::newRow("tamrix COM12") << tamrix << 0 << "COM12" << 12 << "";
}

void TestSerialOpen::open()
{
    QFETCH(const BuildProfile*, program);
    QFETCH(int, model);
    QFETCH(QString, typed);
    QFETCH(int, com);
    QFETCH(QString, status);

    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    for (int n : {4, 5, 6, 12, 16})
        QVERIFY(pty.linkAs(cfg, n));
    for (int n : {9, 17, 20}) // devices that do not exist, whatever /dev holds
        QVERIFY(cfg.link(n, cfg.path() + QStringLiteral("/gone")));
    FakeDialogs dialogs;
    Form1 w(*program, nullptr, &dialogs);
    if (model)
        (model == 1 ? w.Option_CM : w.Option_RS)->click();
    if (!typed.isEmpty())
        w.ComboCommPort->SetText(typed);
    w.Status->setText(QStringLiteral("before"));

    w.OpenCommPort();
    QCOMPARE(w.PortOpened, com != 0);
    QCOMPARE(w.MSComm1->PortOpen(), com != 0);
    QCOMPARE(w.Status->text(), com ? QStringLiteral("before") : status);
    QVERIFY(dialogs.shown.isEmpty());
    if (!com)
        return;
    QCOMPARE(w.MSComm1->CommPortNumber(), com);
    QCOMPARE(deviceOf(w), pty.slavePath());
    QCOMPARE(w.MSComm1->RThreshold(), 0);
    // The line itself: model's rate, 8 data bits, no parity, 1 stop bit, no flow control.
    const int baud = (program == &kTamrixProfile || model == 1) ? 115200 : 38400;
    QCOMPARE(w.MSComm1->Settings(), QStringLiteral("%1,N,8,1").arg(baud));
    QCOMPARE(pty.baudRate(), baud);
    termios t{};
    QVERIFY(pty.lineSettings(&t));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void TestSerialOpen::portChangeAndClose()
{
    ComConfigDir cfg;
    TestPty first, second, third;
    QVERIFY(first.open() && second.open() && third.open());
    QVERIFY(first.linkAs(cfg, 4) && second.linkAs(cfg, 2) && third.linkAs(cfg, 3));
    QVERIFY(cfg.link(9, cfg.path() + QStringLiteral("/gone")));
    FakeDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    w.Option_RS->click();
    w.OpenCommPort();
    QCOMPARE(deviceOf(w), first.slavePath());
    w.Status->setText(QStringLiteral("status"));
    w.ComStatus->setText(QStringLiteral("com"));

    // Open: choosing "COM2" moves the link with its settings, silently.
    choosePort(w, 1);
    QVERIFY(w.PortOpened && w.MSComm1->PortOpen());
    QCOMPARE(w.MSComm1->CommPortNumber(), 2);
    QCOMPARE(deviceOf(w), second.slavePath());
    QCOMPARE(second.baudRate(), 38400);
    QCOMPARE(w.Status->text() + w.ComStatus->text(), QStringLiteral("statuscom"));

    // Closed (twice: harmless, sends nothing): the change waits for the next opening.
    w.CloseCommPort();
    w.PortOpened = true;
    w.CloseCommPort();
    QVERIFY(!w.PortOpened);
    choosePort(w, 2);
    QVERIFY(!w.MSComm1->PortOpen());
    QVERIFY(second.readFor(50).isEmpty());
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    QCOMPARE(deviceOf(w), third.slavePath());

    // Open after a connection check, changed to a missing device: the link
    // is down and the controls say "not connected".
    w.EnableControls();
    w.Button1->setText(QStringLiteral("閉じる"));
    w.Option_CM->setEnabled(false);
    w.Option_RS->setEnabled(false);
    choosePort(w, 8); // "COM9"
    QVERIFY(!w.MSComm1->PortOpen() && !w.PortOpened);
    QCOMPARE(w.Status->text(), QStringLiteral("Setting Error"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QVERIFY(w.Button1->isEnabled() && w.Option_CM->isEnabled() && w.Option_RS->isEnabled());
    QVERIFY(!w.Command6->isEnabled() && !w.SendB2->isEnabled());
}

QTEST_MAIN(TestSerialOpen)
#include "tst_serial_open.moc"
