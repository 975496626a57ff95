// The data file's text and bytes, without a window: header lines, column
// headers and rows for every channel mode and unit, three-decimal millivolts,
// and Shift-JIS output with "?" for what Shift-JIS cannot hold.

#include <QDateTime>
#include <QtTest>

#include "app/NumberReading.h"
#include "datafile/DataFile.h"

namespace {

// Shift-JIS of the header labels, written out independently of Qt's encoder.
const QByteArray kData = QByteArray::fromHex("8366815b835e");                         // データ
const QByteArray kFilter = QByteArray::fromHex("83748342838b835e") + " : ";        // フィルタ :
const QByteArray kRate = QByteArray::fromHex("8366815b835e838c815b8367") + " : ";   // データレート :
const QByteArray kChannel = QByteArray::fromHex("91aa92e882628267") + " : ";        // 測定ＣＨ :
const QByteArray kCount = QByteArray::fromHex("8366815b835e8cc29094") + " : ";      // データ個数 :

const QString kCh0 = QStringLiteral("CH0=Ain0-Ain1");
const QString kCh1 = QStringLiteral("CH1=Ain2-Ain3");
const QString kBoth = QStringLiteral("CH0 + CH1");

DataFileContent content(const SampleBlock& block, int mode, bool hex, int rows)
{
    DataFileContent c;
    c.title = QStringLiteral("データ");
    c.dateTime = QStringLiteral("2022/05/10 13:45:12");
    c.gainEntry = QStringLiteral("Gain=1");
    c.filterCaption = QStringLiteral("BUF ON / Sinc4");
    c.rateEntry = QStringLiteral("10sps");
    c.channelEntry = mode == 0 ? kCh0 : mode == 1 ? kCh1 : kBoth;
    c.channelList0 = kCh0;
    c.channelList1 = kCh1;
    c.shownChannel = c.channelEntry;
    c.channelMode = mode;
    c.hex = hex;
    c.samples = &block;
    c.rowCount = rows;
    return c;
}

QByteArray header(const QByteArray& channelEntry, int count)
{
    return kData + "\r\n" + "2022/05/10 13:45:12\r\n" + "Gain=1\r\n" + kFilter + "BUF ON / Sinc4\r\n"
           + kRate + "10sps\r\n" + kChannel + channelEntry + "\r\n" + kCount + " "
           + QByteArray::number(count) + "\r\n";
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
    void wholeFile_data();
    void wholeFile();
    void hundredSamplesGive108Lines();
    void millivoltCell_data();
    void millivoltCell();
    void millivoltCellMatchesGeneralRounding();
    void shiftJis_data();
    void shiftJis();
    void structureBreakingCharacters();
    void badChannelModeWritesNoRows();
    void dateLine();
    void slicedEncodingMatchesWholeText();
};

void TestDataFileFormat::wholeFile_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray h0 = header("CH0=Ain0-Ain1", 3);
    const QByteArray h1 = header("CH1=Ain2-Ain3", 3);
    const QByteArray h2 = header("CH0 + CH1", 3);
    QTest::newRow("CH0 hex") << 0 << true
        << h0 + "CH0=Ain0-Ain1 [hex]\r\n0A1B2C\r\n7FFFFF\r\n000001\r\n";
    QTest::newRow("CH1 hex") << 1 << true
        << h1 + "CH1=Ain2-Ain3 [hex]\r\n7FFF10\r\n800000\r\nFFFFFF\r\n";
    QTest::newRow("both hex") << 2 << true
        << h2 + "CH0=Ain0-Ain1 [hex],CH1=Ain2-Ain3 [hex]\r\n"
                "0A1B2C,7FFF10\r\n7FFFFF,800000\r\n000001,FFFFFF\r\n";
    QTest::newRow("CH0 mV") << 0 << false
        << h0 + "CH0=Ain0-Ain1 [mV]\r\n-0.123\r\n1.500\r\n12.346\r\n";
    QTest::newRow("CH1 mV") << 1 << false
        << h1 + "CH1=Ain2-Ain3 [mV]\r\n2500.000\r\n0.000\r\n-0.001\r\n";
    QTest::newRow("both mV") << 2 << false
        << h2 + "CH0=Ain0-Ain1 [mV],CH1=Ain2-Ain3 [mV]\r\n"
                "-0.123,2500.000\r\n1.500,0.000\r\n12.346,-0.001\r\n";
}

