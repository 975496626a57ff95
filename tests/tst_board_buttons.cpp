// The data-rate read/set (Command29, Command6) and gain set/read (Command7,
// Command8) buttons against a scripted board on an in-process fake port:
// refusals, silence, bad codes and lists with no entry selected. (Each
// button's good answer runs end to end in tst_board_e2e.)

#include <QtTest>

#include <QLineEdit>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"

namespace {
enum Button { RateRead, RateSet, GainSet, GainRead };
// Where the button is pressed. Connected: after a good check (100sps, Gain=32).
enum Setup { VexloClosed, TamrixClosed, DemoMeasuring, Demo, VexloSelvor };
constexpr int kTyped = -1; // select: type text so that no entry is selected
constexpr int kKeep = -2;  // select: leave the selection as the check made it
} // namespace

class TestBoardButtons : public QObject {
    Q_OBJECT
private slots:
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

        row("rate read silent", Demo, RateRead, kKeep, "F?", "", "Vexlo 応答エラー", 5);
        row("rate read B", Demo, RateRead, kKeep, "F?", "FB\r", "Vexlo 応答エラー", 5);
        row("rate read Selvor 7", VexloSelvor, RateRead, kKeep, "F?", "F7\r", "Vexlo 応答エラー", 5);
        row("rate set refused", Demo, RateSet, 3, "F3", "NG\r", "データレート設定できませんでした", 3);
        row("rate set typed", Demo, RateSet, kTyped, "FF", "OK\r", "データレート設定完了", -1);
        // The chosen gain is kept even when the board refuses it.
        row("gain set refused", Demo, GainSet, 5, "G5", "NG\r", "ゲイン設定できませんでした", 5);
        row("gain set typed", Demo, GainSet, kTyped, "GFFFF", "", "ゲイン設定できませんでした", -1);
        row("gain read silent", Demo, GainRead, kKeep, "G?", "", "ゲイン設定読出しできませんでした", 3);
        row("gain read 6", Demo, GainRead, kKeep, "G?", "G6\r", "ゲイン設定読出しエラーです", 3);
    }

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
        if (select == kTyped)
            QTest::keyClicks(list->lineEdit(), QStringLiteral("x"));
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

QTEST_MAIN(TestBoardButtons)
#include "tst_board_buttons.moc"
