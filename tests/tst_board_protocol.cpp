// The board protocol's pure functions: command texts, code characters and
// the rules for reading replies.

#include <QtTest>

#include "board/Protocol.h"

class TestBoardProtocol : public QObject {
    Q_OBJECT
private slots:
    void fixedCommands();
    void rateCommand_data();
    void rateCommand();
    void gainCommand_data();
    void gainCommand();
    void startCommand_data();
    void startCommand();
    void codeDigit_data();
    void codeDigit();
    void isAccepted_data();
    void isAccepted();
    void statusReply_data();
    void statusReply();
    void boardTexts();
};

void TestBoardProtocol::fixedCommands()
{
    QCOMPARE(PresenceCommand(), QStringLiteral("?"));
    QCOMPARE(StatusQueryCommand(), QStringLiteral("S?"));
    QCOMPARE(GainQueryCommand(), QStringLiteral("G?"));
    QCOMPARE(RateQueryCommand(), QStringLiteral("F?"));
    QCOMPARE(StopCommand(true), QStringLiteral("AX"));
    QCOMPARE(StopCommand(false), QStringLiteral("MX"));
}

void TestBoardProtocol::rateCommand_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("command");
    QTest::newRow("5sps") << 0 << "F0";
    QTest::newRow("960sps") << 9 << "F9";
    QTest::newRow("1200sps") << 10 << "FA";
    QTest::newRow("15") << 15 << "FF";
    QTest::newRow("16 keeps last digit") << 16 << "F0";
    QTest::newRow("0x1B keeps last digit") << 0x1B << "FB";
    QTest::newRow("nothing selected") << -1 << "FF";
    QTest::newRow("-2") << -2 << "FE";
}

void TestBoardProtocol::rateCommand()
{
    QFETCH(int, index);
    QFETCH(QString, command);
    QCOMPARE(RateCommand(index), command);
}

void TestBoardProtocol::gainCommand_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("command");
    QTest::newRow("Gain=1") << 0 << "G0";
    QTest::newRow("Gain=128") << 5 << "G5";
    QTest::newRow("10 upper case") << 10 << "GA";
    QTest::newRow("two digits") << 0x2F << "G2F";
    QTest::newRow("nothing selected") << -1 << "GFFFF";
}

void TestBoardProtocol::gainCommand()
{
    QFETCH(int, index);
    QFETCH(QString, command);
    QCOMPARE(GainCommand(index), command);
}

void TestBoardProtocol::startCommand_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("command");
    QTest::newRow("both channels, 100, hex") << true << 2 << 100 << "A20064";
    QTest::newRow("mV, 1000") << false << 2 << 1000 << "M203E8";
    QTest::newRow("count 0") << true << 0 << 0 << "A00000";
    QTest::newRow("count 65535") << false << 1 << 65535 << "M1FFFF";
    QTest::newRow("count 1") << true << 1 << 1 << "A10001";
    QTest::newRow("channel typed (-1)") << true << -1 << 100 << "AFFFF0064";
}

void TestBoardProtocol::startCommand()
{
    QFETCH(bool, hex);
    QFETCH(int, channel);
    QFETCH(int, count);
    QFETCH(QString, command);
    QCOMPARE(StartCommand(hex, channel, count), command);
}

void TestBoardProtocol::codeDigit_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("code"); // -1 = no usable reply
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("one character") << "G" << -1;
    QTest::newRow("digit") << "G5" << 5;
    QTest::newRow("A") << "FA" << 10;
    QTest::newRow("F") << "FF" << 15;
    QTest::newRow("lower case a") << "fa" << 10;
    QTest::newRow("not hex") << "GZ" << 0;
    QTest::newRow("blank") << "G " << 0;
    QTest::newRow("character 1 ignored") << "75" << 5;
    QTest::newRow("trailing text ignored") << "F9XYZ" << 9;
}

void TestBoardProtocol::codeDigit()
{
    QFETCH(QString, reply);
    QFETCH(int, code);
    const std::optional<int> got = CodeDigit(reply);
    if (code < 0) {
        QVERIFY(!got.has_value());
    } else {
        QVERIFY(got.has_value());
        QCOMPARE(*got, code);
    }
}

void TestBoardProtocol::isAccepted_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("OK") << "OK" << true;
    QTest::newRow("OK and more") << "OKAY" << true;
    QTest::newRow("lower case") << "ok" << false;
    QTest::newRow("mixed case") << "Ok" << false;
    QTest::newRow("single O") << "O" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("NG") << "NG" << false;
    QTest::newRow("leading blank") << " OK" << false;
}

void TestBoardProtocol::isAccepted()
{
    QFETCH(QString, reply);
    QFETCH(bool, accepted);
    QCOMPARE(IsAccepted(reply), accepted);
}

void TestBoardProtocol::statusReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("board");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("label");
    QTest::newRow("on sinc4") << "S14" << "Vexlo" << true
                              << QStringLiteral("Vexlo : BUF ON, Sinc4") << QStringLiteral("BUF ON / Sinc4");
    QTest::newRow("on sinc3") << "S13" << "Vexlo" << true
                              << QStringLiteral("Vexlo : BUF ON, Sinc3") << QStringLiteral("BUF ON / Sinc3");
    QTest::newRow("off sinc3, Tamrix") << "x03" << "Tamrix" << true
                                       << QStringLiteral("Tamrix : BUF OFF, Sinc3") << QStringLiteral("BUF OFF / Sinc3");
    QTest::newRow("trailing text ignored") << "S04zz" << "Vexlo" << true
                                           << QStringLiteral("Vexlo : BUF OFF, Sinc4") << QStringLiteral("BUF OFF / Sinc4");
    QTest::newRow("two characters") << "S1" << "Vexlo" << false << "" << "";
    QTest::newRow("one character") << "S" << "Vexlo" << false << "" << "";
    QTest::newRow("empty") << "" << "Vexlo" << false << "" << "";
    QTest::newRow("buffer 2") << "S23" << "Vexlo" << false << "" << "";
    QTest::newRow("filter 5") << "S15" << "Vexlo" << false << "" << "";
    QTest::newRow("blank buffer") << "S 3" << "Vexlo" << false << "" << "";
}

void TestBoardProtocol::statusReply()
{
    QFETCH(QString, reply);
    QFETCH(QString, board);
    QFETCH(bool, valid);
    QFETCH(QString, status);
    QFETCH(QString, label);
    const std::optional<StatusSummary> got = ParseStatusReply(reply, board);
    QCOMPARE(got.has_value(), valid);
    if (valid) {
        QCOMPARE(got->status, status);
        QCOMPARE(got->label, label);
    }
}

void TestBoardProtocol::boardTexts()
{
    QCOMPARE(NoAnswerText("Vexlo"), QStringLiteral("Vexloが応答しませんでした"));
    QCOMPARE(ReplyErrorText("Tamrix"), QStringLiteral("Tamrixの応答エラーです"));
    QCOMPARE(RateErrorText("Vexlo"), QStringLiteral("Vexlo 応答エラー"));
    QCOMPARE(RateErrorText("Tamrix"), QStringLiteral("Tamrix 応答エラー"));
}

QTEST_APPLESS_MAIN(TestBoardProtocol)
#include "tst_board_protocol.moc"
