// The data file's text and bytes without a window: exact millivolt cells,
// exact Shift-JIS bytes with "?" for what Shift-JIS cannot hold, and a block
// of several slices encoded piecewise as in one step. Whole files, byte for
// byte, are checked through the window in tst_datafile_save; the file's shape
// for arbitrary texts and the cell rule against the general number reading
// are checked by fuzz/fuzz_datafile (blocks of up to 300 rows, one slice).
// Files read back: hand-written bytes of each shape, damaged ones and files
// of other kinds; the window's files go through reader and writer unchanged.

#include <QtTest>

#include "datafile/DataFile.h"
#include "datafile/DataFileReader.h"
#include "stream/RecordSink.h"

namespace {

// The header's Japanese labels as Shift-JIS bytes (worked out by hand from
// the code table), and a header of the window's shape with `eol` endings.
QByteArray windowHeader(const QByteArray& count, const QByteArray& columns, const char* eol = "\r\n",
                        const QByteArray& channel = "CH0=Ain0-Ain1")
{
    auto hex = [](const char* h) { return QByteArray::fromHex(h); };
    return hex("8366815b835e") + eol + "2022/05/10 13:45:12" + eol + "Gain=1" + eol
           + hex("83748342838b835e203a20") + "BUF ON / Sinc4" + eol
           + hex("8366815b835e838c815b8367203a20") + "10sps" + eol
           + hex("91aa92e882628267203a20") + channel + eol
           + hex("8366815b835e8cc29094203a20") + count + eol + columns + eol;
}

// Keeps what a reader delivers: rows as "Ch0|Ch1", the blocks' indexes and
// the rows' times; a copy of the texts for writing them again.
class KeepingSink : public RecordSink {
public:
    bool Begin(const StreamInfo& i) override { info = i; ++begins; return true; }
    bool Append(const SampleBlock& b, int count, qint64 first) override
    {
        for (int i = 0; i < count; ++i) {
            rows << b.Ch0(i) + u'|' + b.Ch1(i);
            if (first + i < kSampleCapacity)
                copy.Set(int(first + i), b.at(i));
        }
        const std::vector<qint64>& t = reader->BlockTimes();
        times.insert(times.end(), t.begin(), t.end());
        nextIndex = first == nextIndex ? first + count : -1;
        return true;
    }
    bool Finish(qint64 total) override { finished = total; return true; }
    QString Error() const override { return {}; }
    DataFileReader* reader = nullptr;
    StreamInfo info;
    QStringList rows;
    std::vector<qint64> times;
    SampleBlock copy;
    qint64 nextIndex = 0, finished = -1;
    int begins = 0;
};

} // namespace

