// The connection check and close of Button1 against a scripted board on an
// in-process fake port, for the three programs.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "app/VbComboBox.h"
#include "support/BoardBench.h"

namespace {

enum Program { Demo, Vexlo, Tamrix };

const BuildProfile& ProfileOf(int program)
{
    switch (program) {
    case Vexlo: return kVexloProfile;
    case Tamrix: return kTamrixProfile;
    default: return kVexloDemoProfile;
    }
}

const char* NameOf(int program)
{
    return program == Vexlo ? "Vexlo" : program == Tamrix ? "Tamrix" : "Demo";
}

QList<QPushButton*> BoardButtons(const Form1& w)
{
    return {w.Command6, w.Command7, w.Command8, w.Command29, w.Command1, w.SendB2};
}

// Stands for "the text Label1 had before the check".
const QString kUnchanged = QStringLiteral("<unchanged>");

} // namespace

class TestBoardCheck : public QObject {
    Q_OBJECT
private slots:
    void goodCheck_data();
    void goodCheck();
    void failure_data();
    void failure();
    void close_data();
    void close();
    void failedOpen_data();
    void failedOpen();
    void vexloModelChangeAfterFailure();
};

void TestBoardCheck::goodCheck_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<bool>("tamrix");
    QTest::addColumn<QByteArray>("s");
    QTest::addColumn<QByteArray>("g");
    QTest::addColumn<QByteArray>("f");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("gain");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("rateCount");
    QTest::addColumn<QString>("settings");

    const QString t = QStringLiteral("115200,N,8,1");
    const QString s = QStringLiteral("38400,N,8,1");
    QTest::newRow("Demo Tamrix on/Sinc4") << int(Demo) << true << QByteArray("S14\r") << QByteArray("G3\r")
        << QByteArray("F5\r") << QStringLiteral("Vexlo : BUF ON, Sinc4") << QStringLiteral("BUF ON / Sinc4")
        << 3 << 5 << 11 << t;
    QTest::newRow("Demo Selvor off/Sinc3") << int(Demo) << false << QByteArray("S03\r") << QByteArray("G0\r")
        << QByteArray("F6\r") << QStringLiteral("Vexlo : BUF OFF, Sinc3") << QStringLiteral("BUF OFF / Sinc3")
        << 0 << 6 << 7 << s;
    QTest::newRow("Demo on/Sinc3, non-hex gain, 1200sps") << int(Demo) << true << QByteArray("S13\r")
        << QByteArray("GZ\r") << QByteArray("FA\r") << QStringLiteral("Vexlo : BUF ON, Sinc3")
        << QStringLiteral("BUF ON / Sinc3") << 0 << 10 << 11 << t;
    QTest::newRow("Demo non-hex rate, extra text") << int(Demo) << true << QByteArray("S04xx\r")
        << QByteArray("G5junk\r") << QByteArray("F?\r") << QStringLiteral("Vexlo : BUF OFF, Sinc4")
        << QStringLiteral("BUF OFF / Sinc4") << 5 << 0 << 11 << t;
    QTest::newRow("Vexlo Tamrix") << int(Vexlo) << true << QByteArray("S14\r") << QByteArray("G5\r")
        << QByteArray("F9\r") << QStringLiteral("Vexlo : BUF ON, Sinc4") << QStringLiteral("BUF ON / Sinc4")
        << 5 << 9 << 11 << t;
    QTest::newRow("Vexlo Selvor") << int(Vexlo) << false << QByteArray("S04\r") << QByteArray("G1\r")
        << QByteArray("F0\r") << QStringLiteral("Vexlo : BUF OFF, Sinc4") << QStringLiteral("BUF OFF / Sinc4")
        << 1 << 0 << 7 << s;
    QTest::newRow("Tamrix") << int(Tamrix) << true << QByteArray("S13\r") << QByteArray("G2\r")
        << QByteArray("FA\r") << QStringLiteral("Tamrix : BUF ON, Sinc3") << QStringLiteral("BUF ON / Sinc3")
        << 2 << 10 << 11 << t;
}

