// Pure measurement logic: sample decoding, extremes, the peak-to-peak text,
// record cutting, the sample block and the graph geometry, without a window.

#include <QtTest>
#include <cmath>
#include <cstring>
#include <random>

#include "app/NumberReading.h"
#include "measure/Decoding.h"
#include "measure/GraphGeometry.h"
#include "measure/PictureBox.h"
#include "measure/Reception.h"
#include "measure/SampleBlock.h"

namespace {

bool sameDouble(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void fill(SampleBlock& b, int channel, const QStringList& texts)
{
    for (int i = 0; i < texts.size(); ++i)
        b.SetField(i, channel, texts[i]);
}

// Expected y of the graph, written out here without the program's helpers:
// the default floating rounding mode takes halves to the even neighbour.
int expectY(double v, double top, double bottom, int H)
{
    return int(std::nearbyint(H - (v - bottom) * H / (top - bottom)));
}

} // namespace

class TstMeasureLogic : public QObject {
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void decodeShortPathMatchesFullReading();
    void extremesStartValues();
    void graphExtremesCoverBothChannels();
    void peakToPeak_data();
    void peakToPeak();
    void cutRecords();
    void cutRecordsChunkingIndependent();
    void cutRecordsNeverBeyondBlock();
    void cutRecordsZeroLengthTakesNothing();
    void sampleBlockKeepsTextsExactly();
    void graphScale_data();
    void graphScale();
    void graphLinesHex();
    void graphLinesMillivoltsTwoChannels();
    void graphFlatMillivoltsAtHalfHeight();
    void graphOneSampleOnlyLabels();
    void graphStopsSilentlyOnBadValue();
    void pictureReducesLargeRuns();
};

void TstMeasureLogic::decode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<double>("value");
    QTest::newRow("hex mid") << "800000" << true << 8388608.0;
    QTest::newRow("hex FFFFFF is positive") << "FFFFFF" << true << 16777215.0;
    QTest::newRow("hex lower case") << "ffffff" << true << 16777215.0;
    QTest::newRow("hex zero") << "000000" << true << 0.0;
    QTest::newRow("hex blanks inside") << "12 3\t45" << true << double(0x12345);
    QTest::newRow("hex stops at non digit") << "12G456" << true << double(0x12);
    QTest::newRow("hex empty") << "" << true << 0.0;
    QTest::newRow("hex no digit") << "\r\n" << true << 0.0;
    QTest::newRow("mV board field") << "-0012.345" << false << -12.345;
    QTest::newRow("mV leading blanks") << "      1.5" << false << 1.5;
    QTest::newRow("mV blank inside") << "-00 12.5" << false << -12.5;
    QTest::newRow("mV plus sign") << "+0001.000" << false << 1.0;
    QTest::newRow("mV exponent") << "1.5e3" << false << 1500.0;
    QTest::newRow("mV trailing garbage") << "12.5x9" << false << 12.5;
    QTest::newRow("mV empty") << "" << false << 0.0;
    QTest::newRow("mV letters") << "abc" << false << 0.0;
    QTest::newRow("mV point first") << "-.5" << false << -0.5;
    QTest::newRow("mV hex text read as decimal") << "0A1B2C" << false << 0.0;
}

void TstMeasureLogic::decode()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(double, value);
    QCOMPARE(DecodeSample(QStringView(text), hex), value);
    const QByteArray latin = text.toLatin1();
    QCOMPARE(DecodeSample(QLatin1StringView(latin), hex), value);
    SampleBlock b;
    b.SetCh1(7, text);
    QCOMPARE(DecodeField(b, 7, 1, hex), value);
}

