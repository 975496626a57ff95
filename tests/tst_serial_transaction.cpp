// The command transaction (SendCommand and its time-out), FlushCommPort, and
// what the window does when the device goes away: against the in-process
// fake port for the exact outcomes, and against a pseudo-terminal peer on the
// real port.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/Dialogs.h"
#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "serial/QtCommPort.h"
#include "support/FakeCommPort.h"
#include "support/TestPty.h"

namespace {

class NoDialogs : public Dialogs {
public:
    void Message(QWidget*, const QString&, const QString&) override {}
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    QString GetSaveFileName(QWidget*, const SaveDialogRequest&) override { return {}; }
};

// A window on an open fake port whose board answers each write with the
// scripted chunks, each after its own delay (ms).
struct FakeBench {
    explicit FakeBench(const BuildProfile& profile = kVexloDemoProfile)
    {
        port = new FakeCommPort;
        w = std::make_unique<Form1>(profile, port, &dialogs);
        if (w->Option_CM)
            w->Option_CM->click();
        port->SetCommPort(4);
        port->Open();
        port->onWrite = [this](const QByteArray&) {
            for (int i = 0; i < chunks.size(); ++i) {
                const QByteArray c = chunks[i];
                const int delay = i < delays.size() ? delays[i] : 0;
                QTimer::singleShot(delay, port, [p = port, c] { p->Feed(c, false); });
            }
        };
    }
    // Runs one transaction; returns its result, the reply and the time taken.
    bool send(const QString& command, QString* reply, qint64* ms = nullptr)
    {
        QElapsedTimer t;
        t.start();
        const bool ok = w->SendCommand(command, *reply, 100);
        if (ms)
            *ms = t.elapsed();
        return ok;
    }

    NoDialogs dialogs;
    FakeCommPort* port = nullptr;
    std::unique_ptr<Form1> w;
    QList<QByteArray> chunks;
    QList<int> delays;
};

void choosePort(Form1& w, int index)
{
    w.ComboCommPort->SetListIndex(index);
    emit w.ComboCommPort->activated(index);
}

// The window as a passed connection check leaves it.
void showConnected(Form1& w)
{
    w.EnableControls();
    w.Button1->setText(QStringLiteral("閉じる"));
    if (w.Option_CM) {
        w.Option_CM->setEnabled(false);
        w.Option_RS->setEnabled(false);
    }
}

} // namespace

Q_DECLARE_METATYPE(QList<int>)

class TestSerialTransaction : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data();
    void outcomes();
    void inputBeforeCommandIsNotReply();
    void lateBytesDiscardedNextTime();
    void waitingBytesUnreadWhenTimeOutSeen();
    void closedPortAndQuitDone();
    void noNesting();
    void clicksIgnoredDuringWait();
    void flushCommPort();
    void ptyPeer_data();
    void ptyPeer();
    void ptyLateReply();
    void hangUpDuringTransaction();
    void hangUpWhileMeasuring();
    void quitDuringWait();
};

void TestSerialTransaction::outcomes_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("timesOut");

    using B = QList<QByteArray>;
    using D = QList<int>;
    QTest::newRow("x CR") << B{"x\r"} << D{} << true << "x" << false;
    QTest::newRow("CR only") << B{"\r"} << D{} << false << "" << false;
    QTest::newRow("CR then more, one read") << B{"\rmore"} << D{} << true << "" << false;
    QTest::newRow("abc, no CR") << B{"abc"} << D{} << false << "" << true;
    QTest::newRow("ab CR cd") << B{"ab\rcd"} << D{} << true << "ab" << false;
    QTest::newRow("CR LF") << B{"OK\r\n"} << D{} << true << "OK" << false;
    QTest::newRow("silent") << B{} << D{} << false << "" << true;
    QTest::newRow("one at a time") << B{"O", "K", "\r"} << D{5, 10, 15} << true << "OK" << false;
    QTest::newRow("CR alone, later text") << B{"\r", "x"} << D{0, 30} << false << "" << false;
    QTest::newRow("after the time-out") << B{"OK\r"} << D{150} << false << "" << true;
    QTest::newRow("high bytes kept") << B{"\xb5\xff\r"} << D{} << true << QString::fromLatin1("\xb5\xff") << false;
}

