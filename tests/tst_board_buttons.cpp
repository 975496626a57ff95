// The data-rate read/set (Command29, Command6) and gain set/read (Command7,
// Command8) buttons against a scripted board on an in-process fake port.

#include <QtTest>

#include <QLineEdit>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"

namespace {

enum Button { RateRead, RateSet, GainSet, GainRead };

void Press(Form1& w, int button)
{
    switch (button) {
    case RateRead: w.Command29_Click(); break;
    case RateSet: w.Command6_Click(); break;
    case GainSet: w.Command7_Click(); break;
    case GainRead: w.Command8_Click(); break;
    }
}

// A window after a good connection check (Gain=32, 100sps selected).
std::unique_ptr<BoardBench> Connected(const BuildProfile& profile, bool tamrix)
{
    auto b = std::make_unique<BoardBench>(profile, tamrix);
    b->w->Button1_Click();
    b->ClearLog();
    return b;
}

} // namespace

class TestBoardButtons : public QObject {
    Q_OBJECT
private slots:
    void notOpen_data();
    void notOpen();
    void measuring_data();
    void measuring();
    void rateRead_data();
    void rateRead();
    void rateSet_data();
    void rateSet();
    void rateSetTyped();
    void gainSet_data();
    void gainSet();
    void gainSetTyped();
    void gainRead_data();
    void gainRead();
};

void TestBoardButtons::notOpen_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("status");
    QTest::newRow("rate read") << int(RateRead) << "COM not open...";
    QTest::newRow("rate set") << int(RateSet) << "COM not open...";
    QTest::newRow("gain set") << int(GainSet) << "comm not open...";
    QTest::newRow("gain read") << int(GainRead) << "comm not open...";
}

// The earlier builds leave every button usable before a check.
void TestBoardButtons::notOpen()
{
    QFETCH(int, button);
    QFETCH(QString, status);
    for (const BuildProfile* profile : {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile}) {
        BoardBench b(*profile, true);
        Press(*b.w, button);
        QCOMPARE(b.w->Status->text(), status);
        QVERIFY(b.port->writes.isEmpty());
    }
}

void TestBoardButtons::measuring_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("rate read") << int(RateRead);
    QTest::newRow("rate set") << int(RateSet);
    QTest::newRow("gain set") << int(GainSet);
    QTest::newRow("gain read") << int(GainRead);
}

// While a measurement runs none of the four buttons touches the board: a
// transaction would discard the incoming samples and disarm the receive event.
void TestBoardButtons::measuring()
{
    QFETCH(int, button);
    auto b = Connected(kVexloDemoProfile, true);
    Form1& w = *b->w;
    w.Status->setText(QStringLiteral("10/100"));
    w.Measuring = true;
    const int gain = w.GainIndex;
    Press(w, button);
    QVERIFY(b->port->writes.isEmpty());
    QCOMPARE(w.Status->text(), QStringLiteral("10/100"));
    QCOMPARE(int(w.GainIndex), gain);
    QCOMPARE(w.Combo1->ListIndex(), 5);
    QCOMPARE(w.Combo3->ListIndex(), 3);
}

void TestBoardButtons::rateRead_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<bool>("tamrix");
    QTest::addColumn<QByteArray>("reply"); // "" = no answer
    QTest::addColumn<int>("rate");         // selection afterwards
    QTest::addColumn<QString>("status");

    const QString ok = QStringLiteral("データレート読出しました");
    const QString v = QStringLiteral("Vexlo 応答エラー");
    const int demo = 0;
    QTest::newRow("code 0") << demo << true << QByteArray("F0\r") << 0 << ok;
    QTest::newRow("code A, Tamrix list") << demo << true << QByteArray("FA\r") << 10 << ok;
    QTest::newRow("non-hex selects 5sps") << demo << true << QByteArray("Fz\r") << 0 << ok;
    QTest::newRow("no answer") << demo << true << QByteArray() << 5 << v;
    QTest::newRow("bare CR") << demo << true << QByteArray("\r") << 5 << v;
    QTest::newRow("one character") << demo << true << QByteArray("F\r") << 5 << v;
    QTest::newRow("code B") << demo << true << QByteArray("FB\r") << 5 << v;
    QTest::newRow("code F") << demo << true << QByteArray("FF\r") << 5 << v;
    QTest::newRow("Selvor code 6") << demo << false << QByteArray("F6\r") << 6 << ok;
    for (char c : QByteArray("789A"))
        QTest::newRow(QByteArray("Selvor code ") + c) << demo << false << QByteArray("F") + c + '\r' << 5 << v;
    QTest::newRow("Tamrix names itself") << 2 << true << QByteArray("FC\r") << 5
                                         << QStringLiteral("Tamrix 応答エラー");
    QTest::newRow("Tamrix good") << 2 << true << QByteArray("F7\r") << 7 << ok;
    QTest::newRow("Vexlo Selvor code 8") << 1 << false << QByteArray("F8\r") << 5 << v;
}

void TestBoardButtons::rateRead()
{
    QFETCH(int, program);
    QFETCH(bool, tamrix);
    const BuildProfile* profiles[] = {&kVexloDemoProfile, &kVexloProfile, &kTamrixProfile};
    const BuildProfile* profile = profiles[program];
    QFETCH(QByteArray, reply);
    QFETCH(int, rate);
    QFETCH(QString, status);

    auto b = Connected(*profile, tamrix);
    Form1& w = *b->w;
    if (reply.isEmpty())
        b->replies.remove("F?");
    else
        b->replies["F?"] = reply;
    w.Command29_Click();
    QCOMPARE(b->received, (QList<QByteArray>{"F?"}));
    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Combo1->ListIndex(), rate);
}