class TestDataFileFormat : public QObject {
    Q_OBJECT
private slots:
    void millivoltCell();
    void shiftJis();
    void slicedEncodingMatchesWholeText();
    void readKnownBytes_data();
    void readKnownBytes();
    void windowFilesRoundTrip_data();
    void windowFilesRoundTrip();
    void refusesFolder();
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

void TestDataFileFormat::readKnownBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");     // every row as "Ch0|Ch1"
    QTest::addColumn<QString>("findings");     // the report's lines, "; " between
    QTest::addColumn<QString>("refused");      // the refusal, empty when read
    const QByteArray hex1 = "CH0=Ain0-Ain1 [hex]";
    const QByteArray mv2 = "CH0=Ain0-Ain1 [mV],CH1=Ain2-Ain3 [mV]";
    const QByteArray hex2 = "CH0=Ain0-Ain1 [hex],CH1=Ain2-Ain3 [hex]";
    // Catches a one-channel hex file misread (rows in the wrong channel, header taken as a row).
    QTest::newRow("hex, CH0") << windowHeader(" 2", hex1) + "0A1B2C\r\nFFFFFF\r\n"
                              << QStringList{"0A1B2C|", "FFFFFF|"} << "" << "";
    // Catches two millivolt columns split wrongly or a sign lost.
    QTest::newRow("mV, both") << windowHeader(" 1", mv2) + "-0.123,1.500\r\n"
                              << QStringList{"-0.123|1.500"} << "" << "";
    // Catches a cell longer than a block slot (nine bytes) cut short or lost.
    QTest::newRow("mV, long cells") << windowHeader(" 1", mv2) + "-1234567.12345,0.000012345\r\n"
                                    << QStringList{"-1234567.12345|0.000012345"} << "" << "";
    // Catches CH1 rows filed under CH0 (writing them again would change the file).
    QTest::newRow("mV, CH1") << windowHeader(" 1", "CH1=Ain2-Ain3 [mV]", "\r\n", "CH1=Ain2-Ain3") + "12.346\r\n"
                             << QStringList{"|12.346"} << "" << "";
    // Catches the recorder's time column taken as a channel, or its padded count misread.
    QTest::newRow("recorder, time column")
        << windowHeader(" 2         ", QByteArray::fromHex("8e9e8d8f") + "," + hex2)
               + "2026-01-31T08:15:00.125,0A1B2C,7FFF10\r\n2026-01-31T08:15:00.225,0A1B2D,7FFF11\r\n"
        << QStringList{"0A1B2C|7FFF10", "0A1B2D|7FFF11"} << "" << "";
    // Catches LF-only lines kept with a CR or refused.
    QTest::newRow("CRLF and LF mixed") << windowHeader(" 3", hex1, "\n") + "000001\r\n000002\n000003\r\n"
                                       << QStringList{"000001|", "000002|", "000003|"} << "" << "";
    // Catches a torn last row delivered as a sample ("7" read as code 7).
    QTest::newRow("torn last row") << windowHeader(" 2", hex2) + "7FFBB4,7FFBB5\r\n7FFBB5,7"
                                   << QStringList{"7FFBB4|7FFBB5"}
                                   << "line 10: the last row has no line ending (torn, skipped); "
                                      "line 7: the count says 2, 1 rows were read" << "";
    // Catches a count that disagrees going unreported, or limiting the rows read.
    QTest::newRow("count disagrees") << windowHeader(" 1", hex1) + "000001\r\n000002\r\n"
                                     << QStringList{"000001|", "000002|"}
                                     << "line 7: the count says 1, 2 rows were read" << "";
    // Catches blank lines and malformed rows stopping the reading, or being delivered.
    QTest::newRow("blank and malformed") << windowHeader(" 3", hex1) + "000001\r\n\r\nXYZ!\r\n000002,1\r\n000003\r\n"
                                         << QStringList{"000001|", "000003|"}
                                         << "line 10: blank line (1 in all, skipped); line 11: malformed row "
                                            "(2 in all, skipped); line 7: the count says 3, 2 rows were read" << "";
    // Catches the row after a line longer than the read buffer (2 MiB) lost or split.
    QTest::newRow("overlong line") << windowHeader(" 2", hex1) + "000001\r\n" + QByteArray(2 << 20, 'x') + "\r\n000002\r\n"
                                   << QStringList{"000001|", "000002|"}
                                   << "line 10: malformed row (1 in all, skipped)" << "";
    // Catches a file cut inside its header refused or read as rows.
    QTest::newRow("cut short") << windowHeader(" 5", hex1).left(86) << QStringList{}
                               << "the file ends before its column header (5 lines)" << "";
    // Catches a spreadsheet of another kind taken for a data file.
    QTest::newRow("another kind") << QByteArray("a,b\r\n1,2\r\n3,4\r\n5,6\r\n7,8\r\n9,10\r\n11,12\r\n")
                                  << QStringList{} << ""
                                  << "not a data file (line 4 does not begin with \"フィルタ :\")";
    // Catches a binary file read as a header.
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\n\n\n", 19) << QStringList{} << ""
                            << "not a data file (line 2 holds control bytes)";
    // Catches an empty file read as a data file of no rows.
    QTest::newRow("empty") << QByteArray() << QStringList{} << "" << "an empty file, not a data file";
    // Catches a header of the right labels but no column header taken as rows.
    QTest::newRow("no column header") << windowHeader(" 1", "0A1B2C") + "0A1B2C\r\n" << QStringList{} << ""
                                      << "not a data file (line 8 is no column header: \"0A1B2C\")";
}