void TstMeasureLogic::decodeShortPathMatchesFullReading()
{
    // The short path for well-formed fields must give bit for bit what the
    // program-wide reading rule gives, for the field shapes the board sends
    // and for shapes near them.
    std::mt19937 rng(7);
    const char* alphabet = "0123456789.-+ eE";
    for (int n = 0; n < 200000; ++n) {
        QString s;
        const int len = int(rng() % 12);
        const bool wellFormed = n % 2 == 0;
        if (wellFormed) {
            if (rng() % 2)
                s += QLatin1Char(rng() % 2 ? '-' : '+');
            const int intDigits = 1 + int(rng() % 8);
            for (int k = 0; k < intDigits; ++k)
                s += QLatin1Char(char('0' + rng() % 10));
            if (rng() % 4) {
                s += QLatin1Char('.');
                const int dec = int(rng() % 8);
                for (int k = 0; k < dec; ++k)
                    s += QLatin1Char(char('0' + rng() % 10));
            }
        } else {
            for (int k = 0; k < len; ++k)
                s += QLatin1Char(alphabet[rng() % 16]);
        }
        const double fast = DecodeSample(QStringView(s), false);
        const double full = ReadNumber(s);
        if (!sameDouble(fast, full))
            QFAIL(qPrintable(QStringLiteral("decimal %1: %2 vs %3").arg(s).arg(fast, 0, 'g', 17).arg(full, 0, 'g', 17)));

        QString h;
        const char* hexAlphabet = "0123456789ABCDEFabcdef g";
        for (int k = 0; k < 1 + int(rng() % 8); ++k)
            h += QLatin1Char(hexAlphabet[rng() % (wellFormed ? 22 : 24)]);
        if (!sameDouble(DecodeSample(QStringView(h), true), ReadHexNumber(h)))
            QFAIL(qPrintable(QStringLiteral("hex %1").arg(h)));
    }
}

void TstMeasureLogic::extremesStartValues()
{
    SampleBlock b;
    // Millivolts all below the start of the largest-value search: the start
    // value bounds the result; likewise above the smallest-value start.
    fill(b, 0, {"-6000000", "-7000000"});
    QCOMPARE(FindChannelMax(b, 0, 2, false), -5000000.0);
    QCOMPARE(FindChannelMin(b, 0, 2, false), -7000000.0);
    fill(b, 1, {"6000000", "7000000"});
    QCOMPARE(FindChannelMin(b, 1, 2, false), 5000000.0);
    QCOMPARE(FindChannelMax(b, 1, 2, false), 7000000.0);

    // Equal codes: largest equals smallest; FFFFFF is the top of the scale.
    fill(b, 0, {"FFFFFF", "FFFFFF", "FFFFFF"});
    QCOMPARE(FindChannelMax(b, 0, 3, true), 16777215.0);
    QCOMPARE(FindChannelMin(b, 0, 3, true), 16777215.0);
    // Only entries below the count are read.
    fill(b, 0, {"000010", "000020", "FFFFFF"});
    QCOMPARE(FindChannelMax(b, 0, 2, true), 32.0);
    // No entry: the start values.
    QCOMPARE(FindChannelMax(b, 0, 0, true), 0.0);
    QCOMPARE(FindChannelMin(b, 0, 0, true), 16777216.0);
}

void TstMeasureLogic::graphExtremesCoverBothChannels()
{
    SampleBlock b;
    fill(b, 0, {"000100", "000105"});
    fill(b, 1, {"000090", "000102"});
    QCOMPARE(FindModeMax(b, 2, 2, true), double(0x105));
    QCOMPARE(FindModeMin(b, 2, 2, true), double(0x90));
    QCOMPARE(FindModeMax(b, 1, 2, true), double(0x102));
    QCOMPARE(FindModeMin(b, 0, 2, true), double(0x100));
    QCOMPARE(FindModeMax(b, 7, 2, true), 0.0);  // no channel
}

