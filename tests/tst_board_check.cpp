// The connection check (Button1) and the rate and gain buttons (Command29,
// Command6, Command7, Command8) against a scripted board on an in-process
// fake port: failures A to D, a failed opening, replies too short or with a
// code that is no hex digit, refusals, and how the three programs differ.
// Good checks and each button's good answer run end to end in tst_board_e2e.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"
#include "support/ProfileSuite.h"

namespace {
enum Button { RateRead, RateSet, GainSet, GainRead };
// Where a button is pressed. Connected: after a good check (100sps, Gain=32).
enum Setup { VexloClosed, TamrixClosed, DemoMeasuring, Demo, VexloSelvor };
constexpr int kTyped = -1; // select: type an entry's text, which selects no entry
constexpr int kKeep = -2;  // select: leave the selection as the check made it
} // namespace

class TestBoardCheck : public QObject {
    Q_OBJECT
private slots:
    void check_data()
    {
        QTest::addColumn<const BuildProfile*>("profile");
        QTest::addColumn<bool>("tamrix");
        QTest::addColumn<QByteArray>("command"); // answered as `reply`; "open": opening fails
        QTest::addColumn<QByteArray>("reply");   // "" = no answer
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("label");      // "" = as before the check
        QTest::addColumn<int>("gain");           // Combo3's selection afterwards
        auto row = [](const BuildProfile* p, bool tamrix, const char* name, const QByteArray& command,
                      const QByteArray& reply, const char* status, const char* label = "", int gain = -1) {
            QTest::addRow("%s %s", p->programName, name) << p << tamrix << command << reply
                                                         << QString::fromUtf8(status) << QString::fromUtf8(label) << gain;
        };
        const char *good = "BUF ON / Sinc4", *c = "ゲイン設定読出しできませんでした";
        const BuildProfile *demo = &kVexloDemoProfile, *vexlo = &kVexloProfile, *tamrix = &kTamrixProfile;
        row(demo, true, "A silent S?", "S?", "", "Vexloが応答しませんでした");
        row(demo, true, "C silent G?", "G?", "", c, good);
        row(demo, true, "C G? one character", "G?", "G\r", c, good);
        row(demo, true, "D silent F?", "F?", "", "Vexlo 応答エラー", good, 3);
        row(demo, true, "D F? one character", "F?", "F\r", "Vexlo 応答エラー", good, 3);
        // The demo keeps what the failed opening wrote; the others empty Status.
        row(demo, true, "open fails", "open", "", "Setting Error");
        row(vexlo, true, "open fails", "open", "", "");
        row(tamrix, true, "open fails", "open", "", "");
        // Vexlo: the model can change with the port still open.
        row(vexlo, true, "A silent ?", "?", "", "Vexloが応答しませんでした");
        // The Selvor list has no entry for the codes 7 to 10.
        row(vexlo, false, "D Selvor code 7", "F?", "F7\r", "Vexlo 応答エラー", good, 3);
        // Tamrix names its own board.
        row(tamrix, true, "A silent ?", "?", "", "Tamrixが応答しませんでした");
        row(tamrix, true, "B S? two characters", "S?", "S1\r", "Tamrixの応答エラーです", "???");
        row(tamrix, true, "D F? code B", "F?", "FB\r", "Tamrix 応答エラー", good, 3);
        // A code that is no hex digit reads as 0: the check passes.
        row(tamrix, true, "G? code Z", "G?", "GZ\r", "Tamrix : BUF ON, Sinc4", good, 0);
    }