void TestBoardButtons::rateSet_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    const QString done = QStringLiteral("データレート設定完了");
    const QString fail = QStringLiteral("データレート設定できませんでした");
    QTest::newRow("1200sps") << 10 << QByteArray("FA") << QByteArray("OK\r") << done;
    QTest::newRow("5sps") << 0 << QByteArray("F0") << QByteArray("OK\r") << done;
    QTest::newRow("OK and more") << 3 << QByteArray("F3") << QByteArray("OKAY\r") << done;
    QTest::newRow("refused NG") << 3 << QByteArray("F3") << QByteArray("NG\r") << fail;
    QTest::newRow("lower-case ok") << 3 << QByteArray("F3") << QByteArray("ok\r") << fail;
    QTest::newRow("single O") << 3 << QByteArray("F3") << QByteArray("O\r") << fail;
    QTest::newRow("no answer") << 3 << QByteArray("F3") << QByteArray() << fail;
}

void TestBoardButtons::rateSet()
{
    QFETCH(int, index);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);

    auto b = Connected(kVexloDemoProfile, true);
    Form1& w = *b->w;
    w.Combo1->SetListIndex(index);
    if (!reply.isEmpty())
        b->replies[command] = reply;
    w.Command6_Click();
    QCOMPARE(b->received, (QList<QByteArray>{command}));
    QCOMPARE(w.Status->text(), status);
    // A refusal changes nothing on the host side.
    QCOMPARE(w.Combo1->ListIndex(), index);
    QCOMPARE(w.Combo1->ListCount(), 11);
}

// Typed text leaves no entry selected: the code character is "F".
void TestBoardButtons::rateSetTyped()
{
    auto b = Connected(kVexloDemoProfile, true);
    Form1& w = *b->w;
    QTest::keyClicks(w.Combo1->lineEdit(), QStringLiteral("7"));
    QCOMPARE(w.Combo1->ListIndex(), -1);
    b->replies["FF"] = "OK\r";
    w.Command6_Click();
    QCOMPARE(b->received, (QList<QByteArray>{"FF"}));
    QCOMPARE(w.Status->text(), QStringLiteral("データレート設定完了"));
}

void TestBoardButtons::gainSet_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    const QString done = QStringLiteral("ゲイン設定完了");
    const QString fail = QStringLiteral("ゲイン設定できませんでした");
    QTest::newRow("Gain=128") << 5 << QByteArray("G5") << QByteArray("OK\r") << done;
    QTest::newRow("Gain=1") << 0 << QByteArray("G0") << QByteArray("OK,1\r") << done;
    QTest::newRow("refused") << 5 << QByteArray("G5") << QByteArray("NG\r") << fail;
    QTest::newRow("mixed case") << 1 << QByteArray("G1") << QByteArray("Ok\r") << fail;
    QTest::newRow("no answer") << 2 << QByteArray("G2") << QByteArray() << fail;
}

void TestBoardButtons::gainSet()
{
    QFETCH(int, index);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);

    auto b = Connected(kVexloDemoProfile, true);
    Form1& w = *b->w;
    w.Combo3->SetListIndex(index);
    if (!reply.isEmpty())
        b->replies[command] = reply;
    w.Command7_Click();
    QCOMPARE(b->received, (QList<QByteArray>{command}));
    QCOMPARE(w.Status->text(), status);
    // The chosen gain is kept even when the board refused it.
    QCOMPARE(int(w.GainIndex), index);
    QCOMPARE(w.Combo3->ListIndex(), index);
}

void TestBoardButtons::gainSetTyped()
{
    auto b = Connected(kVexloDemoProfile, true);
    Form1& w = *b->w;
    QTest::keyClicks(w.Combo3->lineEdit(), QStringLiteral("x"));
    QCOMPARE(w.Combo3->ListIndex(), -1);
    w.Command7_Click();
    QCOMPARE(b->received, (QList<QByteArray>{"GFFFF"}));
    QCOMPARE(int(w.GainIndex), -1);
    QCOMPARE(w.Status->text(), QStringLiteral("ゲイン設定できませんでした"));
}

void TestBoardButtons::gainRead_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("gain");
    QTest::addColumn<QString>("status");
    const QString read = QStringLiteral("ゲイン設定読出し");
    const QString noRead = QStringLiteral("ゲイン設定読出しできませんでした");
    const QString bad = QStringLiteral("ゲイン設定読出しエラーです");
    QTest::newRow("code 0") << QByteArray("G0\r") << 0 << read;
    QTest::newRow("code 5") << QByteArray("G5\r") << 5 << read;
    QTest::newRow("non-hex selects Gain=1") << QByteArray("G-\r") << 0 << read;
    QTest::newRow("no answer") << QByteArray() << 3 << noRead;
    QTest::newRow("one character") << QByteArray("G\r") << 3 << noRead;
    for (char c : QByteArray("6ABF"))
        QTest::newRow(QByteArray("code ") + c) << QByteArray("G") + c + '\r' << 3 << bad;
}

void TestBoardButtons::gainRead()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, gain);
    QFETCH(QString, status);

    auto b = Connected(kVexloDemoProfile, true);
    Form1& w = *b->w;
    QCOMPARE(int(w.GainIndex), 3);
    if (reply.isEmpty())
        b->replies.remove("G?");
    else
        b->replies["G?"] = reply;
    w.Command8_Click();
    QCOMPARE(b->received, (QList<QByteArray>{"G?"}));
    QCOMPARE(w.Status->text(), status);
    QCOMPARE(int(w.GainIndex), gain);
    QCOMPARE(w.Combo3->ListIndex(), gain);
}

QTEST_MAIN(TestBoardButtons)
#include "tst_board_buttons.moc"
