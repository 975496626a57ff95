// The data file's text and bytes without a window: the millivolt cell rule,
// Shift-JIS output with "?" for what Shift-JIS cannot hold, characters that
// would break the file's structure, and slice-wise encoding. Whole files,
// byte for byte, are checked through the window in tst_datafile_save.

#include <QRandomGenerator>
#include <QtTest>

#include "app/NumberReading.h"
#include "datafile/DataFile.h"

namespace {

DataFileContent content(const SampleBlock& block, int mode, bool hex, int rows)
{
    DataFileContent c;
    c.title = QStringLiteral("データ");
    c.dateTime = QStringLiteral("2022/05/10 13:45:12");
    c.gainEntry = QStringLiteral("Gain=1");
    c.filterCaption = QStringLiteral("BUF ON / Sinc4");
    c.rateEntry = QStringLiteral("10sps");
    c.channelList0 = QStringLiteral("CH0=Ain0-Ain1");
    c.channelList1 = QStringLiteral("CH1=Ain2-Ain3");
    c.channelEntry = c.shownChannel = mode == 1 ? c.channelList1 : c.channelList0;
    c.channelMode = mode;
    c.hex = hex;
    c.samples = &block;
    c.rowCount = rows;
    return c;
}

QByteArray encode(const QString& text)
{
    QByteArray out;
    QString error;
    if (!EncodeShiftJis(text, out, &error))
        qWarning() << error;
    return out;
}

} // namespace

class TestDataFileFormat : public QObject {
    Q_OBJECT
private slots:
    void millivoltCell();
    void shiftJis();
    void structureBreakingCharacters();
    void slicedEncodingMatchesWholeText();
};

void TestDataFileFormat::millivoltCell()
{
    // A text that reads wholly as one number gets three decimals (halves away
    // from zero); anything else is written as it is.
    const char* cases[][2] = {
        {"  -0.1234", "-0.123"}, {"+001.2345", "1.235"}, {"-12.3455", "-12.346"}, {"-0.0004", "0.000"},
        {"123456", "123456.000"}, {"0A1B2C", "0A1B2C"}, {"", ""}, {"   ", "   "}, {"1.5E-1", "0.150"},
        {"2d2", "200.000"}, {".5", "0.500"}, {"7.", "7.000"}, {"\t5\n", "5.000"}, {"1e", "1e"}, {".", "."},
        {"-", "-"}, {"1.2.3", "1.2.3"}, {"12 34", "12 34"}, {"- 1", "- 1"}, {"1e999", "1e999"}, {"NG", "NG"}};
    for (const auto& c : cases)
        QCOMPARE(MillivoltCellText(QString::fromLatin1(c[0])), QString::fromLatin1(c[1]));
    QCOMPARE(MillivoltCellText(QStringLiteral("１２")), QStringLiteral("１２"));

    // Plain decimal texts take a digit-string shortcut; it must agree with
    // the general number reading and "0.000" formatting.
    QStringList texts = {"999.9995", "-999.9995", "0.0005", "-0.0005", "-0.00049999", "+.9995",
                         "99999999999.9995", "1234567890123456", "0.000000000000001234", "9.99949999999"};
    QRandomGenerator rng(20240510);
    for (int k = 0; k < 20000; ++k)
        texts << QStringLiteral("%1%2.%3").arg("+- "[rng.bounded(3)]).arg(rng.bounded(100000))
                     .arg(rng.bounded(100000000), int(rng.bounded(9)), 10, QLatin1Char('0'));
    for (const QString& t : texts)
        QCOMPARE(MillivoltCellText(t), FormatFixed(ReadNumber(t), 3));
}

void TestDataFileFormat::shiftJis()
{
    const struct { QString text; QByteArray expected; } cases[] = {
        {"CH0=Ain0-Ain1 [hex],~\\", "CH0=Ain0-Ain1 [hex],~\\"},
        {QStringLiteral("測定ＣＨ"), QByteArray::fromHex("91aa92e882628267")},
        {QStringLiteral("\uFF5E"), QByteArray::fromHex("8160")},   // full-width tilde
        {QStringLiteral("a\u301Cb"), "a?b"},                       // wave dash
        {QStringLiteral("\u22121.0\u00A5"), "?1.0?"},               // minus sign, yen sign
        // A noisy line read as Latin-1: every byte above 0x7F is one "?".
        {QString::fromLatin1("\x81\xfe" "12\xe9\xff"), "??12??"},
        {QString::fromUtf8("x\xF0\x9F\x98\x80y\uFFFD"), "x?y?"},    // emoji is one character
        {QString(QChar(0xD800)) + u'z', "?z"},                     // lone surrogate
        {QStringLiteral("データ\u00A5"), QByteArray::fromHex("8366815b835e") + "?"}};
    for (const auto& c : cases) {
        QByteArray out;
        QString error;
        QVERIFY2(EncodeShiftJis(c.text, out, &error), qPrintable(error));
        QCOMPARE(out, c.expected);
    }
}

void TestDataFileFormat::structureBreakingCharacters()
{
    // Line breaks, NUL and commas inside texts become "?": one line per row,
    // one comma per two-channel row.
    SampleBlock block;
    block.SetCh0(0, QString::fromLatin1("1\r\n2,3"));
    block.SetCh1(0, QString::fromLatin1("\x00" "AB", 3));
    DataFileContent c = content(block, 2, true, 1);
    c.filterCaption = QStringLiteral("BUF\nON");
    QByteArray bytes = encode(RenderDataFile(c));
    QCOMPARE(bytes.count("\r\n"), 9);
    QVERIFY(bytes.contains(" : BUF?ON\r\n"));
    QVERIFY(bytes.endsWith("]\r\n1??2?3,?AB\r\n"));
    // A channel mode the window never sets writes the header with a count of 0.
    bytes = encode(RenderDataFile(content(block, 3, true, 1)));
    QCOMPARE(bytes.count("\r\n"), 7);
    QVERIFY(bytes.endsWith(" :  0\r\n"));
}

void TestDataFileFormat::slicedEncodingMatchesWholeText()
{
    SampleBlock block;
    const int rows = 5000; // several slices
    for (int i = 0; i < rows; ++i) {
        block.SetCh0(i, QStringLiteral("%1.%2").arg(i - 2500).arg(i % 10000, 4, 10, QChar(u'0')));
        block.SetCh1(i, i % 7 == 0 ? QString::fromLatin1("\xa5x,\r") : QStringLiteral("1e%1").arg(i % 5));
    }
    block.SetCh0(4000, QStringLiteral("a very long text that does not fit a slot \u301C"));
    for (int mode : {0, 1, 2})
        for (bool hex : {true, false}) {
            const DataFileContent c = content(block, mode, hex, rows);
            QByteArray sliced;
            QVERIFY(EncodeDataFile(c, sliced));
            QCOMPARE(sliced, encode(RenderDataFile(c)));
            QCOMPARE(sliced.count("\r\n"), rows + 8);
        }
}

QTEST_GUILESS_MAIN(TestDataFileFormat)
#include "tst_datafile_format.moc"
