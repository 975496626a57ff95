// The connection check (Button1) against a scripted board on an in-process
// fake port: failures A to D and the close after them, a failed opening, and
// how the three programs differ there. Good checks and failures with bad
// codes run end to end in tst_board_e2e and tst_faults.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"

Q_DECLARE_METATYPE(const BuildProfile*)

namespace {
// True when every board button is in the state `on`.
bool BoardButtons(const Form1& w, bool on)
{
    for (QPushButton* b : {w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2})
        if (b->isEnabled() != on)
            return false;
    return true;
}
} // namespace

class TestBoardCheck : public QObject {
    Q_OBJECT
private slots:
    void failure_data()
    {
        QTest::addColumn<const BuildProfile*>("profile");
        QTest::addColumn<bool>("tamrix");
        QTest::addColumn<QByteArray>("command"); // answered badly; "open": opening fails
        QTest::addColumn<QByteArray>("reply");   // "" = no answer
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("label");      // "" = as before the check
        auto row = [](const BuildProfile* p, bool tamrix, const char* name, const QByteArray& command,
                      const QByteArray& reply, const char* status, const char* label = "") {
            QTest::addRow("%s %s", p->programName, name)
                << p << tamrix << command << reply << QString::fromUtf8(status) << QString::fromUtf8(label);
        };
        const char *good = "BUF ON / Sinc4", *c = "ゲイン設定読出しできませんでした";
        const BuildProfile *demo = &kVexloDemoProfile, *vexlo = &kVexloProfile, *tamrix = &kTamrixProfile;
        row(demo, true, "A silent S?", "S?", "", "Vexloが応答しませんでした");
        row(demo, true, "C silent G?", "G?", "", c, good);
        row(demo, true, "D silent F?", "F?", "", "Vexlo 応答エラー", good);
        // The demo keeps what the failed opening wrote; the earlier builds empty Status.
        row(demo, true, "open fails", "open", "", "Setting Error");
        row(vexlo, true, "open fails", "open", "", "");
        // Vexlo: the model can change with the port still open.
        row(vexlo, true, "A silent ?", "?", "", "Vexloが応答しませんでした");
        // The Selvor list has no entry for the codes 7 to 10.
        row(vexlo, false, "D Selvor code 7", "F?", "F7\r", "Vexlo 応答エラー", good);
        // Tamrix names its own board.
        row(tamrix, true, "A silent ?", "?", "", "Tamrixが応答しませんでした");
        row(tamrix, true, "B S? two characters", "S?", "S1\r", "Tamrixの応答エラーです", "???");
        row(tamrix, true, "D F? code B", "F?", "FB\r", "Tamrix 応答エラー", good);
    }

    void failure()
    {
        QFETCH(const BuildProfile*, profile);
        QFETCH(bool, tamrix);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        QFETCH(QString, label);
        BoardBench b(*profile, tamrix);
        Form1& w = *b.w;
        b.replies[command] = reply;
        if (reply.isEmpty())
            b.replies.remove(command);
        b.port->failOpen = command == "open";
        const QString labelBefore = w.Label1->text();
        const int rateCountBefore = w.Combo1->ListCount(), rateBefore = w.Combo1->ListIndex();
        const int gainBefore = w.Combo3->ListIndex();
        const bool statesOn = profile->hasControlStates;

        w.Button1_Click();
        QCOMPARE(w.Status->text(), status);
        QCOMPARE(w.Label1->text(), label.isEmpty() ? labelBefore : label);
        if (b.port->failOpen) {
            QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
            QVERIFY(b.port->writes.isEmpty());
        } else {
            QCOMPARE(b.received.first(), QByteArray("")); // the lone CR after opening
            QCOMPARE(b.received.last(), command);          // the check stops at the failure
            // The port stays open; the only way on is to close.
            QVERIFY(b.port->PortOpen() && w.PortOpened && w.Button1->isEnabled());
            QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
            // A gain read before a failing rate read stays selected.
            QCOMPARE(w.Combo3->ListIndex(), command == "F?" ? 3 : gainBefore);
            QVERIFY(!w.Option_CM || w.Option_CM->isEnabled() == !statesOn);
            QVERIFY(BoardButtons(w, !statesOn));
            QCOMPARE(w.Combo1->ListCount(), statesOn ? 0 : rateCountBefore);
            QVERIFY(statesOn || w.Combo1->ListIndex() == rateBefore);
            if (w.Option_CM && w.Option_CM->isEnabled()) {
                // The other model refills the list; the open port keeps its settings.
                (tamrix ? w.Option_RS : w.Option_CM)->click();
                QCOMPARE(w.windowTitle(), tamrix ? QStringLiteral("Selvor demo") : QStringLiteral("Tamrix demo"));
                QCOMPARE(w.Combo1->ListCount(), tamrix ? 7 : 11);
                QVERIFY(b.port->PortOpen() && w.Button1->text() == QStringLiteral("閉じる"));
                QCOMPARE(b.port->Settings(), tamrix ? QStringLiteral("115200,N,8,1") : QStringLiteral("38400,N,8,1"));
            }
            // Closing sends exactly one lone carriage return and keeps Status.
            b.ClearLog();
            w.Button1_Click();
            QCOMPARE(b.port->writes, (QList<QByteArray>{"\r"}));
            QCOMPARE(w.Status->text(), status);
        }
        // The state every build returns to once the port is closed.
        QVERIFY(!b.port->PortOpen() && !w.PortOpened && w.Button1->isEnabled());
        QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
        QVERIFY(!w.Option_CM || (w.Option_CM->isEnabled() && w.Option_RS->isEnabled()));
        QVERIFY(BoardButtons(w, !statesOn));
    }
};

QTEST_MAIN(TestBoardCheck)
#include "tst_board_check.moc"