void TestBoardCheck::goodCheck()
{
    QFETCH(int, program);
    QFETCH(bool, tamrix);
    QFETCH(QByteArray, s);
    QFETCH(QByteArray, g);
    QFETCH(QByteArray, f);
    QFETCH(QString, status);
    QFETCH(QString, label);
    QFETCH(int, gain);
    QFETCH(int, rate);
    QFETCH(int, rateCount);
    QFETCH(QString, settings);

    BoardBench b(ProfileOf(program), tamrix);
    b.replies["S?"] = s;
    b.replies["G?"] = g;
    b.replies["F?"] = f;
    Form1& w = *b.w;
    w.Button1_Click();

    // A lone carriage return after opening, then the four questions.
    QCOMPARE(b.received, (QList<QByteArray>{"", "?", "S?", "G?", "F?"}));
    QCOMPARE(b.port->writes.first(), QByteArray("\r"));
    QCOMPARE(b.port->CommPortNumber(), 4);
    QVERIFY(b.port->PortOpen());
    QVERIFY(w.PortOpened);
    QCOMPARE(w.ComStatus->text(), settings);
    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Label1->text(), label);
    QCOMPARE(w.Combo3->ListIndex(), gain);
    QCOMPARE(int(w.GainIndex), gain);
    QCOMPARE(w.Combo1->ListCount(), rateCount);
    QCOMPARE(w.Combo1->ListIndex(), rate);
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    QVERIFY(w.Button1->isEnabled());
    for (QPushButton* button : BoardButtons(w))
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
    if (w.Option_CM) {
        QVERIFY(!w.Option_CM->isEnabled());
        QVERIFY(!w.Option_RS->isEnabled());
    }
}

void TestBoardCheck::failure_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<bool>("tamrix");
    QTest::addColumn<QByteArray>("command"); // the command answered badly
    QTest::addColumn<QByteArray>("reply");   // "" = no answer
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");

    auto row = [](const QByteArray& name, int program, bool tamrix, const QByteArray& command,
                  const QByteArray& reply, const QString& status, const QString& label) {
        QTest::newRow(QByteArray(NameOf(program)) + " " + name)
            << program << tamrix << command << reply << status << label;
    };
    const QString good = QStringLiteral("BUF ON / Sinc4");
    for (int p : {int(Demo), int(Vexlo), int(Tamrix)}) {
        const QString n = QString::fromUtf8(ProfileOf(p).boardName);
        row("A silent ?", p, true, "?", "", n + QStringLiteral("が応答しませんでした"), kUnchanged);
        row("B S? two characters", p, true, "S?", "S1\r", n + QStringLiteral("の応答エラーです"),
            QStringLiteral("???"));
        row("C G? code 6", p, true, "G?", "G6\r", QStringLiteral("ゲイン設定読出しできませんでした"), good);
        row("D F? code B", p, true, "F?", "FB\r", n + QStringLiteral(" 応答エラー"), good);
    }
    const QString a = QStringLiteral("Vexloが応答しませんでした");
    const QString bErr = QStringLiteral("Vexloの応答エラーです");
    const QString c = QStringLiteral("ゲイン設定読出しできませんでした");
    const QString d = QStringLiteral("Vexlo 応答エラー");
    row("A bare CR to ?", Demo, true, "?", "\r", a, kUnchanged);
    row("A silent S?", Demo, true, "S?", "", a, kUnchanged);
    row("A no CR to S?", Demo, true, "S?", "S14", a, kUnchanged);
    row("B buffer 2", Demo, true, "S?", "S24\r", bErr, QStringLiteral("???"));
    row("B filter 5", Demo, true, "S?", "S15\r", bErr, QStringLiteral("???"));
    row("B lower-case garbage", Demo, true, "S?", "sxy\r", bErr, QStringLiteral("???"));
    row("C silent G?", Demo, true, "G?", "", c, good);
    row("C one character", Demo, true, "G?", "G\r", c, good);
    for (char code : QByteArray("6789ABCDEF"))
        row(QByteArray("C code ") + code, Demo, true, "G?", QByteArray("G") + code + '\r', c, good);
    row("D silent F?", Demo, true, "F?", "", d, good);
    row("D one character", Demo, true, "F?", "F\r", d, good);
    for (char code : QByteArray("BCDEF"))
        row(QByteArray("D code ") + code, Demo, true, "F?", QByteArray("F") + code + '\r', d, good);
    // The Selvor list has no entry for the codes 7 to 10.
    for (int p : {int(Demo), int(Vexlo)})
        for (char code : QByteArray("789A"))
            row(QByteArray("D Selvor code ") + code, p, false, "F?", QByteArray("F") + code + '\r', d, good);
}

