// OpenCommPort, CloseCommPort and the port change of the window, on the real
// serial port against pseudo-terminals linked as COM names in a temporary
// config folder.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/QtCommPort.h"
#include "support/TestPty.h"

namespace {

class NoDialogs : public Dialogs {
public:
    void Message(QWidget*, const QString&, const QString&) override {}
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    QString GetSaveFileName(QWidget*, const SaveDialogRequest&) override { return {}; }
};

const BuildProfile& profileOf(int kind)
{
    switch (ProgramKind(kind)) {
    case ProgramKind::Vexlo: return kVexloProfile;
    case ProgramKind::Tamrix: return kTamrixProfile;
    default: return kVexloDemoProfile;
    }
}

// The operator types a port name into the box.
void typePort(Form1& w, const QString& text)
{
    w.ComboCommPort->lineEdit()->clear();
    QTest::keyClicks(w.ComboCommPort->lineEdit(), text);
}

// The operator picks an entry from the list.
void choosePort(Form1& w, int index)
{
    w.ComboCommPort->SetListIndex(index);
    emit w.ComboCommPort->activated(index);
}

QtCommPort* realPort(Form1& w)
{
    return qobject_cast<QtCommPort*>(w.MSComm1);
}

} // namespace

class TestSerialOpen : public QObject {
    Q_OBJECT
private slots:
    void lineSettingsByModel_data();
    void lineSettingsByModel();
    void portText_data();
    void portText();
    void portChange();
    void portChangeFailure();
    void closeTwice();
};

void TestSerialOpen::lineSettingsByModel_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<int>("model"); // 0 none, 1 Tamrix, 2 Selvor
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("baud");
    const int demo = int(ProgramKind::VexloDemo);
    QTest::newRow("demo tamrix") << demo << 1 << "115200,N,8,1" << 115200;
    QTest::newRow("demo selvor") << demo << 2 << "38400,N,8,1" << 38400;
    QTest::newRow("demo no model") << demo << 0 << "38400,N,8,1" << 38400;
    QTest::newRow("vexlo tamrix") << int(ProgramKind::Vexlo) << 1 << "115200,N,8,1" << 115200;
    QTest::newRow("vexlo selvor") << int(ProgramKind::Vexlo) << 2 << "38400,N,8,1" << 38400;
    QTest::newRow("tamrix program") << int(ProgramKind::Tamrix) << 0 << "115200,N,8,1" << 115200;
}

void TestSerialOpen::lineSettingsByModel()
{
    QFETCH(int, program);
    QFETCH(int, model);
    QFETCH(QString, settings);
    QFETCH(int, baud);

    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    NoDialogs dialogs;
    Form1 w(profileOf(program), nullptr, &dialogs);
    QVERIFY(realPort(w));
    if (model == 1)
        w.Option_CM->click();
    else if (model == 2)
        w.Option_RS->click();

    // Start-up selected "COM4" from the list.
    QCOMPARE(w.ComboCommPort->ListIndex(), 3);
    w.Status->setText(QStringLiteral("before"));
    w.ComStatus->setText(QStringLiteral("before"));
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    QVERIFY(w.MSComm1->PortOpen());
    QCOMPARE(realPort(w)->DeviceName(), pty.slavePath());
    QCOMPARE(w.MSComm1->Settings(), settings);
    QCOMPARE(pty.baudRate(), baud);
    QCOMPARE(w.MSComm1->RThreshold(), 0);
    // Success writes nothing.
    QCOMPARE(w.Status->text(), QStringLiteral("before"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("before"));
}

void TestSerialOpen::portText_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("com");       // 0: not opened
    QTest::addColumn<QString>("status"); // "" = unchanged

    const int demo = int(ProgramKind::VexloDemo);
    const int vexlo = int(ProgramKind::Vexlo);
    const int tamrix = int(ProgramKind::Tamrix);
    const QString nameError = QStringLiteral("COM 設定エラー");
    const QString setting = QStringLiteral("Setting Error");

    QTest::newRow("COM12") << demo << "COM12" << 12 << "";
    QTest::newRow("COM 5") << demo << "COM 5" << 5 << "";
    QTest::newRow("COM4x") << demo << "COM4x" << 4 << "";
    QTest::newRow("COM4.5 halves to even") << demo << "COM4.5" << 4 << "";
    QTest::newRow("COM5.5 halves to even") << demo << "COM5.5" << 6 << "";
    QTest::newRow("COM16") << demo << "COM16" << 16 << "";
    QTest::newRow("COM17") << demo << "COM17" << 0 << QStringLiteral("COM番号は1から16です");
    QTest::newRow("COM16.5") << demo << "COM16.5" << 0 << QStringLiteral("COM番号は1から16です");
    QTest::newRow("COM1e99") << demo << "COM1e99" << 0 << QStringLiteral("COM番号は1から16です");
    QTest::newRow("com4") << demo << "com4" << 0 << nameError;
    QTest::newRow("PORT4") << demo << "PORT4" << 0 << nameError;
    QTest::newRow("CO") << demo << "CO" << 0 << nameError;
    QTest::newRow(" COM4") << demo << " COM4" << 0 << nameError;
    QTest::newRow("COM") << demo << "COM" << 0 << setting;
    QTest::newRow("COM0") << demo << "COM0" << 0 << setting;
    QTest::newRow("COM-3") << demo << "COM-3" << 0 << setting;
    QTest::newRow("COM0.4") << demo << "COM0.4" << 0 << setting;
    QTest::newRow("missing device") << demo << "COM9" << 0 << setting;
    QTest::newRow("vexlo COM17") << vexlo << "COM17" << 0 << QStringLiteral("可能なCOM番号は1から16です");
    QTest::newRow("vexlo COM12") << vexlo << "COM12" << 12 << "";
    QTest::newRow("tamrix COM20") << tamrix << "COM20" << 0 << setting;
    QTest::newRow("tamrix COM17") << tamrix << "COM17" << 0 << setting;
    QTest::newRow("tamrix COM1e99") << tamrix << "COM1e99" << 0 << setting;
    QTest::newRow("tamrix COM12") << tamrix << "COM12" << 12 << "";
    QTest::newRow("tamrix com4") << tamrix << "com4" << 0 << nameError;
}