void TestDataFileFormat::readKnownBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    QFETCH(QString, findings);
    QFETCH(QString, refused);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    DataFileReader reader;
    const bool opened = reader.Open(&buffer);
    QCOMPARE(reader.Error(), refused);
    QCOMPARE(opened, refused.isEmpty());
    if (!opened)
        return;
    KeepingSink sink;
    sink.reader = &reader;
    QVERIFY(reader.ReadRows(sink, 2)); // blocks of two rows: the seams are met
    QCOMPARE(sink.rows, rows);
    QCOMPARE(sink.begins, 1);
    QCOMPARE(sink.nextIndex, qint64(rows.size()));
    QCOMPARE(sink.finished, qint64(rows.size()));
    QCOMPARE(reader.Report().Describe().join(QStringLiteral("; ")), findings);
    QCOMPARE(sink.info.samplesPerSecond, 10.0);
    if (reader.Header().timeColumn) {
        // 2026-01-31T08:15:00.125 worked by hand: 20484 days and 29700.125 s.
        QCOMPARE(sink.times, (std::vector<qint64>{1769847300125, 1769847300225}));
        QCOMPARE(sink.info.started.time(), QTime(8, 15, 0, 125));
    }
}

void TestDataFileFormat::windowFilesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // Catches a header field or a row changed between reading and writing,
    // for each format and channel choice the window writes.
    QTest::newRow("hex CH0") << windowHeader(" 2", "CH0=Ain0-Ain1 [hex]") + "0A1B2C\r\n800000\r\n";
    QTest::newRow("hex CH1") << windowHeader(" 1", "CH1=Ain2-Ain3 [hex]", "\r\n", "CH1=Ain2-Ain3") + "7FFFFF\r\n";
    QTest::newRow("hex both") << windowHeader(" 1", "CH0=Ain0-Ain1 [hex],CH1=Ain2-Ain3 [hex]", "\r\n", "CH0 + CH1")
                                     + "0A1B2C,7FFF10\r\n";
    QTest::newRow("mV CH0") << windowHeader(" 2", "CH0=Ain0-Ain1 [mV]") + "-0.123\r\n2499.999\r\n";
    QTest::newRow("mV CH1 shown as both") << windowHeader(" 1", "CH0 + CH1 [mV]", "\r\n", "CH0 + CH1") + "1.500\r\n";
    QTest::newRow("mV both") << windowHeader(" 2", "CH0=Ain0-Ain1 [mV],CH1=Ain2-Ain3 [mV]", "\r\n", "CH0 + CH1")
                                    + "-0.123,1.500\r\n-0.001,0.000\r\n";
    QTest::newRow("no rows") << windowHeader(" 0", "CH0=Ain0-Ain1 [hex]");
}

void TestDataFileFormat::windowFilesRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    DataFileReader reader;
    QVERIFY2(reader.Open(&buffer), qPrintable(reader.Error()));
    KeepingSink sink;
    sink.reader = &reader;
    QVERIFY(reader.ReadRows(sink));
    QCOMPARE(reader.Report().Describe(), QStringList());
    DataFileContent c = reader.Header().content;
    c.samples = &sink.copy;
    c.rowCount = int(sink.finished);
    QByteArray again;
    QVERIFY(EncodeDataFile(c, again));
    QCOMPARE(again, bytes);
}

// Catches a folder read as an empty file instead of being refused.
void TestDataFileFormat::refusesFolder()
{
    QTemporaryDir dir;
    DataFileReader reader;
    QVERIFY(!reader.Open(dir.path()));
    QCOMPARE(reader.Error(), dir.path() + QStringLiteral(": not a plain file"));
}

QTEST_GUILESS_MAIN(TestDataFileFormat)
#include "tst_datafile_format.moc"
