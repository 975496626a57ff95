// The data file's text and bytes without a window: exact millivolt cells,
// exact Shift-JIS bytes with "?" for what Shift-JIS cannot hold, and a block
// of several slices encoded piecewise as in one step. Whole files, byte for
// byte, are checked through the window in tst_datafile_save; the file's shape
// for arbitrary texts and the cell rule against the general number reading
// are checked by fuzz/fuzz_datafile (blocks of up to 300 rows, one slice).

#include <QtTest>

#include "datafile/DataFile.h"

class TestDataFileFormat : public QObject {
    Q_OBJECT
private slots:
    void millivoltCell();
    void shiftJis();
    void slicedEncodingMatchesWholeText();
};

// Catches wrong rounding (halves away from zero, once from the written
// digits), a lost or invented minus sign, and a non-number rewritten.
void TestDataFileFormat::millivoltCell()
{
    // A text that reads wholly as one number gets three decimals (halves away
    // from zero, "-0.000" for a negative one that rounds to zero); anything
    // else is written as it is.
    const char* cases[][2] = {
        {"  -0.1234", "-0.123"}, {"+001.2345", "1.235"}, {"-12.3455", "-12.346"}, {"-0.0004", "-0.000"},
        {"123456", "123456.000"}, {"0A1B2C", "0A1B2C"}, {"", ""}, {"   ", "   "}, {"1.5E-1", "0.150"},
        {"2d2", "200.000"}, {".5", "0.500"}, {"7.", "7.000"}, {"\t5\n", "5.000"}, {"1e", "1e"}, {".", "."},
        {"-", "-"}, {"1.2.3", "1.2.3"}, {"12 34", "12 34"}, {"- 1", "- 1"}, {"1e999", "1e999"}, {"NG", "NG"},
        {"999.9995", "1000.000"}, {"-0.0005", "-0.001"}, {"-0.00049999", "-0.000"}, {"-0.000", "0.000"},
        // rounded once, from the digits written (not from a 15-digit rendering)
        {"0.12349999999999999", "0.123"}, {"1.2349999999999999E-1", "0.123"}, {"-1E-400", "-0.000"},
        {"12345678901234567.8905", "12345678901234567.891"}, {"-00.5e-3", "-0.001"}, {"0E99999", "0.000"},
        // Catches: exponent texts the board writes misread (the point moved one place too few, "E+" lost).
        {"5E-5", "0.000"}, {"+5E-4", "0.001"}, {"-5E-4", "-0.001"}, {"5E+2", "500.000"}, {"-1.25E1", "-12.500"}};
    for (const auto& c : cases)
        QCOMPARE(MillivoltCellText(QString::fromLatin1(c[0])), QString::fromLatin1(c[1]));
    QCOMPARE(MillivoltCellText(QStringLiteral("１２")), QStringLiteral("１２"));
}

// Catches wrong Shift-JIS bytes, and anything Shift-JIS cannot hold written
// as other than one "?" per character (emoji and lone surrogates too).
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

// Catches rows lost, doubled or reordered at the 2048-row slice seams (which
// fuzz_datafile's 300-row blocks never reach), a long text set aside in the
// block, and received bytes passed through Shift-JIS.
void TestDataFileFormat::slicedEncodingMatchesWholeText()
{
    SampleBlock block;
    const int rows = 5000; // several slices
    for (int i = 0; i < rows; ++i) {
        block.SetCh0(i, QStringLiteral("%1.%2").arg(i - 2500).arg(i % 10000, 4, 10, QChar(u'0')));
        block.SetCh1(i, i % 7 == 0 ? QString::fromLatin1("\x7fx,\r") : QStringLiteral("1e%1").arg(i % 5));
    }
    block.SetCh0(4000, QStringLiteral("a very long text that does not fit a slot \u301C"));
    DataFileContent c;
    c.title = QStringLiteral("データ");
    c.channelList0 = c.channelEntry = c.shownChannel = QStringLiteral("CH0=Ain0-Ain1");
    c.channelList1 = QStringLiteral("CH1=Ain2-Ain3");
    c.samples = &block;
    c.rowCount = rows;
    for (int k = 0; k < 6; ++k) { // channel modes 0, 1, 2, each in hex and millivolts
        c.channelMode = k / 2;
        c.hex = k % 2;
        QByteArray whole, sliced, streamed;
        QVERIFY(EncodeShiftJis(RenderDataFile(c), whole) && EncodeDataFile(c, sliced)
                && EncodeDataFile(c, [&](const QByteArray& b) { streamed += b; return true; }));
        QCOMPARE(sliced, whole);
        QCOMPARE(streamed, whole);
        QCOMPARE(whole.count("\r\n"), rows + 8);
    }
    // Rows are the bytes received: 0xB5 0xFF come back as such, not through Shift-JIS.
    block.SetCh0(0, QString::fromLatin1("\xb5\xff"));
    c.rowCount = 1;
    QByteArray one;
    QVERIFY(EncodeDataFile(c, one) && one.endsWith("\r\n\xb5\xff,?x??\r\n"));
}

QTEST_GUILESS_MAIN(TestDataFileFormat)
#include "tst_datafile_format.moc"