void TestSerialTransaction::outcomes()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, delays);
    QFETCH(bool, ok);
    QFETCH(QString, reply);
    QFETCH(bool, timesOut);

    FakeBench b;
    b.chunks = chunks;
    b.delays = delays;
    b.port->SetRThreshold(1);
    QString got = QStringLiteral("left over");
    qint64 ms = 0;
    QCOMPARE(b.send(QStringLiteral("G?"), &got, &ms), ok);
    QCOMPARE(got, reply);
    // One write: the command and one carriage return.
    QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"});
    // The time-out is idle again and receive events stay off.
    QCOMPARE(b.port->RThreshold(), 0);
    QVERIFY(!b.w->TimedOut);
    QVERIFY(!b.w->Timer1->isActive());
    QVERIFY(!b.w->InTransaction());
    if (timesOut) {
        QVERIFY2(ms >= 95, qPrintable(QString::number(ms)));
        QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
    }
}

void TestSerialTransaction::inputBeforeCommandIsNotReply()
{
    FakeBench b;
    b.port->Feed("0123456,0123456,", false); // the end of a stream
    b.chunks = {"OK\r"};
    QString reply;
    QVERIFY(b.send(QStringLiteral("F5"), &reply));
    QCOMPARE(reply, QStringLiteral("OK"));
}

void TestSerialTransaction::lateBytesDiscardedNextTime()
{
    FakeBench b;
    // "cd" of the first reply, and a CR that comes after the time-out.
    b.chunks = {"ab\rcd", "late\r"};
    b.delays = {0, 150};
    QString reply;
    QVERIFY(b.send(QStringLiteral("G?"), &reply));
    QCOMPARE(reply, QStringLiteral("ab"));
    QTest::qWait(250); // the late CR is now waiting in the port
    b.chunks = {"y\r"};
    b.delays = {};
    QVERIFY(b.send(QStringLiteral("F?"), &reply));
    QCOMPARE(reply, QStringLiteral("y"));

    // A reply cut off by the time-out, completed later.
    b.chunks = {"par", "tial\r"};
    b.delays = {0, 150};
    QVERIFY(!b.send(QStringLiteral("S?"), &reply));
    QTest::qWait(250);
    b.chunks = {"z\r"};
    b.delays = {};
    QVERIFY(b.send(QStringLiteral("?"), &reply));
    QCOMPARE(reply, QStringLiteral("z"));
}

void TestSerialTransaction::waitingBytesUnreadWhenTimeOutSeen()
{
    // The reply lands in the port in the same event pass as the tick: the
    // loop sees the time-out before it reads again, so the transaction fails
    // and the bytes are left for the next one to discard.
    FakeBench b;
    QObject::connect(b.w->Timer1, &QTimer::timeout, b.port, [p = b.port] { p->Feed("OK\r", false); });
    QString reply;
    QVERIFY(!b.send(QStringLiteral("G?"), &reply));
    QCOMPARE(reply, QString());
    QCOMPARE(b.port->Input(), QByteArray("OK\r"));
}

void TestSerialTransaction::closedPortAndQuitDone()
{
    FakeBench b;
    b.chunks = {"OK\r"};
    b.port->Close();
    QString reply = QStringLiteral("old");
    QVERIFY(!b.send(QStringLiteral("G?"), &reply));
    QCOMPARE(reply, QString());
    QVERIFY(b.port->writes.isEmpty());
    QVERIFY(!b.w->Timer1->isActive());

    b.port->Open();
    b.w->QuitDone = true;
    reply = QStringLiteral("old");
    QVERIFY(!b.send(QStringLiteral("G?"), &reply));
    QCOMPARE(reply, QString());
    QVERIFY(b.port->writes.isEmpty());
}

