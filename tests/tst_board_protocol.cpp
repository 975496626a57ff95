// The board protocol's pure functions: exact command texts and reply values.
// (Which replies carry a code, count as accepted or as a status reply is
// checked exhaustively by fuzz/fuzz_reply.)

#include <QtTest>

#include "board/Protocol.h"

class TestBoardProtocol : public QObject {
    Q_OBJECT
private slots:
    void commands()
    {
        QCOMPARE(RateCommand(10), QStringLiteral("FA"));  // upper case
        QCOMPARE(RateCommand(16), QStringLiteral("F0"));  // keeps the last digit
        QCOMPARE(RateCommand(-1), QStringLiteral("FF"));  // nothing selected
        QCOMPARE(GainCommand(0x2F), QStringLiteral("G2F"));
        QCOMPARE(GainCommand(-1), QStringLiteral("GFFFF"));
        QCOMPARE(StartCommand(true, 0, 0), QStringLiteral("A00000"));
        QCOMPARE(StartCommand(false, 1, 65535), QStringLiteral("M1FFFF"));
        QCOMPARE(StartCommand(true, -1, 100), QStringLiteral("AFFFF0064"));
    }

    void replies()
    {
        // Character 2 is one hexadecimal digit of either case; anything else reads 0.
        for (const auto& [reply, code] : {std::pair{"G5", 5}, {"FA", 10}, {"fa", 10}, {"GZ", 0}})
            QCOMPARE(CodeDigit(QString::fromLatin1(reply)), std::optional<int>(code));
        // Characters 2 and 3 only: the first and any after them are ignored.
        const std::optional<StatusSummary> s = ParseStatusReply(QStringLiteral("x04zz"), QStringLiteral("Vexlo"));
        QVERIFY(s);
        QCOMPARE(s->status, QStringLiteral("Vexlo : BUF OFF, Sinc4"));
        QCOMPARE(s->label, QStringLiteral("BUF OFF / Sinc4"));
    }
};

QTEST_APPLESS_MAIN(TestBoardProtocol)
#include "tst_board_protocol.moc"