void TstMeasureLogic::peakToPeak_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("gain");
    QTest::addColumn<double>("pp0");
    QTest::addColumn<double>("pp1");
    QTest::addColumn<QString>("text");
    QTest::newRow("hex CH0") << 0 << true << 0 << 37.0 << 0.0 << "[digit pp] CH0=37";
    QTest::newRow("hex CH1") << 1 << true << 5 << 0.0 << 12.0 << "[digit pp] CH1=12";
    QTest::newRow("hex two") << 2 << true << 0 << 37.0 << 0.0 << "[digit pp] CH0=37, CH1=0";
    QTest::newRow("hex full scale") << 0 << true << 0 << 16777215.0 << 0.0
                                    << "[digit pp] CH0=16777215";
    QTest::newRow("mV two gain1") << 2 << false << 0 << 0.0123 << 0.0156
                                  << "[mV pp] CH0=0.012, CH1=0.016";
    QTest::newRow("mV zero gain1") << 0 << false << 0 << 0.0 << 0.0 << "[mV pp] CH0=0.000";
    QTest::newRow("mV zero gain8") << 0 << false << 1 << 0.0 << 0.0 << "[mV pp] CH0=0.0000";
    QTest::newRow("mV gain16 four") << 1 << false << 2 << 0.0 << 0.12345 << "[mV pp] CH1=0.1235";
    QTest::newRow("mV gain32 five") << 0 << false << 3 << 0.0004 << 0.0 << "[mV pp] CH0=0.00040";
    QTest::newRow("mV small gain1") << 0 << false << 0 << 0.0004 << 0.0 << "[mV pp] CH0=0.000";
    QTest::newRow("mV small gain128") << 0 << false << 5 << 0.0004 << 0.0 << "[mV pp] CH0=0.00040";
    QTest::newRow("mV half away") << 0 << false << 0 << 0.0125 << 0.0 << "[mV pp] CH0=0.013";
    QTest::newRow("mV half away 2") << 0 << false << 0 << 2.0005 << 0.0 << "[mV pp] CH0=2.001";
    QTest::newRow("mV typed gain") << 0 << false << -1 << 0.5 << 0.0 << "[mV pp] CH0=0.5000";
}

void TstMeasureLogic::peakToPeak()
{
    QFETCH(int, mode);
    QFETCH(bool, hex);
    QFETCH(int, gain);
    QFETCH(double, pp0);
    QFETCH(double, pp1);
    QFETCH(QString, text);
    // Given as max/min pairs the way the searches leave them.
    const double base = hex ? 8388600.0 : -1.0;
    QCOMPARE(PeakToPeakText(mode, hex, gain, base + pp0, base, 100.0 + pp1, 100.0), text);
}

void TstMeasureLogic::cutRecords()
{
    SampleBlock b;
    b.SetCh0(0, QStringLiteral("OLD000"));
    qint32 count = 0;
    // Two-channel hex: Ch0 = characters 1-6, Ch1 = 7-12, 13 dropped.
    QString buf = QStringLiteral("0A1B2C0B1C2D\r0A1B2D0B1C2E\r0A1");
    CutResult r = CutRecords(buf, MakeRecordLayout(2, true), b, count, 5);
    QCOMPARE(r.stored, 2);
    QVERIFY(!r.complete);
    QCOMPARE(count, 2);
    QCOMPARE(b[0].Ch0, QStringLiteral("0A1B2C"));
    QCOMPARE(b[0].Ch1, QStringLiteral("0B1C2D"));
    QCOMPARE(b[1].Ch1, QStringLiteral("0B1C2E"));
    QCOMPARE(buf, QStringLiteral("0A1"));

    // CH1 only leaves the Ch0 texts of an earlier block.
    SampleBlock c;
    c.SetCh0(0, QStringLiteral("-0001.000"));
    qint32 n = 0;
    QString mv = QStringLiteral("+0002.500\r+0003.500\r");
    r = CutRecords(mv, MakeRecordLayout(1, false), c, n, 2);
    QVERIFY(r.complete);
    QCOMPARE(c[0].Ch0, QStringLiteral("-0001.000"));
    QCOMPARE(c[0].Ch1, QStringLiteral("+0002.500"));
    QCOMPARE(c[1].Ch1, QStringLiteral("+0003.500"));

    // Extra characters after the last record stay in the buffer.
    SampleBlock d;
    qint32 m = 0;
    QString tail = QStringLiteral("000001\r000002\r000003\r0000");
    r = CutRecords(tail, MakeRecordLayout(0, true), d, m, 2);
    QVERIFY(r.complete);
    QCOMPARE(m, 2);
    QCOMPARE(tail, QStringLiteral("000003\r0000"));
    QCOMPARE(d[2].Ch0, QString());
}

