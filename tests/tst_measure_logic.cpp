// Pure measurement logic without a window: exact values of sample decoding,
// the peak-to-peak text and the graph geometry, worked out by hand.
// Record cutting and the receive path's invariants are left to
// fuzz/fuzz_receive; the decoding paths' agreement, the extremes bounded by
// the searches' start values, the sample block giving back every text exactly
// and graphs of any texts (lines inside the picture, e.g. for "1e400") to
// fuzz/fuzz_decode.

#include <QtTest>

#include "measure/Decoding.h"
#include "measure/GraphGeometry.h"
#include "measure/PictureBox.h"
#include "measure/SampleBlock.h"

class TstMeasureLogic : public QObject {
    Q_OBJECT
private slots:
    void decode();
    void peakToPeak();
    void graph_data();
    void graph();
    void singlePrecisionX();
    void pictureReducesLargeRuns();
};

// Catches misread sample texts: hex case, blanks inside, stop at the first
// non-digit, signs, exponents, and no "&H" in a sample.
void TstMeasureLogic::decode()
{
    const struct { const char* text; bool hex; double value; } cases[] = {
        {"FFFFFF", true, 16777215}, {"ffffff", true, 16777215}, {"12 3\t45", true, 0x12345},
        {"12G456", true, 0x12}, {"\r\n", true, 0}, {"-0012.345", false, -12.345},
        {"      1.5", false, 1.5}, {"-00 12.5", false, -12.5}, {"1.5e3", false, 1500},
        {"12.5x9", false, 12.5}, {"", false, 0}, {"-.5", false, -0.5}, {"0A1B2C", false, 0}, {"&H10", false, 0}};
    SampleBlock b;
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.text);
        b.SetCh1(7, text);
        QVERIFY2(DecodeSample(QStringView(text), c.hex) == c.value && DecodeField(b, 7, 1, c.hex) == c.value, c.text);
    }
}

// Catches wrong decimals per gain, rounding (halves away from zero) and
// a lost minus sign. Spans given as max/min pairs as the searches leave them.
void TstMeasureLogic::peakToPeak()
{
    const struct { int mode; bool hex; int gain; double pp0, pp1; const char* text; } cases[] = {
        {0, true, 0, 37, 0, "[digit pp] CH0=37"}, {1, true, 5, 0, 12, "[digit pp] CH1=12"},
        {2, true, 0, 37, 0, "[digit pp] CH0=37, CH1=0"}, {0, true, 0, 16777215, 0, "[digit pp] CH0=16777215"},
        {2, false, 0, 0.0123, 0.0156, "[mV pp] CH0=0.012, CH1=0.016"},
        {0, false, 1, 0, 0, "[mV pp] CH0=0.0000"}, {1, false, 2, 0, 0.12345, "[mV pp] CH1=0.1235"},
        {0, false, 3, 0.0004, 0, "[mV pp] CH0=0.00040"}, {0, false, -1, 0.5, 0, "[mV pp] CH0=0.5000"},
        // halves away from zero
        {0, false, 0, 0.0125, 0, "[mV pp] CH0=0.013"}, {0, false, 0, 2.0005, 0, "[mV pp] CH0=2.001"},
        // a negative span that rounds to zero keeps its sign
        {2, false, 0, -0.0004, -0.00004, "[mV pp] CH0=-0.000, CH1=-0.000"}, {0, false, 1, -0.00004, 0, "[mV pp] CH0=-0.0000"},
        {1, false, 4, 0, -0.000004, "[mV pp] CH1=-0.00000"}};
    for (const auto& c : cases) {
        const double base = c.hex ? 8388600.0 : -1.0;
        QCOMPARE(PeakToPeakText(c.mode, c.hex, c.gain, base + c.pp0, base, 100 + c.pp1, 100.0),
                 QString::fromLatin1(c.text));
    }
}