void TestSerialTransaction::noNesting()
{
    FakeBench b;
    b.chunks = {"OK\r"};
    b.delays = {40};
    bool sawTransaction = false;
    bool innerOk = true;
    QString innerReply = QStringLiteral("old");
    QTimer::singleShot(10, b.w.get(), [&] {
        sawTransaction = b.w->InTransaction();
        innerOk = b.w->SendCommand(QStringLiteral("F?"), innerReply, 100);
    });
    QString reply;
    QVERIFY(b.send(QStringLiteral("G?"), &reply));
    QCOMPARE(reply, QStringLiteral("OK"));
    QVERIFY(sawTransaction);
    QVERIFY(!innerOk);
    QCOMPARE(innerReply, QString());
    QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"});
}

void TestSerialTransaction::clicksIgnoredDuringWait()
{
    // Vexlo: no control states, every button is enabled.
    FakeBench b(kVexloProfile);
    b.chunks = {"OK\r"};
    b.delays = {60};
    QTimer::singleShot(10, b.w.get(), [&] {
        for (QPushButton* button : {b.w->Button1, b.w->Command6, b.w->Command7, b.w->Command8,
                                    b.w->Command29, b.w->SendB2}) {
            QVERIFY(button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
            button->click();
        }
        choosePort(*b.w, 1);
    });
    QString reply;
    QVERIFY(b.send(QStringLiteral("G?"), &reply));
    QCOMPARE(reply, QStringLiteral("OK"));
    QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"});
    QVERIFY(b.port->PortOpen());
    QCOMPARE(b.port->CommPortNumber(), 4);
    QCOMPARE(b.port->openCount, 1);
}

void TestSerialTransaction::flushCommPort()
{
    FakeBench b;
    b.port->Close();
    b.w->FlushCommPort();
    QVERIFY(b.port->writes.isEmpty());

    b.port->Open();
    b.port->Feed("stale", false);
    b.w->FlushCommPort();
    QCOMPARE(b.port->writes, QList<QByteArray>{"\r"});
    QVERIFY(b.port->Input().isEmpty());
    QVERIFY(!b.w->Timer1->isActive());
}

void TestSerialTransaction::ptyPeer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("reply");
    QTest::newRow("answer") << QByteArray("G3\r") << true << "G3";
    QTest::newRow("CR only") << QByteArray("\r") << false << "";
    QTest::newRow("ab CR cd") << QByteArray("ab\rcd") << true << "ab";
    QTest::newRow("no CR") << QByteArray("abc") << false << "";
    QTest::newRow("silent") << QByteArray() << false << "";
}

void TestSerialTransaction::ptyPeer()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, ok);
    QFETCH(QString, reply);

    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    NoDialogs dialogs;
    Form1 w(kTamrixProfile, nullptr, &dialogs);
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    QVERIFY(pty.write("stream tail"));
    QTest::qWait(20);
    QByteArray command;
    pty.answerWith([&](const QByteArray& c) {
        command = c;
        return answer;
    });

    QString got;
    QCOMPARE(w.SendCommand(QStringLiteral("G?"), got, 100), ok);
    QCOMPARE(got, reply);
    QCOMPARE(command, QByteArray("G?"));
    QCOMPARE(pty.received(), QByteArray("G?\r"));

    // The next transaction starts clean whatever was left over.
    pty.answerWith([](const QByteArray&) { return QByteArray("OK\r"); });
    QVERIFY(w.SendCommand(QStringLiteral("F5"), got, 100));
    QCOMPARE(got, QStringLiteral("OK"));
}