void TestDataFileFormat::wholeFile()
{
    QFETCH(int, mode);
    QFETCH(bool, hex);
    QFETCH(QByteArray, expected);

    SampleBlock block;
    const char* hex0[] = {"0A1B2C", "7FFFFF", "000001"};
    const char* hex1[] = {"7FFF10", "800000", "FFFFFF"};
    const char* mv0[] = {"  -0.1234", "   1.4995", "  12.3456"};
    const char* mv1[] = {"+2500.000", "  -0.0004", "  -0.0005"};
    for (int i = 0; i < 3; ++i) {
        block.SetCh0(i, QString::fromLatin1(hex ? hex0[i] : mv0[i]));
        block.SetCh1(i, QString::fromLatin1(hex ? hex1[i] : mv1[i]));
    }
    // Left over from an earlier, longer block: must not be written.
    block.SetCh0(3, u"DEAD00");
    block.SetCh1(3, u"BEEF00");

    const QByteArray bytes = encode(RenderDataFile(content(block, mode, hex, 3)));
    QCOMPARE(bytes, expected);
}

void TestDataFileFormat::hundredSamplesGive108Lines()
{
    SampleBlock block;
    for (int i = 0; i < 100; ++i) {
        block.SetCh0(i, QStringLiteral("%1").arg(i, 6, 16, QChar(u'0')).toUpper());
        block.SetCh1(i, QStringLiteral("  %1.0000").arg(i, 2, 10, QChar(u'0')));
    }
    for (bool hex : {true, false}) {
        const QByteArray bytes = encode(RenderDataFile(content(block, 2, hex, 100)));
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count("\r\n"), 108);
        QCOMPARE(bytes.count('\n'), 108); // no bare line feed
        QCOMPARE(bytes.count('\r'), 108);
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.at(6), kCount + " 100\r");
        QCOMPARE(lines.at(8), hex ? QByteArray("000000,  00.0000\r") : QByteArray("0.000,0.000\r"));
        QCOMPARE(lines.at(107), hex ? QByteArray("000063,  99.0000\r") : QByteArray("63.000,99.000\r"));
    }
}

void TestDataFileFormat::millivoltCell_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks and sign") << "  -0.1234" << "-0.123";
    QTest::newRow("plus sign") << "+001.2345" << "1.235";
    QTest::newRow("half away from zero") << "-12.3455" << "-12.346";
    QTest::newRow("negative rounds to zero") << "-0.0004" << "0.000";
    QTest::newRow("hex digits only") << "123456" << "123456.000";
    QTest::newRow("hex with letter") << "0A1B2C" << "0A1B2C";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blank only") << "   " << "   ";
    QTest::newRow("exponent") << "1.5E-1" << "0.150";
    QTest::newRow("D exponent") << "2d2" << "200.000";
    QTest::newRow("point first") << ".5" << "0.500";
    QTest::newRow("point last") << "7." << "7.000";
    QTest::newRow("tab and newline around") << "\t5\n" << "5.000";
    QTest::newRow("exponent without digits") << "1e" << "1e";
    QTest::newRow("lone point") << "." << ".";
    QTest::newRow("lone sign") << "-" << "-";
    QTest::newRow("two points") << "1.2.3" << "1.2.3";
    QTest::newRow("blank inside") << "12 34" << "12 34";
    QTest::newRow("sign after blank inside") << "- 1" << "- 1";
    QTest::newRow("overflow kept") << "1e999" << "1e999";
    QTest::newRow("refusal text") << "NG" << "NG";
    QTest::newRow("full-width digits") << QString::fromUtf8("１２") << QString::fromUtf8("１２");
}

void TestDataFileFormat::millivoltCell()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(MillivoltCellText(text), expected);
}