void TstMeasureLogic::graph_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("gain");
    QTest::addColumn<QStringList>("ch0");
    QTest::addColumn<QStringList>("ch1");
    QTest::addColumn<QStringList>("labels"); // Label3, Label4, Label5
    QTest::addColumn<QList<int>>("lines");   // x1 x2 y1 y2 colour per line; empty: count only
    QStringList wide;
    for (int i = 0; i < 100; ++i)
        wide << QString::number(8388600 + (i * 7) % 41, 16); // 8388600..8388640
    const QStringList mv0 = {"-0000.010", "+0000.030", "+0000.000"}, mv1 = {"+0000.020", "-0000.005", "+0000.010"}, no;
    const int blue = 0xFF0000, red = 0x0000FF;
    // Three samples: x at 0, 3187.5 -> 3188, 6375. Scale 98..108 over 3435
    // twips, 343.5 a code: 100 -> 2748, 106 -> 687, 103 -> 1717.5 -> 1718.
    QTest::newRow("hex 100..106") << true << 0 << QStringList{"000064", "00006A", "000067"} << no << QStringList{"108", "103", "98"}
                                  << QList<int>{0, 3188, 2748, 687, blue, 3188, 6375, 687, 1718, blue};
    QTest::newRow("hex CH1 all 1000") << true << 0 << no << QStringList(3, "0003E8") << QStringList{"1002", "1000", "998"}
                                      << QList<int>{0, 3188, 1718, 1718, red, 3188, 6375, 1718, 1718, red};
    // -0.030..0.050 mV, 42937.5 twips a mV: -0.010 -> 2576.25, 0.030 -> 858.75,
    // 0 -> 2146.875, 0.020 -> 1288.125, -0.005 -> 2361.5625, 0.010 -> 1717.5.
    QTest::newRow("mV two channels") << false << 0 << mv0 << mv1 << QStringList{"0.050", "0.010", "-0.030"}
                                     << QList<int>{0, 3188, 2576, 859, blue, 3188, 6375, 859, 2147, blue,
                                                   0, 3188, 1288, 2362, red, 3188, 6375, 2362, 1718, red};
    QTest::newRow("mV flat: half height") << false << 2 << QStringList(4, "+0001.500") << no << QStringList{"1.5000", "1.5000", "1.5000"}
                                          << QList<int>{0, 2125, 1718, 1718, blue, 2125, 4250, 1718, 1718, blue, 4250, 6375, 1718, 1718, blue};
    QTest::newRow("hex 100 samples") << true << 0 << wide << no << QStringList{"8388650", "8388620", "8388590"} << QList<int>();
    // Halves go away from zero: mid 103.5 -> 104, range/4 = 1.75 -> 2, 2.5 -> 3.
    QTest::newRow("hex 100..107") << true << 0 << QStringList{"000064", "00006B"} << no << QStringList{"109", "104", "99"} << QList<int>();
    QTest::newRow("hex 100..110") << true << 0 << QStringList{"000064", "00006E"} << no << QStringList{"113", "105", "97"} << QList<int>();
    QTest::newRow("mV at gain 64") << false << 4 << mv0 << mv1 << QStringList{"0.05000", "0.01000", "-0.03000"} << QList<int>();
    QTest::newRow("mV around 0") << false << 0 << QStringList{"-0.0002", "+0.0001"} << no << QStringList{"0.000", "-0.000", "-0.000"} << QList<int>();
    QTest::newRow("one sample: labels only") << true << 0 << QStringList{"000100"} << no << QStringList{"258", "256", "254"} << QList<int>();
}

// Catches wrong scale labels (rounding, decimals per gain, sign of zero),
// misplaced or miscoloured lines, and a flat block not drawn at half height.
void TstMeasureLogic::graph()
{
    QFETCH(bool, hex);
    QFETCH(int, gain);
    QFETCH(QStringList, ch0);
    QFETCH(QStringList, ch1);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, lines);
    const int mode = ch0.isEmpty() ? 1 : ch1.isEmpty() ? 0 : 2, n = int(std::max(ch0.size(), ch1.size()));
    SampleBlock b;
    for (int i = 0; i < n; ++i)
        b.Set(i, {ch0.value(i), ch1.value(i)});
    const GraphPlan p = ComputeGraph(b, n, mode, hex, gain, 6375, 3435);
    QCOMPARE((QStringList{p.scale.topText, p.scale.midText, p.scale.bottomText}), labels);
    QVERIFY(p.complete);
    QCOMPARE(int(p.lines.size()), (mode == 2 ? 2 : 1) * (n - 1));
    QList<int> got;
    for (const RecordedLine& l : p.lines)
        got << l.x1 << l.x2 << l.y1 << l.y2 << int(l.color);
    if (!lines.isEmpty())
        QCOMPARE(got, lines);
}

// Catches x positions worked in double precision: 91 samples put sample 27
// at 1912.5 twips exactly, which the single-precision step 70.833336 lifts
// to 1913 (double would give 1912).
void TstMeasureLogic::singlePrecisionX()
{
    const GraphPlan p = ComputeGraph(SampleBlock(), 91, 0, true, 0, 6375, 3435); // 91 empty texts: all 0
    QCOMPARE((QList<int>{p.lines[26].x2, p.lines[27].x1, p.lines.back().x2}), (QList<int>{1913, 1913, 6375}));
}

// Catches a reduced painting that drops a column's extremes or the colour
// order (CH0 blue, CH1 red) or thins the recorded lines themselves.
void TstMeasureLogic::pictureReducesLargeRuns()
{
    PictureBox box;
    box.resize(box.sizeHint());
    SampleBlock b;
    for (int i = 0; i < kSampleCapacity; ++i)
        b.Set(i, {QString::number(8388000 + (qint64(i) * 7919) % 1000, 16), QString::number(8388000 + (qint64(i) * 104729) % 1000, 16)});
    box.AddLines(ComputeGraph(b, kSampleCapacity, 2, true, 0, 6375, 3435).lines);
    QCOMPARE(box.Lines().size(), size_t(2 * (kSampleCapacity - 1)));
    const auto& runs = box.PaintRuns();
    QCOMPARE(int(runs.size()), 2);
    QCOMPARE(runs[0].color, QColor(0, 0, 255));
    QCOMPARE(runs[1].color, QColor(255, 0, 0));
    for (const auto& run : runs) {
        QVERIFY(run.pixelLines.size() <= 2 * 426);
        int lo = INT_MAX, hi = INT_MIN;
        for (const QLine& l : run.pixelLines)
            lo = std::min({lo, l.y1(), l.y2()}), hi = std::max({hi, l.y1(), l.y2()});
        QVERIFY(lo <= 3435 / 4 / 15 + 1 && hi >= 3435 * 3 / 4 / 15 - 1);
    }
    box.Cls();
    box.Line(0, 0, 6375, 3435, 0);
    QCOMPARE(box.PaintRuns()[0].pixelLines.front(), QLine(0, 0, 425, 229));
}

QTEST_MAIN(TstMeasureLogic)
#include "tst_measure_logic.moc"