void TstMeasureLogic::cutRecordsChunkingIndependent()
{
    QString stream;
    for (int i = 0; i < 50; ++i)
        stream += QStringLiteral("%1%2\n").arg(i * 37, 6, 16, QLatin1Char('0')).arg(i, 6, 16, QLatin1Char('0'));
    const RecordLayout layout = MakeRecordLayout(2, true);

    SampleBlock whole;
    qint32 wholeCount = 0;
    QString all = stream;
    CutRecords(all, layout, whole, wholeCount, 50);

    std::mt19937 rng(3);
    for (int trial = 0; trial < 20; ++trial) {
        SampleBlock parts;
        qint32 partsCount = 0;
        QString buf;
        qsizetype pos = 0;
        int stores = 0;
        while (pos < stream.size()) {
            const qsizetype len = trial == 0 ? 1 : 1 + qsizetype(rng() % 40);
            buf += stream.mid(pos, len);
            pos += len;
            stores += CutRecords(buf, layout, parts, partsCount, 50).stored;
            QVERIFY(buf.size() < layout.recordLength || partsCount == 50);
        }
        QCOMPARE(stores, 50);
        QCOMPARE(partsCount, wholeCount);
        for (int i = 0; i < 50; ++i) {
            QCOMPARE(parts[i].Ch0, whole[i].Ch0);
            QCOMPARE(parts[i].Ch1, whole[i].Ch1);
        }
    }
}

void TstMeasureLogic::cutRecordsNeverBeyondBlock()
{
    SampleBlock b;
    qint32 count = kSampleCapacity - 2;
    QString buf = QStringLiteral("000001\r000002\r000003\r000004\r");
    // A count of 0 never completes; the block ends at its 65535th entry.
    CutResult r = CutRecords(buf, MakeRecordLayout(0, true), b, count, 0);
    QCOMPARE(r.stored, 2);
    QVERIFY(r.full);
    QVERIFY(!r.complete);
    QCOMPARE(count, kSampleCapacity);
    QCOMPARE(b[kSampleCapacity - 1].Ch0, QStringLiteral("000002"));
    QCOMPARE(buf, QStringLiteral("000003\r000004\r"));
    r = CutRecords(buf, MakeRecordLayout(0, true), b, count, 0);
    QCOMPARE(r.stored, 0);
    QCOMPARE(count, kSampleCapacity);

    // Writes outside the block are ignored, never stored.
    b.SetCh0(kSampleCapacity, QStringLiteral("X"));
    b.SetCh0(-1, QStringLiteral("X"));
    QCOMPARE(b[kSampleCapacity].Ch0, QString());
    QCOMPARE(b[-1].Ch0, QString());
}

void TstMeasureLogic::cutRecordsZeroLengthTakesNothing()
{
    SampleBlock b;
    qint32 count = 0;
    QString buf = QStringLiteral("0000010000020000");
    for (const RecordLayout& l : {RecordLayout{0, 6, 0}, RecordLayout{2, 6, 7},
                                  RecordLayout{-1, 6, 7}, RecordLayout{0, 0, 1}}) {
        const CutResult r = CutRecords(buf, l, b, count, 10);
        QCOMPARE(r.stored, 0);
    }
    QCOMPARE(count, 0);
    QCOMPARE(buf.size(), 16);
    QCOMPARE(MakeRecordLayout(-1, true).recordLength, 0);
    QCOMPARE(MakeRecordLayout(2, false).recordLength, 19);
    QCOMPARE(MakeRecordLayout(1, true).recordLength, 7);
}

