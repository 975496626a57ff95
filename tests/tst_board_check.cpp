// The connection check (Button1) against a scripted board on an in-process
// fake port: failures A to D and the close after them, a failed opening, and
// how the three programs differ there. Good checks run end to end in
// tst_board_e2e.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"

Q_DECLARE_METATYPE(const BuildProfile*)

namespace {

QList<QPushButton*> BoardButtons(const Form1& w)
{
    return {w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2};
}

// The state every build returns to once the port is closed.
void CheckClosedState(const Form1& w)
{
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(!w.PortOpened);
    if (w.Option_CM)
        QVERIFY(w.Option_CM->isEnabled() && w.Option_RS->isEnabled());
    for (QPushButton* button : BoardButtons(w))
        QCOMPARE(button->isEnabled(), !w.Profile().hasControlStates);
}

} // namespace

class TestBoardCheck : public QObject {
    Q_OBJECT
private slots:
    void failure_data();
    void failure();
    void vexloModelChangeAfterFailure();
};

void TestBoardCheck::failure_data()
{
    QTest::addColumn<const BuildProfile*>("profile");
    QTest::addColumn<bool>("tamrix");
    QTest::addColumn<QByteArray>("command"); // the command answered badly; "open": opening fails
    QTest::addColumn<QByteArray>("reply");   // "" = no answer
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");      // "" = as before the check

    auto row = [](const BuildProfile* p, bool tamrix, const char* name, const QByteArray& command,
                  const QByteArray& reply, const QString& status, const QString& label) {
        QTest::addRow("%s %s", p->programName, name) << p << tamrix << command << reply << status << label;
    };
    const QString good = QStringLiteral("BUF ON / Sinc4");
    const QString c = QStringLiteral("ゲイン設定読出しできませんでした");
    for (const BuildProfile* p : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile}) {
        const QString n = QString::fromUtf8(p->boardName);
        row(p, true, "A silent ?", "?", "", n + QStringLiteral("が応答しませんでした"), "");
        row(p, true, "B S? two characters", "S?", "S1\r", n + QStringLiteral("の応答エラーです"), "???");
        row(p, true, "C G? code 6", "G?", "G6\r", c, good);
        row(p, true, "D F? code B", "F?", "FB\r", n + QStringLiteral(" 応答エラー"), good);
        // The demo keeps what the failed opening wrote; the earlier builds empty Status.
        row(p, true, "open fails", "open", "", p == &kVexloDemoProfile ? "Setting Error" : "", "");
    }
    const BuildProfile* demo = &kVexloDemoProfile;
    row(demo, true, "A silent S?", "S?", "", QStringLiteral("Vexloが応答しませんでした"), "");
    row(demo, true, "C silent G?", "G?", "", c, good);
    row(demo, true, "D silent F?", "F?", "", QStringLiteral("Vexlo 応答エラー"), good);
    // The Selvor list has no entry for the codes 7 to 10.
    row(&kVexloProfile, false, "D Selvor code 7", "F?", "F7\r", QStringLiteral("Vexlo 応答エラー"), good);
}

void TestBoardCheck::failure()
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
    const int rateCountBefore = w.Combo1->ListCount();
    const int rateBefore = w.Combo1->ListIndex();
    const int gainBefore = w.Combo3->ListIndex();

    w.Button1_Click();

    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Label1->text(), label.isEmpty() ? labelBefore : label);
    if (b.port->failOpen) {
        QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
        QVERIFY(b.port->writes.isEmpty() && !b.port->PortOpen());
        CheckClosedState(w);
        return;
    }
    QCOMPARE(b.received.first(), QByteArray("")); // the lone CR after opening
    QCOMPARE(b.received.last(), command);          // the check stops at the failure
    // The port stays open; the only way on is to close.
    QVERIFY(b.port->PortOpen() && w.PortOpened);
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    QVERIFY(w.Button1->isEnabled());
    // A gain read before a failing rate read stays selected.
    QCOMPARE(w.Combo3->ListIndex(), command == "F?" ? 3 : gainBefore);
    const bool statesOn = profile->hasControlStates;
    if (w.Option_CM)
        QCOMPARE(w.Option_CM->isEnabled(), !statesOn);
    for (QPushButton* button : BoardButtons(w))
        QCOMPARE(button->isEnabled(), !statesOn);
    QCOMPARE(w.Combo1->ListCount(), statesOn ? 0 : rateCountBefore);
    if (!statesOn)
        QCOMPARE(w.Combo1->ListIndex(), rateBefore);

    // Closing sends exactly one lone carriage return and keeps Status.
    b.ClearLog();
    w.Button1_Click();
    QCOMPARE(b.port->writes, (QList<QByteArray>{"\r"}));
    QVERIFY(!b.port->PortOpen());
    QCOMPARE(w.Status->text(), status);
    CheckClosedState(w);
}

// In Vexlo a failed check leaves the model options usable while the port
// stays open with the settings it was opened with.
void TestBoardCheck::vexloModelChangeAfterFailure()
{
    BoardBench b(kVexloProfile, true);
    Form1& w = *b.w;
    b.replies.remove("?");
    w.Button1_Click();
    QCOMPARE(w.Status->text(), QStringLiteral("Vexloが応答しませんでした"));

    w.Option_RS->click();
    QCOMPARE(w.windowTitle(), QStringLiteral("Selvor demo"));
    QCOMPARE(w.Combo1->ListCount(), 7);
    QVERIFY(b.port->PortOpen());
    QCOMPARE(b.port->Settings(), QStringLiteral("115200,N,8,1"));
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
}

QTEST_MAIN(TestBoardCheck)
#include "tst_board_check.moc"
