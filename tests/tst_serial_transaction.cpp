// The command transaction (SendCommand and its time-out): the outcomes table
// against the in-process fake port, a few rows again against a pseudo-terminal
// peer on the real port; no nesting, and quitting during a wait.

#include <QApplication>
#include <algorithm>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"
#include "support/TestPty.h"

namespace {

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

class TestSerialTransaction : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data();
    void outcomes();
    void closedPortOrQuitSendsNothing();
    void noNesting();
    void quitDuringWait();
};

void TestSerialTransaction::outcomes_data()
{
    QTest::addColumn<bool>("real");         // against a pty peer on the real port
    QTest::addColumn<QByteArray>("before"); // already waiting in the port
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("delays"); // ms after the command, per chunk
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("timesOut");

    using B = QList<QByteArray>;
    using D = QList<int>;
    const QByteArray no;
    const QByteArray tail("0123456,0123456,"); // the end of a sample stream
    QTest::newRow("x CR") << false << no << B{"x\r"} << D{} << true << "x" << false;
    QTest::newRow("CR only") << false << no << B{"\r"} << D{} << false << "" << false;
    QTest::newRow("CR then more, one read") << false << no << B{"\rmore"} << D{} << true << "" << false;
    QTest::newRow("abc, no CR") << false << no << B{"abc"} << D{} << false << "" << true;
    QTest::newRow("ab CR cd") << false << no << B{"ab\rcd"} << D{} << true << "ab" << false;
    QTest::newRow("CR LF") << false << no << B{"OK\r\n"} << D{} << true << "OK" << false;
    QTest::newRow("silent") << false << no << B{} << D{} << false << "" << true;
    QTest::newRow("one at a time") << false << no << B{"O", "K", "\r"} << D{5, 10, 15} << true << "OK" << false;
    QTest::newRow("CR alone, later text") << false << no << B{"\r", "x"} << D{0, 30} << false << "" << false;
    QTest::newRow("after the time-out") << false << no << B{"OK\r"} << D{150} << false << "" << true;
    QTest::newRow("late CR") << false << no << B{"ab\rcd", "late\r"} << D{0, 150} << true << "ab" << false;
    QTest::newRow("cut, ended late") << false << no << B{"par", "tial\r"} << D{0, 150} << false << "" << true;
    QTest::newRow("high bytes") << false << no << B{"\xb5\xff\r"} << D{} << true << "\u00b5\u00ff" << false;
    QTest::newRow("stream tail waiting") << false << tail << B{"OK\r"} << D{} << true << "OK" << false;
    QTest::newRow("old reply") << false << QByteArray("old\r") << B{"OK\r"} << D{} << true << "OK" << false;
    QTest::newRow("pty: answer") << true << tail << B{"G3\r"} << D{} << true << "G3" << false;
    QTest::newRow("pty: ab CR cd") << true << no << B{"ab\rcd"} << D{} << true << "ab" << false;
    QTest::newRow("pty: late CR") << true << no << B{"late\r"} << D{150} << false << "" << true;
}