void TstMeasureLogic::sampleBlockKeepsTextsExactly()
{
    SampleBlock b;
    QCOMPARE(b.MemoryBytes(), size_t(0));   // nothing allocated while unused
    const QStringList texts = {"", "0A1B2C", "-0012.345", QStringLiteral("ÿ\x01 x"),
                               QStringLiteral("long text over nine"), QStringLiteral("測定"),
                               "123"};
    for (int i = 0; i < texts.size(); ++i) {
        b.SetCh0(i, texts[i]);
        b.SetCh1(i + 100, texts[i]);
    }
    for (int i = 0; i < texts.size(); ++i) {
        QCOMPARE(b[i].Ch0, texts[i]);
        QCOMPARE(b.Ch1(i + 100), texts[i]);
    }
    // Overwriting a set-aside text with a short one and back.
    b.SetCh0(4, QStringLiteral("1"));
    QCOMPARE(b[4].Ch0, QStringLiteral("1"));
    b.SetCh0(4, QStringLiteral("again a long text"));
    QCOMPARE(b[4].Ch0, QStringLiteral("again a long text"));
    QCOMPARE(DecodeField(b, 5, 0, false), 0.0);
    // A full block of two 9-character fields stays small.
    for (int i = 0; i < kSampleCapacity; ++i)
        b.Set(i, {QStringLiteral("-0012.345"), QStringLiteral("+0001.000")});
    QVERIFY2(b.MemoryBytes() < 2u * 1024 * 1024, qPrintable(QString::number(b.MemoryBytes())));
    QCOMPARE(b[kSampleCapacity - 1].Ch1, QStringLiteral("+0001.000"));
    b.Clear();
    QCOMPARE(b[0].Ch0, QString());
}

void TstMeasureLogic::graphScale_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("gain");
    QTest::addColumn<double>("top0");
    QTest::addColumn<double>("bottom0");
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("mid");
    QTest::addColumn<QString>("bottom");
    QTest::newRow("hex range 40") << true << 0 << 8388640.0 << 8388600.0 << "8388650" << "8388620"
                                  << "8388590";
    QTest::newRow("hex flat") << true << 0 << 1000.0 << 1000.0 << "1002" << "1000" << "998";
    QTest::newRow("hex range 6") << true << 0 << 106.0 << 100.0 << "108" << "103" << "98";
    QTest::newRow("hex range 7") << true << 0 << 107.0 << 100.0 << "109" << "104" << "99";
    // Halves go away from zero: mid 103.5 -> 104, range/4 = 1.75 -> 2 (7),
    // range 10 / 4 = 2.5 -> 3.
    QTest::newRow("hex range 10") << true << 0 << 110.0 << 100.0 << "113" << "105" << "97";
    QTest::newRow("hex range 9") << true << 0 << 109.0 << 100.0 << "111" << "105" << "99";
    QTest::newRow("mV gain1") << false << 0 << 0.030 << -0.010 << "0.050" << "0.010" << "-0.030";
    QTest::newRow("mV gain16") << false << 2 << 0.030 << -0.010 << "0.0500" << "0.0100"
                               << "-0.0300";
    QTest::newRow("mV gain64") << false << 4 << 0.030 << -0.010 << "0.05000" << "0.01000"
                               << "-0.03000";
    QTest::newRow("mV flat") << false << 0 << 1.5 << 1.5 << "1.500" << "1.500" << "1.500";
}

void TstMeasureLogic::graphScale()
{
    QFETCH(bool, hex);
    QFETCH(int, gain);
    QFETCH(double, top0);
    QFETCH(double, bottom0);
    QFETCH(QString, top);
    QFETCH(QString, mid);
    QFETCH(QString, bottom);
    const GraphScale s = ComputeGraphScale(top0, bottom0, hex, gain);
    QCOMPARE(s.topText, top);
    QCOMPARE(s.midText, mid);
    QCOMPARE(s.bottomText, bottom);
}