void TestSerialTransaction::ptyLateReply()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    NoDialogs dialogs;
    Form1 w(kTamrixProfile, nullptr, &dialogs);
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    pty.answerWith([&](const QByteArray&) {
        QTimer::singleShot(150, [&] { pty.write("late\r"); });
        return QByteArray();
    });
    QString got;
    QVERIFY(!w.SendCommand(QStringLiteral("?"), got, 100));
    QTest::qWait(200);
    pty.answerWith([](const QByteArray&) { return QByteArray("Vexlo\r"); });
    QVERIFY(w.SendCommand(QStringLiteral("?"), got, 100));
    QCOMPARE(got, QStringLiteral("Vexlo"));
}

void TestSerialTransaction::hangUpDuringTransaction()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    NoDialogs dialogs;
    Form1 w(kVexloDemoProfile, nullptr, &dialogs);
    w.Option_CM->click();
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    showConnected(w);

    // The board disappears the moment it gets the command.
    pty.answerWith([&](const QByteArray&) {
        QTimer::singleShot(0, [&] { pty.hangUp(); });
        return QByteArray();
    });
    QString got = QStringLiteral("old");
    QVERIFY(!w.SendCommand(QStringLiteral("G?"), got, 100));
    QCOMPARE(got, QString());
    QVERIFY(!w.MSComm1->PortOpen());
    QVERIFY(!w.PortOpened);

    // The closed-link state shows once the waiting handler has finished.
    QTRY_COMPARE(w.Status->text(), QStringLiteral("COMポートが切断されました"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("COM切断"));
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(w.Option_CM->isEnabled());
    QVERIFY(w.Option_RS->isEnabled());
    QVERIFY(!w.Command6->isEnabled());
    QVERIFY(!w.SendB2->isEnabled());
    QCOMPARE(w.Combo1->count(), 0);
    // Later transactions fail at once.
    QVERIFY(!w.SendCommand(QStringLiteral("G?"), got, 100));
}

void TestSerialTransaction::hangUpWhileMeasuring()
{
    ComConfigDir cfg;
    TestPty pty;
    QVERIFY(pty.open());
    QVERIFY(pty.linkAs(cfg, 4));
    NoDialogs dialogs;
    Form1 w(kTamrixProfile, nullptr, &dialogs);
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    w.Button1->setText(QStringLiteral("閉じる"));
    w.Measuring = true;
    w.MSComm1->SetRThreshold(1);
    w.SendB2->setText(QStringLiteral("測定停止"));

    pty.hangUp();
    QTRY_VERIFY(!w.MSComm1->PortOpen());
    QVERIFY(!w.Measuring);
    QVERIFY(!w.PortOpened);
    QCOMPARE(w.SendB2->text(), QStringLiteral("測定開始"));
    QCOMPARE(w.Status->text(), QStringLiteral("COMポートが切断されました"));
    QCOMPARE(w.ComStatus->text(), QStringLiteral("COM切断"));
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    // Tamrix has no control states: the buttons stay usable.
    QVERIFY(w.Command6->isEnabled());
}

void TestSerialTransaction::quitDuringWait()
{
    // Runs in the application's own event loop, as in the program: the quit
    // button during a wait ends the transaction and the program.
    FakeBench b;
    bool done = false;
    bool ok = true;
    QString reply = QStringLiteral("old");
    QTimer::singleShot(0, b.w.get(), [&] {
        ok = b.w->SendCommand(QStringLiteral("G?"), reply, 100);
        done = true;
    });
    QTimer::singleShot(20, b.w.get(), [&] { QTest::mouseClick(b.w->QuitB, Qt::LeftButton); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(3); });
    watchdog.start(5000);
    const int rc = QApplication::exec();
    QCOMPARE(rc, 0);
    QVERIFY(done);
    QVERIFY(!ok);
    QCOMPARE(reply, QString());
    QVERIFY(b.w->QuitDone);
    QVERIFY(!b.port->PortOpen());
    QVERIFY(!b.w->InTransaction());
    QVERIFY(!b.w->Timer1->isActive());
}

QTEST_MAIN(TestSerialTransaction)
#include "tst_serial_transaction.moc"
