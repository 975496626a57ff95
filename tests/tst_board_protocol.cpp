// The board protocol's pure functions: command texts and the rules for
// reading replies.

#include <QtTest>

#include "board/Protocol.h"

class TestBoardProtocol : public QObject {
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void replies_data();
    void replies();
};

void TestBoardProtocol::commands_data()
{
    QTest::addColumn<QString>("got");
    QTest::addColumn<QString>("want");
    QTest::newRow("rate 10 upper case") << RateCommand(10) << "FA";
    QTest::newRow("rate 16 keeps last digit") << RateCommand(16) << "F0";
    QTest::newRow("rate nothing selected") << RateCommand(-1) << "FF";
    QTest::newRow("gain two digits") << GainCommand(0x2F) << "G2F";
    QTest::newRow("gain nothing selected") << GainCommand(-1) << "GFFFF";
    QTest::newRow("start count 0") << StartCommand(true, 0, 0) << "A00000";
    QTest::newRow("start mV count 65535") << StartCommand(false, 1, 65535) << "M1FFFF";
    QTest::newRow("start channel -1") << StartCommand(true, -1, 100) << "AFFFF0064";
}

void TestBoardProtocol::commands()
{
    QFETCH(QString, got);
    QFETCH(QString, want);
    QCOMPARE(got, want);
}

// Each reply read by the three rules: the code character, "OK" acceptance and
// the buffer/filter summary.
void TestBoardProtocol::replies_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("code"); // -1: no code character
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("status"); // "" = not a status reply
    QTest::newRow("empty") << "" << -1 << false << "";
    QTest::newRow("one character") << "G" << -1 << false << "";
    QTest::newRow("digit") << "G5" << 5 << false << "";
    QTest::newRow("upper hex") << "FA" << 10 << false << "";
    QTest::newRow("lower hex") << "fa" << 10 << false << "";
    QTest::newRow("not hex reads 0") << "GZ" << 0 << false << "";
    QTest::newRow("OK") << "OK" << 0 << true << "";
    QTest::newRow("OK and more") << "OKAY" << 0 << true << "";
    QTest::newRow("lower-case ok") << "ok" << 0 << false << "";
    QTest::newRow("mixed case") << "Ok" << 0 << false << "";
    QTest::newRow("single O") << "O" << -1 << false << "";
    QTest::newRow("leading blank") << " OK" << 0 << false << "";
    QTest::newRow("on sinc4") << "S14" << 1 << false << "Vexlo : BUF ON, Sinc4";
    QTest::newRow("off sinc3, first ignored") << "x03" << 0 << false << "Vexlo : BUF OFF, Sinc3";
    QTest::newRow("trailing text ignored") << "S04zz" << 0 << false << "Vexlo : BUF OFF, Sinc4";
    QTest::newRow("buffer 2") << "S23" << 2 << false << "";
    QTest::newRow("filter 5") << "S15" << 1 << false << "";
    QTest::newRow("blank buffer") << "S 3" << 0 << false << "";
}

void TestBoardProtocol::replies()
{
    QFETCH(QString, reply);
    QFETCH(int, code);
    QFETCH(bool, accepted);
    QFETCH(QString, status);
    QCOMPARE(CodeDigit(reply).value_or(-1), code);
    QCOMPARE(IsAccepted(reply), accepted);
    const std::optional<StatusSummary> summary = ParseStatusReply(reply, QStringLiteral("Vexlo"));
    QCOMPARE(summary ? summary->status : QString(), status);
}

QTEST_APPLESS_MAIN(TestBoardProtocol)
#include "tst_board_protocol.moc"