void TstMeasureLogic::graphLinesHex()
{
    // 100 codes from 8388600 to 8388640 in a 6375 x 3435 box.
    SampleBlock b;
    QList<double> v;
    for (int i = 0; i < 100; ++i) {
        const int code = 8388600 + (i * 7) % 41;
        v << code;
        b.SetCh0(i, QString::number(code, 16).toUpper().rightJustified(6, QLatin1Char('0')));
    }
    b.SetCh0(3, QStringLiteral("800000"));   // 8388608
    v[3] = 8388608;
    b.SetCh0(5, QStringLiteral("800020"));   // 8388640
    v[5] = 8388640;
    const GraphPlan p = ComputeGraph(b, 100, 0, true, 0, 6375, 3435);
    QCOMPARE(p.scale.topText, QStringLiteral("8388650"));
    QCOMPARE(p.scale.midText, QStringLiteral("8388620"));
    QCOMPARE(p.scale.bottomText, QStringLiteral("8388590"));
    QVERIFY(p.complete);
    QCOMPARE(int(p.lines.size()), 99);
    const double step = 6375.0 / 99.0;
    for (int i = 0; i < 99; ++i) {
        const RecordedLine& l = p.lines[size_t(i)];
        QCOMPARE(l.color, 0xFF0000u);
        // Exact in double, the float step changes nothing at this size.
        QCOMPARE(l.x1, int(std::floor(step * i + 0.5)));
        QCOMPARE(l.x2, int(std::floor(step * (i + 1) + 0.5)));
        QCOMPARE(l.y1, expectY(v[i], 8388650, 8388590, 3435));
        QCOMPARE(l.y2, expectY(v[i + 1], 8388650, 8388590, 3435));
    }
    QCOMPARE(p.lines.front().x1, 0);
    QCOMPARE(p.lines.back().x2, 6375);
    // The value at the top lands on 0: 8388650 is not in the data, but the
    // y of 8388620 (mid) is exactly half of 3435 rounded to even: 1718.
    QCOMPARE(expectY(8388620, 8388650, 8388590, 3435), 1718);

    // All 1000: flat line at half height.
    SampleBlock flat;
    for (int i = 0; i < 10; ++i)
        flat.SetCh1(i, QStringLiteral("0003E8"));
    const GraphPlan f = ComputeGraph(flat, 10, 1, true, 0, 6375, 3435);
    QCOMPARE(f.scale.topText, QStringLiteral("1002"));
    QCOMPARE(f.scale.bottomText, QStringLiteral("998"));
    QCOMPARE(int(f.lines.size()), 9);
    for (const RecordedLine& l : f.lines) {
        QCOMPARE(l.y1, 1718);
        QCOMPARE(l.y2, 1718);
        QCOMPARE(l.color, 0x0000FFu);
    }
}

void TstMeasureLogic::graphLinesMillivoltsTwoChannels()
{
    SampleBlock b;
    const QStringList ch0 = {"-0000.010", "+0000.030", "+0000.000"};
    const QStringList ch1 = {"+0000.020", "-0000.005", "+0000.010"};
    fill(b, 0, ch0);
    fill(b, 1, ch1);
    const GraphPlan p = ComputeGraph(b, 3, 2, false, 0, 6375, 3435);
    QCOMPARE(p.scale.topText, QStringLiteral("0.050"));
    QCOMPARE(p.scale.midText, QStringLiteral("0.010"));
    QCOMPARE(p.scale.bottomText, QStringLiteral("-0.030"));
    QCOMPARE(int(p.lines.size()), 4);
    // CH0 blue first, then CH1 red, against the common scale.
    const double top = 0.030 + 0.020, bottom = -0.010 - 0.020;
    for (int c = 0; c < 2; ++c) {
        const QStringList& t = c == 0 ? ch0 : ch1;
        for (int i = 0; i < 2; ++i) {
            const RecordedLine& l = p.lines[size_t(c * 2 + i)];
            QCOMPARE(l.color, c == 0 ? 0xFF0000u : 0x0000FFu);
            QCOMPARE(l.x1, i == 0 ? 0 : 3188);  // 6375/2 = 3187.5 -> 3188
            QCOMPARE(l.x2, i == 0 ? 3188 : 6375);
            QCOMPARE(l.y1, expectY(t[i].toDouble(), top, bottom, 3435));
            QCOMPARE(l.y2, expectY(t[i + 1].toDouble(), top, bottom, 3435));
        }
    }
    // The largest value sits at three quarters of the height from the
    // bottom (the data fill the middle half).
    QCOMPARE(p.lines[0].y2, expectY(0.030, top, bottom, 3435));
    QVERIFY(std::abs(p.lines[0].y2 - 3435 / 4) <= 1);
}

