// The connection check (Button1) and the rate and gain buttons (Command29,
// Command6, Command7, Command8). Against a scripted board on an in-process
// fake port: failures A to D, a failed opening, replies too short or with a
// code that is no hex digit, refusals, and how the three programs differ.
// End to end (the real port, the simulator on a pseudo-terminal): the good
// check of both models in the three programs and a wrong model, the buttons'
// good answers, reads that time out, and the close. (Failures A and B end to
// end: tst_faults.)

#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <ctime>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"
#include "support/ProfileSuite.h"
#include "support/SimFixture.h"

using vexlo::sim::BoardState;
using vexlo::sim::Faults;
using vexlo::sim::Model;

namespace {
// A connection check: `command` is answered with `reply` ("" no answer;
// "open": opening fails); Status, Label1 and Combo3 afterwards.
struct Check {
    const BuildProfile* profile;
    bool tamrix;
    const char* name;
    QByteArray command, reply;
    QString status, label = "Label1";
    int gain = -1;
};
enum Button { RateRead, RateSet, GainSet, GainRead };
// Where a button is pressed. Connected: after a good check (100sps, Gain=32).
enum Setup { VexloClosed, TamrixClosed, DemoMeasuring, Demo, VexloSelvor };
constexpr int kTyped = -1; // select: type an entry's text, which selects no entry
constexpr int kKeep = -2;  // select: leave the selection as the check made it

// A good check end to end: the program, the board and the window's model
// choice, what the board holds, and Status and Label1 afterwards.
struct EndToEnd {
    const char* name;
    const BuildProfile* profile;
    Model model;
    bool tamrix;
    BoardState board;
    QString status, label;
};

// The board answers `ms` late (only commands beginning with `only`; "" all)
// in the check, the gain read or a start; Status afterwards begins so.
enum LateIn { InCheck, InGainRead, InStart };
struct Late { const char* name; int ms; QByteArray only; LateIn in; QString status; };

// CPU time of the calling (window) thread, in seconds.
double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}
// A button pressed: the command expected ("" nothing sent) and its reply
// ("" none), Status ("before": left as it was) and the list's selection.
struct Press {
    const char* name;
    Setup setup;
    Button button;
    int select;
    QByteArray sent, reply;
    QString status;
    int after;
};
} // namespace
Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(Press)
Q_DECLARE_METATYPE(EndToEnd)
Q_DECLARE_METATYPE(Late)

class TestBoardCheck : public QObject {
    Q_OBJECT
private slots:
    void check_data()
    {
        QTest::addColumn<Check>("c");
        const QString good = "BUF ON / Sinc4", c = "ゲイン設定読出しできませんでした", rate = "Vexlo 応答エラー";
        const BuildProfile *demo = &kVexloDemoProfile, *vexlo = &kVexloProfile, *tamrix = &kTamrixProfile;
        const Check rows[] = {
            {demo, true, "A silent S?", "S?", "", "Vexloが応答しませんでした"},
            {demo, true, "C silent G?", "G?", "", c, good},
            {demo, true, "C G? one character", "G?", "G\r", c, good},
            {demo, true, "D silent F?", "F?", "", rate, good, 3},
            {demo, true, "D F? one character", "F?", "F\r", rate, good, 3},
            // The demo keeps what the failed opening wrote; the others empty Status.
            {demo, true, "open fails", "open", "", "Setting Error"},
            {vexlo, true, "open fails", "open", "", ""},
            {tamrix, true, "open fails", "open", "", ""},
            // Vexlo: the model can change with the port still open.
            {vexlo, true, "A silent ?", "?", "", "Vexloが応答しませんでした"},
            // The Selvor list has no entry for the codes 7 to 10.
            {vexlo, false, "D Selvor code 7", "F?", "F7\r", rate, good, 3},
            // Tamrix names its own board.
            {tamrix, true, "A silent ?", "?", "", "Tamrixが応答しませんでした"},
            {tamrix, true, "B S? two characters", "S?", "S1\r", "Tamrixの応答エラーです", "???"},
            {tamrix, true, "D F? code B", "F?", "FB\r", "Tamrix 応答エラー", good, 3},
            // A code that is no hex digit reads as 0: the check passes.
            {tamrix, true, "G? code Z", "G?", "GZ\r", "Tamrix : BUF ON, Sinc4", good, 0}};
        for (const Check& r : rows)
            QTest::addRow("%s %s", r.profile->programName, r.name) << r;
    }