void TestSerialOpen::portText()
{
    QFETCH(int, program);
    QFETCH(QString, typed);
    QFETCH(int, com);
    QFETCH(QString, status);

    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    for (int n : {4, 5, 6, 12, 16})
        QVERIFY(pty.linkAs(cfg, n));
    // Devices that do not exist, whatever this machine has in /dev.
    for (int n : {9, 17, 20})
        QVERIFY(cfg.link(n, cfg.path() + QStringLiteral("/gone")));

    NoDialogs dialogs;
    Form1 w(profileOf(program), nullptr, &dialogs);
    if (w.Option_CM)
        w.Option_CM->click();
    typePort(w, typed);
    QCOMPARE(w.ComboCommPort->ListIndex(), -1);
    QCOMPARE(w.ComboCommPort->Text(), typed);

    w.Status->setText(QStringLiteral("before"));
    w.OpenCommPort();
    QCOMPARE(w.PortOpened, com != 0);
    QCOMPARE(w.MSComm1->PortOpen(), com != 0);
    QCOMPARE(w.Status->text(), status.isEmpty() ? QStringLiteral("before") : status);
    if (com != 0) {
        QCOMPARE(w.MSComm1->CommPortNumber(), com);
        QCOMPARE(realPort(w)->DeviceName(), pty.slavePath());
        QCOMPARE(pty.baudRate(), 115200);
    }
}

void TestSerialOpen::portChange()
{
    ComConfigDir cfg;
    TestPty first, second, third;
    QVERIFY(first.open() && second.open() && third.open());
    QVERIFY(first.linkAs(cfg, 4));
    QVERIFY(second.linkAs(cfg, 2));
    QVERIFY(third.linkAs(cfg, 3));

    NoDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    w.Option_RS->click();
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    QCOMPARE(realPort(w)->DeviceName(), first.slavePath());
    w.Status->setText(QStringLiteral("status"));
    w.ComStatus->setText(QStringLiteral("com"));

    // Open: "COM2" moves the link with its settings.
    choosePort(w, 1);
    QVERIFY(w.MSComm1->PortOpen());
    QVERIFY(w.PortOpened);
    QCOMPARE(w.MSComm1->CommPortNumber(), 2);
    QCOMPARE(realPort(w)->DeviceName(), second.slavePath());
    QCOMPARE(w.MSComm1->Settings(), QStringLiteral("38400,N,8,1"));
    QCOMPARE(second.baudRate(), 38400);
    QCOMPARE(w.Status->text(), QStringLiteral("status"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("com"));
    // The link really is on the new device.
    QVERIFY(w.MSComm1->Output("x\r"));
    QCOMPARE(second.readFor(200), QByteArray("x\r"));
    QVERIFY(first.readNow().isEmpty());

    // Closed: nothing happens until the next opening.
    w.CloseCommPort();
    QVERIFY(!w.PortOpened);
    choosePort(w, 2);
    QVERIFY(!w.MSComm1->PortOpen());
    QCOMPARE(w.MSComm1->CommPortNumber(), 2);
    QCOMPARE(w.Status->text(), QStringLiteral("status"));
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    QCOMPARE(realPort(w)->DeviceName(), third.slavePath());
}

void TestSerialOpen::portChangeFailure()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    QVERIFY(cfg.link(9, cfg.path() + QStringLiteral("/gone")));

    NoDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    w.Option_CM->click();
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    // As after a successful connection check.
    w.EnableControls();
    w.Button1->setText(QStringLiteral("閉じる"));
    w.Option_CM->setEnabled(false);
    w.Option_RS->setEnabled(false);

    choosePort(w, 8); // "COM9": nothing there
    QVERIFY(!w.MSComm1->PortOpen());
    QVERIFY(!w.PortOpened);
    QCOMPARE(w.Status->text(), QStringLiteral("Setting Error"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(w.Option_CM->isEnabled());
    QVERIFY(w.Option_RS->isEnabled());
    QVERIFY(!w.Command6->isEnabled());
    QVERIFY(!w.SendB2->isEnabled());
}

void TestSerialOpen::closeTwice()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    NoDialogs dialogs;
    Form1 w(kTamrixProfile, nullptr, &dialogs);
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    w.CloseCommPort();
    QVERIFY(!w.PortOpened);
    QVERIFY(!w.MSComm1->PortOpen());
    w.PortOpened = true; // only the flag is touched on a closed port
    w.CloseCommPort();
    QVERIFY(!w.PortOpened);
    // Nothing was sent on the way.
    QVERIFY(pty.readFor(50).isEmpty());
    // Opening again after a close works (the port is not left locked).
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
}

QTEST_MAIN(TestSerialOpen)
#include "tst_serial_open.moc"