void TestBoardCheck::failure()
{
    QFETCH(int, program);
    QFETCH(bool, tamrix);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);
    QFETCH(QString, label);

    BoardBench b(ProfileOf(program), tamrix);
    Form1& w = *b.w;
    if (reply.isEmpty())
        b.replies.remove(command);
    else
        b.replies[command] = reply;
    const QString labelBefore = w.Label1->text();
    const int rateCountBefore = w.Combo1->ListCount();
    const int rateBefore = w.Combo1->ListIndex();
    const int gainBefore = w.Combo3->ListIndex();

    w.Button1_Click();

    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Label1->text(), label == kUnchanged ? labelBefore : label);
    // The check stops at the failing command.
    QCOMPARE(b.received.last(), command);
    // The port stays open; the only way on is to close.
    QVERIFY(b.port->PortOpen());
    QVERIFY(w.PortOpened);
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    QVERIFY(w.Button1->isEnabled());
    // A gain read before a failing rate read stays selected.
    if (command == "F?")
        QCOMPARE(w.Combo3->ListIndex(), 3);
    else
        QCOMPARE(w.Combo3->ListIndex(), gainBefore);

    switch (program) {
    case Demo:
        QVERIFY(!w.Option_CM->isEnabled());
        QVERIFY(!w.Option_RS->isEnabled());
        for (QPushButton* button : BoardButtons(w))
            QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
        QCOMPARE(w.Combo1->ListCount(), 0);
        break;
    case Vexlo:
    case Tamrix:
        if (w.Option_CM) {
            QVERIFY(w.Option_CM->isEnabled());
            QVERIFY(w.Option_RS->isEnabled());
        }
        for (QPushButton* button : BoardButtons(w))
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
        QCOMPARE(w.Combo1->ListCount(), rateCountBefore);
        QCOMPARE(w.Combo1->ListIndex(), rateBefore);
        break;
    }
}

void TestBoardCheck::close_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<bool>("failedFirst");
    for (int p : {int(Demo), int(Vexlo), int(Tamrix)}) {
        QTest::newRow(NameOf(p)) << p << false;
        QTest::newRow(QByteArray(NameOf(p)) + " after failure") << p << true;
    }
}

void TestBoardCheck::close()
{
    QFETCH(int, program);
    QFETCH(bool, failedFirst);

    BoardBench b(ProfileOf(program), true);
    Form1& w = *b.w;
    if (failedFirst)
        b.replies.remove("?");
    w.Button1_Click();
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
    const QString status = w.Status->text();
    b.ClearLog();

    w.Button1_Click();

    // Exactly one lone carriage return goes out before the port closes.
    QCOMPARE(b.port->writes, (QList<QByteArray>{"\r"}));
    QVERIFY(!b.port->PortOpen());
    QVERIFY(!w.PortOpened);
    QCOMPARE(w.ComStatus->text(), QStringLiteral("115200,N,8,1"));
    QCOMPARE(w.Status->text(), status);
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QVERIFY(w.Button1->isEnabled());
    if (w.Option_CM) {
        QVERIFY(w.Option_CM->isEnabled());
        QVERIFY(w.Option_RS->isEnabled());
    }
    const bool statesOn = ProfileOf(program).hasControlStates;
    for (QPushButton* button : BoardButtons(w))
        QCOMPARE(button->isEnabled(), !statesOn);
    if (statesOn)
        QCOMPARE(w.Combo1->ListCount(), 0);

    // A second check opens the port again.
    b.ClearLog();
    w.Button1_Click();
    QVERIFY(b.port->PortOpen());
    QCOMPARE(b.received.first(), QByteArray(""));
}

void TestBoardCheck::failedOpen_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("status");
    // The demo keeps what the port opening wrote; the earlier builds empty it.
    QTest::newRow("Demo") << int(Demo) << QStringLiteral("Setting Error");
    QTest::newRow("Vexlo") << int(Vexlo) << QString();
    QTest::newRow("Tamrix") << int(Tamrix) << QString();
}

void TestBoardCheck::failedOpen()
{
    QFETCH(int, program);
    QFETCH(QString, status);

    BoardBench b(ProfileOf(program), true);
    Form1& w = *b.w;
    b.port->failOpen = true;
    w.Button1_Click();

    QCOMPARE(w.ComStatus->text(), QStringLiteral("COM Open 失敗 ..."));
    QCOMPARE(w.Status->text(), status);
    QVERIFY(!w.PortOpened);
    QVERIFY(!b.port->PortOpen());
    QVERIFY(b.port->writes.isEmpty());
    QCOMPARE(w.Button1->text(), QStringLiteral("接続確認"));
    QVERIFY(w.Button1->isEnabled());
    if (w.Option_CM) {
        QVERIFY(w.Option_CM->isEnabled());
        QVERIFY(w.Option_RS->isEnabled());
    }
    const bool statesOn = ProfileOf(program).hasControlStates;
    for (QPushButton* button : BoardButtons(w))
        QCOMPARE(button->isEnabled(), !statesOn);

    // Once the port can be opened, the next click connects.
    b.port->failOpen = false;
    w.Button1_Click();
    QVERIFY(w.PortOpened);
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
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
    QVERIFY(w.Option_RS->isEnabled());

    w.Option_RS->click();
    QCOMPARE(w.windowTitle(), QStringLiteral("Selvor demo"));
    QCOMPARE(w.Combo1->ListCount(), 7);
    QVERIFY(b.port->PortOpen());
    QCOMPARE(b.port->Settings(), QStringLiteral("115200,N,8,1"));
    QCOMPARE(w.Button1->text(), QStringLiteral("閉じる"));
}

QTEST_MAIN(TestBoardCheck)
#include "tst_board_check.moc"