void TstMeasureLogic::graphFlatMillivoltsAtHalfHeight()
{
    SampleBlock b;
    fill(b, 0, {"+0001.500", "+0001.500", "+0001.500", "+0001.500"});
    const GraphPlan p = ComputeGraph(b, 4, 0, false, 2, 6375, 3435);
    QCOMPARE(p.scale.topText, QStringLiteral("1.5000"));
    QCOMPARE(p.scale.bottomText, QStringLiteral("1.5000"));
    QVERIFY(p.complete);
    QCOMPARE(int(p.lines.size()), 3);
    for (const RecordedLine& l : p.lines) {
        QCOMPARE(l.y1, 1718);
        QCOMPARE(l.y2, 1718);
    }
}

void TstMeasureLogic::graphOneSampleOnlyLabels()
{
    SampleBlock b;
    b.SetCh0(0, QStringLiteral("000100"));
    const GraphPlan p = ComputeGraph(b, 1, 0, true, 0, 6375, 3435);
    QCOMPARE(p.scale.topText, QStringLiteral("258"));
    QVERIFY(p.lines.empty());
}

void TstMeasureLogic::graphStopsSilentlyOnBadValue()
{
    // A text whose value overflows makes the scale infinite: no position can
    // be computed, the drawing stops with nothing drawn, the labels stay.
    SampleBlock b;
    fill(b, 0, {"+0001.000", "1e400", "+0002.000"});
    const GraphPlan p = ComputeGraph(b, 3, 0, false, 0, 6375, 3435);
    QVERIFY(!p.complete);
    QVERIFY(p.lines.empty());
    // Codes: the stop comes at the first bad segment, earlier ones stay.
    SampleBlock c;
    fill(c, 0, {"000001", "000002", "000003"});
    int y0 = 0;
    QVERIFY(GraphY(2, 5, -1, 3435, &y0));
    int y = 0;
    QVERIFY(!GraphY(1e300, 1.0, 0.0, 3435, &y));
}

void TstMeasureLogic::pictureReducesLargeRuns()
{
    PictureBox box;
    box.resize(box.sizeHint());
    SampleBlock b;
    for (int i = 0; i < kSampleCapacity; ++i) {
        b.SetCh0(i, QString::number(8388000 + (qint64(i) * 7919) % 1000, 16).toUpper());
        b.SetCh1(i, QString::number(8388000 + (qint64(i) * 104729) % 1000, 16).toUpper());
    }
    const GraphPlan p = ComputeGraph(b, kSampleCapacity, 2, true, 0, 6375, 3435);
    QCOMPARE(int(p.lines.size()), 2 * (kSampleCapacity - 1));
    box.AddLines(p.lines);
    QCOMPARE(box.Lines().size(), p.lines.size());
    const auto& runs = box.PaintRuns();
    QCOMPARE(int(runs.size()), 2);
    QCOMPARE(runs[0].color, QColor(0, 0, 255));   // FF0000 = blue
    QCOMPARE(runs[1].color, QColor(255, 0, 0));   // 0000FF = red
    for (const auto& run : runs) {
        QVERIFY2(run.pixelLines.size() <= 2 * 426, qPrintable(QString::number(run.pixelLines.size())));
        // The reduction keeps the extremes of every column.
        int lo = INT_MAX, hi = INT_MIN;
        for (const QLine& l : run.pixelLines) {
            lo = std::min({lo, l.y1(), l.y2()});
            hi = std::max({hi, l.y1(), l.y2()});
        }
        QVERIFY(lo <= 3435 / 4 / 15 + 1);
        QVERIFY(hi >= 3435 * 3 / 4 / 15 - 1);
    }
    QImage img(box.size(), QImage::Format_RGB32);
    box.render(&img);
    QCOMPARE(QColor(img.pixel(0, 0)), QColor(Qt::white));
    QVERIFY(box.PaintedLineCount() <= 4 * 426);

    // A few lines are painted one by one; Cls empties everything.
    box.Cls();
    QVERIFY(box.Lines().empty());
    box.Line(0, 0, 6375, 3435, 0);
    QCOMPARE(int(box.PaintRuns().size()), 1);
    QCOMPARE(box.PaintRuns()[0].pixelLines.front(), QLine(0, 0, 425, 229));
}

QTEST_MAIN(TstMeasureLogic)
#include "tst_measure_logic.moc"