    // Catches: a failure that goes on to the next step, closes the port, loses
    // what was read, or leaves the controls in the wrong state.
    void check()
    {
        QFETCH(Check, c);
        const auto& [profile, tamrix, name, command, reply, status, label, gain] = c;
        BoardBench b(*profile, tamrix);
        Form1& w = *b.w;
        b.replies[command] = reply;
        if (reply.isEmpty())
            b.replies.remove(command);
        b.port->failOpen = command == "open";
        const int rateCountBefore = w.Combo1->ListCount(), rateBefore = w.Combo1->ListIndex();
        const bool statesOn = profile->hasControlStates, passed = status.contains(" : ");

        w.Button1_Click();
        QCOMPARE(w.Status->text(), status);
        QCOMPARE(w.Label1->text(), label);
        QCOMPARE(w.Combo3->ListIndex(), gain); // a gain read before a failing rate read stays
        if (b.port->failOpen) {
            QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
            QVERIFY(b.port->writes.isEmpty());
        } else {
            // The lone CR after opening first; the check stops at a failure.
            QVERIFY(b.received.first() == "" && b.received.last() == (passed ? QByteArray("F?") : command));
            // The port stays open; the only way on is to close.
            QVERIFY(b.port->PortOpen() && w.PortOpened && w.Button1->isEnabled());
            QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
            QVERIFY(!w.Option_CM || w.Option_CM->isEnabled() == !statesOn);
            QVERIFY(BoardButtonsAre(w, !statesOn));
            QCOMPARE(w.Combo1->ListCount(), statesOn ? 0 : rateCountBefore);
            QCOMPARE(w.Combo1->ListIndex(), passed ? 5 : statesOn ? -1 : rateBefore);
            if (w.Option_CM && w.Option_CM->isEnabled()) { // another model: its list, the open port as it was
                (tamrix ? w.Option_RS : w.Option_CM)->click();
                QVERIFY(w.Combo1->ListCount() == (tamrix ? 7 : 11) && b.port->PortOpen()
                        && b.port->Settings() == (tamrix ? "115200,N,8,1" : "38400,N,8,1"));
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
        QTest::addColumn<Press>("p");
        const QString rateError = "Vexlo 応答エラー", rateRead = "データレート読出しました";
        const QString gainNot = "ゲイン設定読出しできませんでした";
        const Press rows[] = {
            // Vexlo and Tamrix leave the buttons usable before a check.
            {"not open: rate read", TamrixClosed, RateRead, kKeep, "", "", "COM not open...", 0},
            {"not open: rate set", VexloClosed, RateSet, kKeep, "", "", "COM not open...", 0},
            {"not open: gain set", TamrixClosed, GainSet, kKeep, "", "", "comm not open...", 0},
            {"not open: gain read", VexloClosed, GainRead, kKeep, "", "", "comm not open...", 0},
            // A transaction while measuring would swallow the samples and
            // disarm the receive event: the buttons do nothing then.
            {"measuring: rate read", DemoMeasuring, RateRead, kKeep, "", "", "before", 5},
            {"measuring: rate set", DemoMeasuring, RateSet, kKeep, "", "", "before", 5},
            {"measuring: gain set", DemoMeasuring, GainSet, kKeep, "", "", "before", 3},
            {"measuring: gain read", DemoMeasuring, GainRead, kKeep, "", "", "before", 3},
            {"rate read silent", Demo, RateRead, kKeep, "F?", "", rateError, 5},
            {"rate read one character", Demo, RateRead, kKeep, "F?", "F\r", rateError, 5},
            {"rate read Selvor 7", VexloSelvor, RateRead, kKeep, "F?", "F7\r", rateError, 5},
            // Either case is a hex digit; anything else reads as 0.
            {"rate read a", Demo, RateRead, kKeep, "F?", "fa\r", rateRead, 10},
            {"rate read z", Demo, RateRead, kKeep, "F?", "Fz\r", rateRead, 0},
            // Accepted: a reply that starts with "OK", exactly.
            {"rate set OK and more", Demo, RateSet, 3, "F3", "OK3\r", "データレート設定完了", 3},
            {"rate set ok", Demo, RateSet, 3, "F3", "ok\r", "データレート設定できませんでした", 3},
            {"rate set typed", Demo, RateSet, kTyped, "FF", "OK\r", "データレート設定完了", -1},
            // The chosen gain is kept even when the board refuses it.
            {"gain set refused", Demo, GainSet, 5, "G5", "NG\r", "ゲイン設定できませんでした", 5},
            {"gain set OK and more", Demo, GainSet, 5, "G5", "OK,G5\r", "ゲイン設定完了", 5},
            {"gain set typed", Demo, GainSet, kTyped, "GFFFF", "", "ゲイン設定できませんでした", -1},
            {"gain read silent", Demo, GainRead, kKeep, "G?", "", gainNot, 3},
            {"gain read one character", Demo, GainRead, kKeep, "G?", "G\r", gainNot, 3},
            {"gain read 6", Demo, GainRead, kKeep, "G?", "G6\r", "ゲイン設定読出しエラーです", 3},
            {"gain read z", Demo, GainRead, kKeep, "G?", "Gz\r", "ゲイン設定読出し", 0}};
        for (const Press& r : rows)
            QTest::newRow(r.name) << r;
    }

    // Catches: a wrong command, a reply misread (case, length, code range, a
    // lower-case "ok"), a transaction while measuring or with the port closed.
    void press()
    {
        QFETCH(Press, p);
        const auto& [name, setup, button, select, sent, reply, status, after] = p;
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
        QVERIFY(w.GainIndex == w.Combo3->ListIndex() && w.Combo1->ListCount() == (setup == VexloSelvor ? 7 : 11));
    }

    void endToEnd_data()
    {
        QTest::addColumn<EndToEnd>("e");
        const BuildProfile* demo = &kVexloDemoProfile;
        const auto T = Model::Tamrix, S = Model::Selvor;
        const EndToEnd rows[] = {
            {"Demo Tamrix", demo, T, true, {true, 4, 3, 10}, "Vexlo : BUF ON, Sinc4", "BUF ON / Sinc4"},
            {"Demo Selvor", demo, S, false, {false, 4, 0, 6}, "Vexlo : BUF OFF, Sinc4", "BUF OFF / Sinc4"},
            {"Vexlo Selvor", &kVexloProfile, S, false, {false, 3, 5, 6}, "Vexlo : BUF OFF, Sinc3", "BUF OFF / Sinc3"},
            {"Tamrix", &kTamrixProfile, T, true, {true, 3, 1, 8}, "Tamrix : BUF ON, Sinc3", "BUF ON / Sinc3"},
            // A Selvor board listens at 38400 baud only: failure A.
            {"wrong model", demo, S, true, {true, 4, 2, 3}, "Vexloが応答しませんでした", "Label1"}};
        for (const EndToEnd& r : rows)
            QTest::newRow(r.name) << r;
    }

    // Catches: a wrong line speed for a model, a reply misread over the real
    // port, a set or read that does not reach the board or the list, a wait
    // that spins, a close that sends more than one CR.
    void endToEnd()
    {
        QFETCH(EndToEnd, e);
        const auto& [name, profile, model, tamrix, board, status, label] = e;
        SimFixture sim;
        QVERIFY2(sim.start({model, 4, vexlo::sim::RateMode::Flood, 1, board, {}}), qPrintable(sim.error));
        FakeDialogs dialogs;
        Form1 w(*profile, nullptr, &dialogs);
        if (w.Option_CM)
            (tamrix ? w.Option_CM : w.Option_RS)->click();
        w.Button1_Click();

        const QString settings = tamrix ? QStringLiteral("115200,N,8,1") : QStringLiteral("38400,N,8,1");
        QCOMPARE((QStringList{w.ComStatus->text(), w.Status->text(), w.Label1->text(), w.Button1->text()}),
                 (QStringList{settings, status, label, "閉じる"}));
        QVERIFY(w.MSComm1->PortOpen());
        if ((model == Model::Tamrix) != tamrix) {
            QVERIFY(sim.board->commands().isEmpty() && sim.board->ignoredBytes() > 0);
            return;
        }
        QCOMPARE(sim.board->commands(), (QList<QByteArray>{"", "?", "S?", "G?", "F?"}));
        QVERIFY(w.Combo3->ListIndex() == board.gainCode && w.GainIndex == board.gainCode);
        QVERIFY(w.Combo1->ListCount() == (tamrix ? 11 : 7) && w.Combo1->ListIndex() == board.rateCode);
        QVERIFY(BoardButtonsAre(w, true) && (!w.Option_CM || (!w.Option_CM->isEnabled() && !w.Option_RS->isEnabled())));

        // Set rate and gain on the board, then read them back into lists
        // moved elsewhere meanwhile.
        const int rate = board.rateCode - 1, gain = (board.gainCode + 2) % 6;
        QStringList statuses;
        for (const auto& [list, index, press] : {std::tuple{w.Combo1, rate, &Form1::Command6_Click}, {w.Combo3, gain, &Form1::Command7_Click},
                                                 {w.Combo1, 0, &Form1::Command29_Click}, {w.Combo3, 0, &Form1::Command8_Click}}) {
            list->SetListIndex(index);
            (w.*press)();
            statuses << w.Status->text();
        }
        QCOMPARE(statuses, (QStringList{"データレート設定完了", "ゲイン設定完了", "データレート読出しました", "ゲイン設定読出し"}));
        QVERIFY(sim.board->boardState().rateCode == rate && sim.board->boardState().gainCode == gain);
        QVERIFY(w.Combo1->ListIndex() == rate && w.Combo3->ListIndex() == gain);

        // A silent board: each read ends at its 100 ms time-out, and the wait
        // sleeps (a spinning wait would use about all of its time).
        sim.board->setFaults(Faults{true});
        QElapsedTimer wall;
        wall.start();
        const double cpu0 = ThreadCpu();
        for (int i = 0; i < 3; ++i) {
            w.Status->clear();
            w.Command8_Click();
            QCOMPARE(w.Status->text(), QStringLiteral("ゲイン設定読出しできませんでした"));
        }
        const double cpu = ThreadCpu() - cpu0;
        const qint64 ms = wall.elapsed();
        QVERIFY2(ms >= 3 * 95 && ms < 3 * 2000, qPrintable(QString::number(ms)));
        QVERIFY2(cpu < 0.25 * ms / 1000.0, qPrintable(QStringLiteral("CPU %1 s in %2 ms").arg(cpu).arg(ms)));
        sim.board->setFaults(Faults());

        // Close: exactly one lone carriage return reaches the board.
        sim.board->clearLog();
        w.Button1_Click();
        QVERIFY(sim.board->waitForCommands(1, 2000));
        QTest::qWait(50); // anything else would have arrived by now
        QCOMPARE(sim.board->receivedBytes(), QByteArray("\r"));
        QVERIFY(!w.MSComm1->PortOpen() && w.ComStatus->text() == settings && w.Button1->text() == "接続確認");
    }

    void replyTime_data()
    {
        QTest::addColumn<Late>("l");
        const QString ok = "Vexlo : BUF ON, Sinc4", done = "測定終了... ";
        const Late rows[] = {{"check, 70 ms", 70, "", InCheck, ok},
                             {"check, 130 ms", 130, "", InCheck, "Vexloが応答しませんでした"},
                             {"gain read, 70 ms", 70, "", InGainRead, "ゲイン設定読出し"},
                             {"gain read, 130 ms", 130, "", InGainRead, "ゲイン設定読出しできませんでした"},
                             {"start's rate, 70 ms", 70, "F", InStart, done},
                             {"start's rate, 130 ms", 130, "F", InStart, "データレート設定できませんでした"},
                             {"start's gain, 70 ms", 70, "G", InStart, done},
                             {"start's gain, 130 ms", 130, "G", InStart, "ゲイン設定できませんでした"}};
        for (const Late& r : rows)
            QTest::newRow(r.name) << r;
    }

    // Catches: a reply time-out other than 100 ms in the check, a read button
    // or the start's rate and gain commands.
    void replyTime()
    {
        QFETCH(Late, l);
        SimFixture sim;
        QVERIFY2(sim.start({Model::Tamrix, 4, vexlo::sim::RateMode::Flood, 1, {true, 4, 0, 10}, {}}), qPrintable(sim.error));
        FakeDialogs dialogs;
        Form1 w(kVexloDemoProfile, nullptr, &dialogs);
        w.Option_CM->click();
        w.Text1->setText(QStringLiteral("10"));
        if (l.in != InCheck)
            w.Button1_Click();
        Faults f;
        f.lateMs = l.ms;
        f.lateOnly = l.only;
        sim.board->setFaults(f);
        (w.*(std::array{&Form1::Button1_Click, &Form1::Command8_Click, &Form1::SendB2_Click}[l.in]))();
        QTRY_VERIFY_WITH_TIMEOUT(!w.Measuring, 5000);
        QVERIFY2(w.Status->text().startsWith(l.status), qPrintable(w.Status->text()));
    }
};

QTEST_MAIN(TestBoardCheck)
#include "tst_board_check.moc"