// Plain decimal texts take a digit-string shortcut; it must agree with the
// program's general number reading and "0.000" formatting.
void TestDataFileFormat::millivoltCellMatchesGeneralRounding()
{
    QRandomGenerator rng(20240510);
    const char* edges[] = {"999.9995", "-999.9995", "0.0005", "-0.0005", "-0.00049999",
                           "0000.0000", "+.9995", "99999999999.9995", "123456789012345",
                           "1234567890123456", "0.000000000000001234", "9.99949999999"};
    QStringList texts;
    for (const char* e : edges)
        texts << QString::fromLatin1(e);
    for (int k = 0; k < 20000; ++k) {
        const int whole = int(rng.bounded(6));
        const int decimals = int(rng.bounded(9));
        QString t;
        if (rng.bounded(3) == 0)
            t += rng.bounded(2) ? u'-' : u'+';
        for (int d = 0; d < whole; ++d)
            t += QChar(u'0' + rng.bounded(10));
        if (decimals > 0 || whole == 0) {
            t += u'.';
            for (int d = 0; d < qMax(decimals, 1); ++d)
                t += QChar(u'0' + rng.bounded(10));
        }
        texts << t.rightJustified(9, u' ');
    }
    for (const QString& t : texts)
        QCOMPARE(MillivoltCellText(t), FormatFixed(ReadNumber(t), 3));
}

void TestDataFileFormat::shiftJis_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ascii") << "CH0=Ain0-Ain1 [hex],~\\" << QByteArray("CH0=Ain0-Ain1 [hex],~\\");
    QTest::newRow("header words") << QStringLiteral("測定ＣＨ") << QByteArray::fromHex("91aa92e882628267");
    QTest::newRow("full-width tilde") << QStringLiteral("\uFF5E") << QByteArray::fromHex("8160");
    QTest::newRow("wave dash") << QStringLiteral("a\u301Cb") << QByteArray("a?b");
    QTest::newRow("minus sign") << QStringLiteral("\u22121.0") << QByteArray("?1.0");
    QTest::newRow("yen sign") << QStringLiteral("\u00A5") << QByteArray("?");
    // A noisy line read as Latin-1: every byte above 0x7F is one "?".
    QTest::newRow("latin-1 noise") << QString::fromLatin1("\x81\xfe" "12\xe9\xff") << QByteArray("??12??");
    QTest::newRow("replacement char") << QStringLiteral("\uFFFD") << QByteArray("?");
    QTest::newRow("emoji is one character") << QString::fromUtf8("x\xF0\x9F\x98\x80y") << QByteArray("x?y");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'z' << QByteArray("?z");
    QTest::newRow("mixed") << QStringLiteral("データ\u00A5データ")
                           << kData + "?" + kData;
}

void TestDataFileFormat::shiftJis()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QByteArray out;
    QString error;
    QVERIFY2(EncodeShiftJis(text, out, &error), qPrintable(error));
    QCOMPARE(out, expected);
}

void TestDataFileFormat::structureBreakingCharacters()
{
    SampleBlock block;
    block.SetCh0(0, QString::fromLatin1("1\r\n2,3"));
    block.SetCh1(0, QString::fromLatin1("\x00" "AB", 3));
    DataFileContent c = content(block, 2, true, 1);
    c.filterCaption = QStringLiteral("BUF\nON");
    const QByteArray bytes = encode(RenderDataFile(c));
    QCOMPARE(bytes.count("\r\n"), 9);
    QVERIFY(bytes.contains(kFilter + "BUF?ON\r\n"));
    QCOMPARE(bytes.mid(bytes.lastIndexOf("]\r\n") + 3), QByteArray("1??2?3,?AB\r\n"));
}

void TestDataFileFormat::badChannelModeWritesNoRows()
{
    SampleBlock block;
    block.SetCh0(0, u"000001");
    const QByteArray bytes = encode(RenderDataFile(content(block, 3, true, 1)));
    QCOMPARE(bytes.count("\r\n"), 7);
    QVERIFY(bytes.endsWith(kCount + " 0\r\n"));
}

void TestDataFileFormat::dateLine()
{
    const QDateTime when(QDate(2022, 5, 1), QTime(7, 5, 9));
    QCOMPARE(DataFileDateTimeText(when), QStringLiteral("2022/05/01 07:05:09"));
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
    for (int mode : {0, 1, 2}) {
        for (bool hex : {true, false}) {
            const DataFileContent c = content(block, mode, hex, rows);
            QByteArray whole;
            QVERIFY(EncodeShiftJis(RenderDataFile(c), whole));
            QByteArray sliced;
            QVERIFY(EncodeDataFile(c, sliced));
            QCOMPARE(sliced, whole);
            QCOMPARE(sliced.count("\r\n"), rows + 8);
        }
    }
}

QTEST_GUILESS_MAIN(TestDataFileFormat)
#include "tst_datafile_format.moc"