void TestSerialTransaction::outcomes()
{
    QFETCH(bool, real);
    QFETCH(QByteArray, before);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, delays);
    QFETCH(bool, ok);
    QFETCH(QString, reply);
    QFETCH(bool, timesOut);

    ComConfigDir cfg;
    TestPty pty;
    if (real)
        QVERIFY(pty.open() && pty.linkAs(cfg, 4));
    FakeDialogs dialogs;
    FakeCommPort* fake = real ? nullptr : new FakeCommPort;
    Form1 w(kTamrixProfile, fake, &dialogs);
    w.OpenCommPort();
    QVERIFY(w.PortOpened);
    // The board's side: every command is answered with the chunks.
    QByteArray sent;
    const auto answer = [&](const QByteArray& command) {
        sent += command;
        for (int i = 0; i < chunks.size(); ++i)
            QTimer::singleShot(i < delays.size() ? delays[i] : 0, &w, [&, c = chunks[i]] {
                if (real)
                    pty.write(c);
                else
                    fake->Feed(c, false);
            });
    };
    if (real) {
        pty.write(before);
        QTest::qWait(20);
        pty.answerWith([&](const QByteArray& c) { answer(c + '\r'); return QByteArray(); });
    } else {
        fake->Feed(before, false);
        fake->onWrite = answer;
    }
    w.MSComm1->SetRThreshold(1);

    QString got = QStringLiteral("left over");
    QElapsedTimer t;
    t.start();
    QCOMPARE(w.SendCommand(QStringLiteral("G?"), got, 100), ok);
    const qint64 ms = t.elapsed();
    QCOMPARE(got, reply);
    QCOMPARE(sent, QByteArray("G?\r"));
    if (fake)
        QCOMPARE(fake->writes.size(), 1); // command and CR in one write
    // The time-out is idle again and receive events stay off.
    QCOMPARE(w.MSComm1->RThreshold(), 0);
    QVERIFY(!w.TimedOut && !w.Timer1->isActive() && !w.InTransaction());
    if (timesOut)
        QVERIFY2(ms >= 95 && ms < 2000, qPrintable(QString::number(ms)));

    // Whatever of this reply is left or still on its way (a late CR
    // included) is not taken as the next transaction's reply.
    QTest::qWait(delays.isEmpty() ? 0 : *std::max_element(delays.begin(), delays.end()) + 50);
    chunks = {"y\r"};
    delays.clear();
    QVERIFY(w.SendCommand(QStringLiteral("F?"), got, 100));
    QCOMPARE(got, QStringLiteral("y"));
}

void TestSerialTransaction::closedPortOrQuitSendsNothing()
{
    FakeBench b;
    QString reply = QStringLiteral("old");
    b.port->Close();
    QVERIFY(!b.w.SendCommand(QStringLiteral("G?"), reply, 100) && reply.isEmpty());
    b.port->Open();
    b.w.QuitDone = true;
    reply = QStringLiteral("old");
    QVERIFY(!b.w.SendCommand(QStringLiteral("G?"), reply, 100) && reply.isEmpty());
    QVERIFY(b.port->writes.isEmpty() && !b.w.Timer1->isActive());
}

void TestSerialTransaction::noNesting()
{
    // Vexlo has no control states: every button stays clickable during a
    // wait, so the handlers themselves must refuse to start a second one.
    FakeBench b(kVexloProfile);
    bool innerOk = true;
    QTimer::singleShot(10, &b.w, [&] {
        for (QPushButton* button : {b.w.Button1, b.w.Command6, b.w.Command8, b.w.Command29, b.w.SendB2})
            QTest::mouseClick(button, Qt::LeftButton);
        b.w.ComboCommPort->SetListIndex(1);
        emit b.w.ComboCommPort->activated(1);
        QString inner;
        innerOk = b.w.SendCommand(QStringLiteral("F?"), inner, 100);
    });
    QTimer::singleShot(60, b.port, [&] { b.port->Feed("OK\r", false); });
    QString reply;
    QVERIFY(b.w.SendCommand(QStringLiteral("G?"), reply, 100));
    QCOMPARE(reply, QStringLiteral("OK"));
    QVERIFY(!innerOk);
    QCOMPARE(b.port->writes, QList<QByteArray>{"G?\r"});
    QCOMPARE(b.port->CommPortNumber(), 4);
    QCOMPARE(b.port->openCount, 1);
}

void TestSerialTransaction::quitDuringWait()
{
    // In the application's own event loop, as in the program: the quit
    // button during a wait ends the transaction and then the program.
    FakeBench b;
    bool ok = true;
    QString reply = QStringLiteral("old");
    QTimer::singleShot(0, &b.w, [&] { ok = b.w.SendCommand(QStringLiteral("G?"), reply, 100); });
    QTimer::singleShot(20, &b.w, [&] { QTest::mouseClick(b.w.QuitB, Qt::LeftButton); });
    QTimer watchdog;
    watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
    watchdog.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!ok && reply.isEmpty());
    QVERIFY(b.w.QuitDone && !b.port->PortOpen());
    QVERIFY(!b.w.InTransaction() && !b.w.Timer1->isActive());
}

QTEST_MAIN(TestSerialTransaction)
#include "tst_serial_transaction.moc"