    // Catches: a failure that goes on to the next step, closes the port, loses
    // what was read, or leaves the controls in the wrong state.
    void check()
    {
        QFETCH(const BuildProfile*, profile);
        QFETCH(bool, tamrix);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        QFETCH(QString, label);
        QFETCH(int, gain);
        BoardBench b(*profile, tamrix);
        Form1& w = *b.w;
        b.replies[command] = reply;
        if (reply.isEmpty())
            b.replies.remove(command);
        b.port->failOpen = command == "open";
        const QString labelBefore = w.Label1->text();
        const int rateCountBefore = w.Combo1->ListCount(), rateBefore = w.Combo1->ListIndex();
        const bool statesOn = profile->hasControlStates, passed = status.contains(" : ");

        w.Button1_Click();
        QCOMPARE(w.Status->text(), status);
        QCOMPARE(w.Label1->text(), label.isEmpty() ? labelBefore : label);
        QCOMPARE(w.Combo3->ListIndex(), gain); // a gain read before a failing rate read stays
        if (b.port->failOpen) {
            QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
            QVERIFY(b.port->writes.isEmpty());
        } else {
            QCOMPARE(b.received.first(), QByteArray(""));                        // the lone CR after opening
            QCOMPARE(b.received.last(), passed ? QByteArray("F?") : command);    // the check stops at a failure
            // The port stays open; the only way on is to close.
            QVERIFY(b.port->PortOpen() && w.PortOpened && w.Button1->isEnabled());
            QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
            QVERIFY(!w.Option_CM || w.Option_CM->isEnabled() == !statesOn);
            QVERIFY(BoardButtonsAre(w, !statesOn));
            QCOMPARE(w.Combo1->ListCount(), statesOn ? 0 : rateCountBefore);
            QCOMPARE(w.Combo1->ListIndex(), passed ? 5 : statesOn ? -1 : rateBefore);
            if (w.Option_CM && w.Option_CM->isEnabled()) {
                // The other model refills the list; the open port keeps its settings.
                (tamrix ? w.Option_RS : w.Option_CM)->click();
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
        QVERIFY(BoardButtonsAre(w, !statesOn));
    }

    void press_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("select");
        QTest::addColumn<QByteArray>("sent");  // the command expected, "" = nothing sent
        QTest::addColumn<QByteArray>("reply"); // "" = no answer
        QTest::addColumn<QString>("status");   // "before" = left as it was
        QTest::addColumn<int>("after");        // selection of the button's list afterwards
        auto row = [](const char* name, int setup, int button, int select, const QByteArray& sent,
                      const QByteArray& reply, const char* status, int after) {
            QTest::newRow(name) << setup << button << select << sent << reply << QString::fromUtf8(status) << after;
        };
        // Vexlo and Tamrix leave the buttons usable before a check.
        row("not open: rate read", TamrixClosed, RateRead, kKeep, "", "", "COM not open...", 0);
        row("not open: rate set", VexloClosed, RateSet, kKeep, "", "", "COM not open...", 0);
        row("not open: gain set", TamrixClosed, GainSet, kKeep, "", "", "comm not open...", 0);
        row("not open: gain read", VexloClosed, GainRead, kKeep, "", "", "comm not open...", 0);
        // A transaction while measuring would swallow the samples and disarm
        // the receive event: the buttons do nothing then.
        row("measuring: rate read", DemoMeasuring, RateRead, kKeep, "", "", "before", 5);
        row("measuring: rate set", DemoMeasuring, RateSet, kKeep, "", "", "before", 5);
        row("measuring: gain set", DemoMeasuring, GainSet, kKeep, "", "", "before", 3);
        row("measuring: gain read", DemoMeasuring, GainRead, kKeep, "", "", "before", 3);

        const char *rateError = "Vexlo 応答エラー", *rateRead = "データレート読出しました";
        row("rate read silent", Demo, RateRead, kKeep, "F?", "", rateError, 5);
        row("rate read one character", Demo, RateRead, kKeep, "F?", "F\r", rateError, 5);
        row("rate read Selvor 7", VexloSelvor, RateRead, kKeep, "F?", "F7\r", rateError, 5);
        // Either case is a hex digit; anything else reads as 0.
        row("rate read a", Demo, RateRead, kKeep, "F?", "fa\r", rateRead, 10);
        row("rate read z", Demo, RateRead, kKeep, "F?", "Fz\r", rateRead, 0);
        // Accepted: a reply that starts with "OK", exactly.
        row("rate set OK and more", Demo, RateSet, 3, "F3", "OK3\r", "データレート設定完了", 3);
        row("rate set ok", Demo, RateSet, 3, "F3", "ok\r", "データレート設定できませんでした", 3);
        row("rate set typed", Demo, RateSet, kTyped, "FF", "OK\r", "データレート設定完了", -1);
        // The chosen gain is kept even when the board refuses it.
        row("gain set refused", Demo, GainSet, 5, "G5", "NG\r", "ゲイン設定できませんでした", 5);
        row("gain set OK and more", Demo, GainSet, 5, "G5", "OK,G5\r", "ゲイン設定完了", 5);
        row("gain set typed", Demo, GainSet, kTyped, "GFFFF", "", "ゲイン設定できませんでした", -1);
        row("gain read silent", Demo, GainRead, kKeep, "G?", "", "ゲイン設定読出しできませんでした", 3);
        row("gain read one character", Demo, GainRead, kKeep, "G?", "G\r", "ゲイン設定読出しできませんでした", 3);
        row("gain read 6", Demo, GainRead, kKeep, "G?", "G6\r", "ゲイン設定読出しエラーです", 3);
        row("gain read z", Demo, GainRead, kKeep, "G?", "Gz\r", "ゲイン設定読出し", 0);
    }

    // Catches: a wrong command, a reply misread (case, length, code range, a
    // lower-case "ok"), a transaction while measuring or with the port closed.
    void press()
    {
        QFETCH(int, setup);
        QFETCH(int, button);
        QFETCH(int, select);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        QFETCH(int, after);
        const bool closed = setup == VexloClosed || setup == TamrixClosed;
        const BuildProfile* profiles[] = {&kVexloProfile, &kTamrixProfile, &kVexloDemoProfile,
                                          &kVexloDemoProfile, &kVexloProfile};
        BoardBench b(*profiles[setup], setup != VexloSelvor);
        Form1& w = *b.w;
        if (!closed)
            w.Button1_Click();
        b.ClearLog();
        w.Measuring = setup == DemoMeasuring;
        w.Status->setText(QStringLiteral("before"));
        VbComboBox* list = button == RateRead || button == RateSet ? w.Combo1 : w.Combo3;
        if (select == kTyped) {
            list->SetListIndex(1);
            list->lineEdit()->selectAll();
            QTest::keyClicks(list->lineEdit(), list->itemText(1));
        }
        else if (select >= 0)
            list->SetListIndex(select);
        b.replies[sent] = reply;
        if (reply.isEmpty())
            b.replies.remove(sent);

        (w.*(std::array{&Form1::Command29_Click, &Form1::Command6_Click, &Form1::Command7_Click,
                        &Form1::Command8_Click}[button]))();

        QCOMPARE(b.received, sent.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{sent});
        QCOMPARE(w.Status->text(), status);
        if (closed)
            return;
        QCOMPARE(list->ListIndex(), after);
        QCOMPARE(int(w.GainIndex), w.Combo3->ListIndex());
        QCOMPARE(w.Combo1->ListCount(), setup == VexloSelvor ? 7 : 11);
    }
};

QTEST_MAIN(TestBoardCheck)
#include "tst_board_check.moc"
