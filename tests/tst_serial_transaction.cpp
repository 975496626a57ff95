// The command transaction (SendCommand and its time-out): the outcomes table
// against the in-process fake port; no nesting in any of the three programs,
// and closing the window during a wait.
// (Transactions over the real port, time-outs that sleep: tst_board_check.)

#include <QRadioButton>
#include <QtTest>

#include "app/Form1.h"
#include "app/VbComboBox.h"
#include "support/FakeCommPort.h"
#include "support/FakeDialogs.h"
#include "support/ProfileSuite.h"

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
        QTest::newRow("high bytes") << no << B{"\xb5\xff\r"} << D{} << true << "\u00b5\u00ff";
        QTest::newRow("stream tail waiting") << QByteArray("0123456,0123456,") << B{"OK\r"} << D{} << true << "OK";
        QTest::newRow("LF of the last reply") << QByteArray("\n") << B{"OK\r"} << D{} << true << "OK";
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
        b.w.Combo1->SetListIndex(0);
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
        QVERIFY(b.port->CommPortNumber() == 4 && b.port->openCount == 1 && b.w.windowTitle() == title);
        QVERIFY(!b.w.Measuring && b.dialogs.shown.isEmpty());
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

QTEST_MAIN(TestSerialTransaction)
#include "tst_serial_transaction.moc"
