// Noise figures, histogram and spectrum of synthetic blocks whose answers are
// known beforehand: Gaussian noise of a given sigma, constant blocks, sines of
// a given frequency and amplitude, codes that alternate.

#include <QtTest>

#include <cmath>
#include <numeric>
#include <random>

#include "analysis/AllanDeviation.h"
#include "analysis/Histogram.h"
#include "analysis/NoiseStats.h"
#include "analysis/NoiseDensity.h"
#include "analysis/SpanAnalysis.h"
#include "measure/SampleBlock.h"
#include "sim/SimBoard.h"

using Values = std::vector<double>;

namespace {

// n values: offset + amplitude * sin(2 pi f i / fs) + Gaussian noise of
// `sigma`, rounded to whole codes when `codes`. Fixed seed.
Values Signal(int n, double offset, double sigma, double amplitude = 0, double f = 0, double fs = 1,
              bool codes = false)
{
    std::mt19937 rng(20261207);
    std::normal_distribution<double> noise(0.0, sigma);
    Values v;
    for (int i = 0; i < n; ++i) {
        const double x = offset + amplitude * std::sin(2 * M_PI * f * i / fs) + noise(rng);
        v.push_back(codes ? std::round(x) : x);
    }
    return v;
}

// 65535 codes of the simulator's test input at 1200 sps.
Values SimInput(const vexlo::sim::TestSignal& input)
{
    vexlo::sim::SimBoard board(vexlo::sim::Model::Tamrix, 7);
    vexlo::sim::BoardState state;
    state.rateCode = 10;
    board.setState(state);
    vexlo::sim::Faults f;
    f.input = input;
    board.setFaults(f);
    board.receive("A0FFFF\r");
    Values v;
    for (QByteArray r; !(r = board.nextRecord()).isEmpty();)
        v.push_back(r.left(6).toInt(nullptr, 16));
    return v;
}

Values operator+(Values a, const Values& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        a[i] += b[i];
    return a;
}

} // namespace

class TstAnalysis : public QObject {
    Q_OBJECT
private slots:
    void stats_data();
    void stats();
    void table();
    void histogram_data();
    void histogram();
    void spectrum_data();
    void spectrum();
    void longSpan_data();
    void longSpan();
    void longSpanSine();
    void allan_data();
    void allan();
    void sine_data();
    void sine();
    void fields_data();
    void fields();
};

void TstAnalysis::stats_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<double>("rms");       // expected sigma, within 2 %
    QTest::addColumn<QString>("bits");     // effective / noise-free cells; "" = not checked

    // sigma 3 codes: 24 - log2(3) = 22.42 bits (rounding to codes adds
    // 1/12 code^2: 3.014). Two samples 10 and 12: sigma sqrt(2) -> 23.5 bits,
    // p-p 2 -> 23.0 bits. No noise: the full 24 bits, not infinity.
    QTest::newRow("gauss 3 codes") << Signal(65535, 8388608, 3.0, 0, 0, 1, true) << true << 3.0 << "22.4/";
    QTest::newRow("gauss 4 uV") << Signal(65535, -12.3, 0.004) << false << 0.004 << "";
    QTest::newRow("constant") << Values(1000, 1000.0) << true << 0.0 << "24.0/24.0";
    QTest::newRow("one sample") << Values{8388607} << true << 0.0 << "24.0/24.0";
    QTest::newRow("two samples") << Values{10, 12} << true << std::sqrt(2.0) << "23.5/23.0";
    QTest::newRow("empty") << Values{} << true << 0.0 << "---/---";
}

// Catches a wrong sigma (Gaussian blocks of known sigma), resolution bits
// that run to infinity or NaN for a noiseless, short or empty block.
void TstAnalysis::stats()
{
    QFETCH(Values, values);
    QFETCH(bool, hex);
    QFETCH(double, rms);
    QFETCH(QString, bits);

    const NoiseStats s = ComputeNoiseStats(values, hex);
    QVERIFY2(rms == 0 ? s.rms == 0 : std::fabs(s.rms / rms - 1) <= 0.02, qPrintable(QString::number(s.rms)));
    const QString cells = NoiseStatsCells(s, hex).join(u'/');
    QVERIFY2(!cells.contains(u"nan", Qt::CaseInsensitive) && !cells.contains(u"inf", Qt::CaseInsensitive)
                 && (!hex || cells.section(u'/', 6).startsWith(bits)), qPrintable(cells));
}

// Catches wrong columns, units, decimals or "---" cells in the noise table.
void TstAnalysis::table()
{
    // Hand-worked: codes 8388600, 02, 04, 06: mean 8388603, p-p 6, deviations
    // -3 -1 1 3, sigma = sqrt(20 / 3) = 2.582; 24 - log2(2.582) = 22.63,
    // 24 - log2(6) = 21.42.
    const NoiseStats codes = ComputeNoiseStats({8388600, 8388602, 8388604, 8388606}, true);
    QCOMPARE(NoiseStatsTable({{"CH0", codes}, {"CH1", ChannelStats({}, 3, true)}}, true),
             QStringLiteral("CH\tデータ個数\t平均 [digit]\t最小 [digit]\t最大 [digit]\tピークtoピーク [digit]"
                            "\tRMSノイズ [digit]\t実効分解能 [bit]\tノイズフリー分解能 [bit]\t不正値\n"
                            "CH0\t4\t8388603.00\t8388600\t8388606\t6\t2.58\t22.6\t21.4\t0\n"
                            "CH1\t0\t---\t---\t---\t---\t---\t---\t---\t3\n"));
    // Millivolts -0.010, 0.030, 0.010: mean 0.010, sigma 0.020 -> four
    // decimals of a millivolt, one of a microvolt; -0.0001, -0.0002, -0.0001:
    // sigma 0.0000577 -> six decimals, none of a nanovolt.
    const NoiseStats mv = ComputeNoiseStats({-0.010, 0.030, 0.010}, false);
    const NoiseStats nearZero = ComputeNoiseStats({-0.0001, -0.0002, -0.0001}, false);
    QCOMPARE(NoiseStatsTable({{"CH1", mv}, {"CH0", nearZero}}, false),
             QStringLiteral("CH\tデータ個数\t平均\t最小\t最大\tピークtoピーク\tRMSノイズ\t不正値\n"
                            "CH1\t3\t10.0 µV\t-10.0 µV\t30.0 µV\t40.0 µV\t20.0 µV\t0\n"
                            "CH0\t3\t-133 nV\t-200 nV\t-100 nV\t100 nV\t58 nV\t0\n"));
    QCOMPARE(MillivoltFigure(-1.5, 3), QStringLiteral("-1.500 mV"));
}

void TstAnalysis::histogram_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("bins");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("firstLower");
    QTest::addColumn<QList<int>>("counts"); // the first bins' counts; the rest not checked

    Values alternating;
    for (int i = 0; i < 1001; ++i)
        alternating.push_back(8388608 + i % 2);
    // Catches bars not centred on whole codes, counts lost or misplaced.
    QTest::newRow("two codes alternating") << alternating << true << 2 << 1.0 << 8388607.5 << QList<int>{501, 500};
    // Catches a constant block without a bar (a zero span).
    QTest::newRow("constant") << Values(10, 77.0) << true << 1 << 1.0 << 76.5 << QList<int>{10};
    // Catches a missing code dropped instead of shown as an empty bar.
    QTest::newRow("codes with a gap") << Values{5, 7, 7, 8} << true << 4 << 1.0 << 4.5 << QList<int>{1, 0, 2, 1};
    // Catches a step taken from the gaps (0.002) instead of the last decimal (0.001).
    QTest::newRow("mV on a 0.001 grid") << Values{0.002, 0.004, 0.004, 0.006} << false << 5 << 0.001 << 0.0015
                                        << QList<int>{1, 0, 2, 0, 1};
    Values span1024, span1025, uniform1201;
    for (int c = 0; c < 1024; ++c)
        span1024.push_back(c);
    span1025 = span1024;
    span1025.push_back(1024);
    for (int i = 0; i < 12010; ++i)
        uniform1201.push_back(i / 10);
    // Catches the one-bar-per-code limit moved off 1024 codes.
    QTest::newRow("1024 codes: a bar each") << span1024 << true << 1024 << 1.0 << -0.5 << QList<int>{1, 1, 1};
    // 1025 codes, 1025 samples: IQR 512, 2 * 512 / 1025^(1/3) = 101.6 codes ->
    // 11 bins, raised to 16; ceil(1025 / 16) = 65 codes a bin, 16 bins from 0.
    // Catches fractional bins (64.06 codes) and a lower bound other than 16.
    QTest::newRow("1025 codes: 16 bins of 65") << span1025 << true << 16 << 65.0 << 0.0 << QList<int>{65, 65, 65};
    // Codes 0..1200 ten times each: IQR 600, 1200 / 12010^(1/3) = 52.4 codes ->
    // 23 bins of ceil(1201 / 23) = 53 codes; every full bin holds 530.
    // Catches the 4.6875-code bins whose bars rippled 4 or 5 codes.
    QTest::newRow("1201 codes uniform") << uniform1201 << true << 23 << 53.0 << 0.0
                                        << QList<int>(22, 530);
    // Steps of 0.00001 mV from 1.40001 to 1.43: 3000 steps, 3 samples -> 16
    // bins of ceil(3000 / 16) = 188 steps; edges on multiples of 0.00188:
    // 1.41940 = 755 x 0.00188 is an edge and counts in the bin starting there
    // (bin 755 - 744 = 11). Catches an edge value counted one bin down.
    QList<int> edge(17, 0);
    edge[0] = edge[11] = edge[16] = 1;
    QTest::newRow("mV value on an edge") << Values{1.40001, 1.41940, 1.43} << false << 17 << 0.00188 << 1.39872 << edge;
    // Catches NaN or infinity reaching floor() and a bin index.
    QTest::newRow("not finite left out") << Values{1, std::nan(""), INFINITY, -INFINITY, 2} << true << 2 << 1.0 << 0.5
                                         << QList<int>{1, 1};
    // sigma 150 codes over 20000 samples: the normal curve's area.
    QTest::newRow("wide gauss") << Signal(20000, 0, 150, 0, 0, 1, true) << true << -1 << 0.0 << 0.0 << QList<int>{};
}

// Catches misplaced counts, wrong widths, and a normal curve whose area over
// the bars differs from the samples it stands for.
void TstAnalysis::histogram()
{
    QFETCH(Values, values);
    QFETCH(bool, hex);
    QFETCH(int, bins);
    QFETCH(double, width);
    QFETCH(double, firstLower);
    QFETCH(QList<int>, counts);

    const NoiseStats s = ComputeNoiseStats(values, hex);
    const Histogram h = ComputeHistogram(values, hex, s.mean, s.rms);
    if (bins >= 0) {
        QCOMPARE(int(h.bins.size()), bins);
        QVERIFY2(std::fabs(h.binWidth - width) < 1e-9 && std::fabs(h.bins[0].lower - firstLower) < 1e-9,
                 qPrintable(QString("%1 %2").arg(h.binWidth, 0, 'g', 12).arg(h.bins[0].lower, 0, 'g', 12)));
    }
    int total = 0;
    for (size_t i = 0; i < h.bins.size(); ++i) {
        total += h.bins[i].count;
        if (int(i) < counts.size())
            QCOMPARE(h.bins[i].count, counts[int(i)]);
    }
    QCOMPARE(total, int(std::count_if(values.begin(), values.end(), [](double v) { return std::isfinite(v); })));
    // The curve over the bars, in bar widths, holds n times the normal
    // probability of that interval (erf, not the curve's own formula).
    if (!h.normal.empty() && s.rms > 0) {
        double area = 0;
        for (size_t i = 1; i < h.normal.size(); ++i)
            area += (h.normal[i].x - h.normal[i - 1].x) * (h.normal[i].count + h.normal[i - 1].count) / 2;
        auto phi = [&](double x) { return 0.5 * std::erf((x - s.mean) / (s.rms * M_SQRT2)); };
        const double expected = double(values.size()) * (phi(h.normal.back().x) - phi(h.normal.front().x));
        QVERIFY2(std::fabs(area / h.binWidth / expected - 1) < 0.005, qPrintable(QString::number(area / h.binWidth)));
    }
}

void TstAnalysis::spectrum_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<double>("rate");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QList<QPointF>>("tones");  // (Hz, dB), in order; one NaN point: not checked
    QTest::addColumn<double>("floorDb");        // dB per root hertz
    QTest::addColumn<double>("floorTol");
    QTest::addColumn<int>("segments");
    QTest::addColumn<QPointF>("edges");         // density at 0 Hz and at Nyquist; NaN: not checked

    const double nan = std::nan("");
    // Amplitude 2^20 codes against full scale 2^23: 20 log10(1/8) = -18.06 dBFS.
    // White noise of sigma 10 codes at 1200 sps spreads sigma^2 over 600 Hz:
    // 100 / 600 = 0.1667 codes^2/Hz against the full-scale sine's power
    // 2^46 / 2 = 3.518e13 -> 10 log10(4.737e-15) = -143.245 dBFS/√Hz.
    // 65535 samples, 4096-sample segments every 2048 and one more ending with
    // the block: ceil((65535 - 4096) / 2048) + 1 = 31.
    // Catches a wrong level, floor or segment count.
    QTest::newRow("50 Hz hex") << Signal(65535, 8388608, 10, 1048576, 50, 1200) << 1200.0 << true
                               << QList<QPointF>{{50, -18.06}} << -143.245 << 0.15 << 31 << QPointF(nan, nan);
    // Catches a noise maximum listed as a tone, and a floor read as the
    // median (0.05 dB low) rather than the mean density.
    QTest::newRow("white sigma 10") << Signal(65535, 8388608, 10, 0, 0, 1200) << 1200.0 << true
                                    << QList<QPointF>{} << -143.245 << 0.1 << 31 << QPointF(nan, nan);
    // 3000 samples: 3000 / 4.5 -> 512-sample segments, ceil(2488 / 256) + 1 = 11.
    // Catches one unaveraged 2048-sample segment leaving 952 samples unused.
    QTest::newRow("3000 samples") << Signal(3000, 0, 10, 0, 0, 1200) << 1200.0 << true
                                  << QList<QPointF>{} << -143.245 << 0.3 << 11 << QPointF(nan, nan);
    // 18432 = 4.5 x 4096 samples: still 4096-sample segments, (18432 - 4096) /
    // 2048 + 1 = 8 of them; one sample fewer and 2048 fit 17 times.
    // Catches the segment halved at the boundary, or kept below it.
    QTest::newRow("18432 samples") << Signal(18432, 0, 10, 0, 0, 1200) << 1200.0 << true
                                   << QList<QPointF>{} << -143.245 << 0.3 << 8 << QPointF(nan, nan);
    QTest::newRow("18431 samples") << Signal(18431, 0, 10, 0, 0, 1200) << 1200.0 << true
                                   << QList<QPointF>{} << -143.245 << 0.3 << 17 << QPointF(nan, nan);
    // Drift of one cycle per segment (1200 / 4096 Hz, bin 1, -41.5 dBFS) under
    // the 50 Hz tone: bins 0 and 1 are drift, never a tone. Catches the tone
    // search starting at bin 1.
    QTest::newRow("50 Hz over drift") << Signal(65535, 8388608, 10, 1048576, 50, 1200)
                                             + Signal(65535, 0, 0, 100000, 1200.0 / 4096, 1200)
                                      << 1200.0 << true << QList<QPointF>{{50, -18.06}} << -143.245 << 0.15 << 31
                                      << QPointF(nan, nan);
    // 0.1 mV amplitude = 0.0707 mV RMS: -23.01 dB re 1 mV. Noise 0.002 mV at
    // 400 sps: 4e-6 / 200 = 2e-8 mV^2/Hz -> -76.99 dB; ceil(15904 / 2048) + 1 = 9.
    QTest::newRow("60 Hz mV") << Signal(20000, 1.5, 0.002, 0.1, 60, 400) << 400.0 << false
                              << QList<QPointF>{{60, -23.01}} << -76.99 << 0.2 << 9 << QPointF(nan, nan);
    // 5000 at 100 sps: 1024-sample segments, 9 of them; 100 / 50 -> -132.45.
    QTest::newRow("short block") << Signal(5000, 0, 10) << 100.0 << true << QList<QPointF>{} << -132.45 << 0.3 << 9
                                 << QPointF(nan, nan);
    // A full-scale sine rounded to codes: rounding noise 1/12 code^2 over
    // 600 Hz -> -174.04 dBFS/√Hz, and no other tone. Catches single-precision
    // rounding spurs (a -161.5 floor, false tones near -135 dBFS).
    Values fullScale;
    for (int i = 0; i < 65535; ++i)
        fullScale.push_back(std::round(8388607 * std::sin(2 * M_PI * 61.3 * i / 1200)));
    QTest::newRow("full-scale sine in codes") << fullScale << 1200.0 << true << QList<QPointF>{{61.3, 0.0}}
                                              << -174.04 << 1.0 << 31 << QPointF(nan, nan);
    // 000000/FFFFFF alternating: a Nyquist tone of amplitude A = 16777215 / 2;
    // its bin: (A sum w)^2 / (fs sum w^2) = A^2 2 len / (3 fs) -> +6.58
    // dBFS/√Hz (once, not folded); its power A^2 -> +3.01 dBFS. Catches a
    // false spur at fs/4 and a Nyquist bin counted twice.
    Values alternating;
    for (int i = 0; i < 20000; ++i)
        alternating.push_back(i % 2 ? 16777215 : 0);
    QTest::newRow("alternating codes") << alternating << 1200.0 << true << QList<QPointF>{{600, 3.01}} << -300.0
                                       << 100.0 << 9 << QPointF(nan, 6.58);
    // -30 dBFS half a bin off (bin 100.5 of 4096) and -31 dBFS on bin 300:
    // ranked by their levels, both read exactly. Catches ranking by the
    // highest bin (the -30 dBFS tone lost 1.4 dB to scalloping there).
    Values twoTones = Signal(65535, 0, 1, 8388608 * std::pow(10, -1.5), 100.5 * 1200 / 4096, 1200);
    for (int i = 0; i < 65535; ++i)
        twoTones[size_t(i)] += 8388608 * std::pow(10, -1.55) * std::sin(2 * M_PI * 300 * i / 4096.0);
    QTest::newRow("tone between bins first") << twoTones << 1200.0 << true
                                             << QList<QPointF>{{29.443, -30.0}, {87.891, -31.0}} << nan << 0.0 << 31
                                             << QPointF(nan, nan);
    // 256 samples of -1 mV then 256 of +1 mV at 100 sps: 256-sample segments
    // at 0, 128, 256; bin 0 of each: -128, 1, 128 (Hann sums); (128^2 * 2 + 1)
    // / (3 * 100 * 96) = 1.1378 -> +0.561 dB; Nyquist only from the middle
    // segment: 3.472e-5 -> -44.59 dB. Catches DC or Nyquist folded twice.
    Values step(256, -1.0);
    step.insert(step.end(), 256, 1.0);
    QTest::newRow("step: 0 Hz and Nyquist") << step << 100.0 << false << QList<QPointF>{{nan, nan}} << nan << 0.0 << 3
                                            << QPointF(0.561, -44.59);
}

// Catches a tone at the wrong frequency or level, false tones, a wrong
// floor, segment count or edge bins, and NaN from a block too short.
void TstAnalysis::spectrum()
{
    QFETCH(Values, values);
    QFETCH(double, rate);
    QFETCH(bool, hex);
    QFETCH(QList<QPointF>, tones);
    QFETCH(double, floorDb);
    QFETCH(double, floorTol);
    QFETCH(int, segments);
    QFETCH(QPointF, edges);

    const Spectrum sp = ComputeSpectrum(values, rate, hex);
    QCOMPARE(sp.segments, segments);
    QCOMPARE(sp.frequency.back(), rate / 2);
    if (tones.size() != 1 || !std::isnan(tones[0].x())) {
        QCOMPARE(int(sp.peaks.size()), int(tones.size()));
        for (int i = 0; i < tones.size(); ++i)
            QVERIFY2(std::fabs(sp.peaks[size_t(i)].frequency - tones[i].x()) <= sp.binWidth
                         && std::fabs(sp.peaks[size_t(i)].level - tones[i].y()) <= 0.1,
                     qPrintable(QString("%1 Hz %2 dB").arg(sp.peaks[size_t(i)].frequency).arg(sp.peaks[size_t(i)].level)));
    }
    if (!std::isnan(floorDb))
        QVERIFY2(std::fabs(sp.floor - floorDb) <= floorTol, qPrintable(QString::number(sp.floor)));
    if (!std::isnan(edges.x()))
        QVERIFY2(std::fabs(sp.density.front() - edges.x()) < 0.01, qPrintable(QString::number(sp.density.front())));
    if (!std::isnan(edges.y()))
        QVERIFY2(std::fabs(sp.density.back() - edges.y()) < 0.01, qPrintable(QString::number(sp.density.back())));
    // Far from the tones (1000 bins) nothing stands 10 dB over the floor.
    if (sp.segmentLength == 4096 && !std::isnan(floorDb) && floorDb > -250) {
        for (size_t k = 3; k < sp.density.size(); ++k) {
            const bool far = std::all_of(tones.begin(), tones.end(), [&](const QPointF& t) {
                return std::fabs(sp.frequency[k] - t.x()) > 1000 * sp.binWidth;
            });
            QVERIFY2(!far || sp.density[k] < floorDb + 10, qPrintable(QString::number(sp.frequency[k])));
        }
    }
    // Too short for a spectrum: empty, not NaN.
    for (int len : {0, 1, 2, kMinSpectrumSamples - 1})
        QVERIFY(ComputeSpectrum(Values(values.begin(), values.begin() + len), rate, hex).density.empty());
}

void TstAnalysis::longSpan_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("rms");
    QTest::addColumn<QList<int>>("counts"); // one bar per code; empty: not checked
    QTest::addColumn<double>("toneDb");     // level of the tone at rate / 16; 0: no spectrum checked
    QTest::addColumn<int>("segments");
    QTest::addColumn<QList<double>>("allan"); // first and last deviation, last tau; empty: not checked

    // Half zeros, half tens: mean 5, squared deviations 25 each, so
    // rms = sqrt(25 n / (n - 1)); eleven bars, the ends full.
    auto halves = [](int n) {
        Values v(size_t(n), 0.0);
        std::fill(v.begin() + n / 2, v.end(), 10.0);
        return v;
    };
    auto bars = [](int half) {
        QList<int> c(11, 0);
        c.front() = c.back() = half;
        return c;
    };
    // Allan deviation of that step at 1000 sps: only the 2m - 1 cluster pairs
    // across it differ, by 10 i / m for i = 1 .. m .. 1, so the sum of squares
    // is 100 m (2 m^2 + 1) / 3 over m^2 and 2 (n - 2m + 1) terms.
    auto step = [](int n, int m) {
        return std::sqrt(100.0 * m * (2.0 * m * m + 1) / 3 / (double(m) * m) / (2.0 * (n - 2 * m + 1)));
    };
    // Catches values lost or counted twice where the first block is folded (value 65536).
    QTest::newRow("65536 values") << halves(65536) << 1000.0 << 5.0 << std::sqrt(25.0 * 65536 / 65535) << bars(32768)
                                  << 0.0 << 0 << QList<double>{step(65536, 1), step(65536, 4096), 4.096};
    // Catches block figures merged without the spread between block means,
    // and long-span cluster sums that lose values across blocks or the ring.
    QTest::newRow("200000 values") << halves(200000) << 1000.0 << 5.0 << std::sqrt(25.0 * 200000 / 199999)
                                   << bars(100000) << 0.0 << 0 << QList<double>{step(200000, 1), step(200000, 16384), 16.384};
    // Alternating 0, 10: every pair of single values differs by 10 (deviation
    // sqrt 50), every even cluster pair not at all.
    // Catches the first cluster pair of a long span left out of the Allan sums.
    Values alternating(200000, 0.0);
    for (size_t i = 1; i < alternating.size(); i += 2)
        alternating[i] = 10;
    QTest::newRow("alternating, 200000 values") << alternating << 1000.0 << 5.0 << std::sqrt(25.0 * 200000 / 199999)
                                                << bars(100000) << 0.0 << 0 << QList<double>{std::sqrt(50.0), 0.0, 16.384};
    // A ramp 0, 1, 2, ...: neighbouring cluster means differ by m, so every
    // term gives m / sqrt 2; 3000000 values reach clusters of 2^18 (n / 10),
    // past the largest cluster summed at every value.
    // Catches large clusters left out, or their terms taken from the wrong
    // prefix sums or divided by the wrong count.
    Values ramp(3000000);
    std::iota(ramp.begin(), ramp.end(), 0.0);
    QTest::newRow("ramp, 3000000 values") << ramp << 1000.0 << 1499999.5 << std::sqrt(3000000.0 * 3000001 / 12)
                                          << QList<int>{} << 0.0 << 0
                                          << QList<double>{1 / std::sqrt(2.0), 262144 / std::sqrt(2.0), 262.144};
    // A sine of 2^23 / 10 codes is -20 dBFS, its RMS 2^23 / 10 / sqrt 2; at
    // fs / 16 it makes whole cycles. (200000 - 4096) / 2048 = 95.6: 95 moves, 96 segments.
    // Catches segments dropped or doubled between folded pieces, or a wrong average.
    Values sine;
    for (int i = 0; i < 200000; ++i)
        sine.push_back(8388608 + std::round(838860.8 * std::sin(2 * M_PI * i / 16)));
    QTest::newRow("sine, 200000 values") << sine << 1024.0 << 8388608.0 << 838860.8 / std::sqrt(2.0) << QList<int>{}
                                         << -20.0 << 96 << QList<double>{};
}

void TstAnalysis::longSpan()
{
    QFETCH(Values, values);
    QFETCH(double, rate);
    QFETCH(double, mean);
    QFETCH(double, rms);
    QFETCH(QList<int>, counts);
    QFETCH(double, toneDb);
    QFETCH(int, segments);
    QFETCH(QList<double>, allan);
    SpanAnalysis span(true, rate, true, toneDb != 0 || !allan.isEmpty());
    for (double v : values)
        span.Add(v);
    const NoiseStats s = span.Stats();
    QCOMPARE(s.count, int(values.size()));
    QVERIFY2(std::fabs(s.mean - mean) < 1e-6 && std::fabs(s.rms / rms - 1) < 1e-5,
             qPrintable(QStringLiteral("%1 %2").arg(s.mean, 0, 'g', 17).arg(s.rms, 0, 'g', 17)));
    if (!counts.isEmpty()) {
        const Histogram h = span.ComputedHistogram();
        QList<int> got;
        for (const HistogramBin& b : h.bins)
            got << b.count;
        QCOMPARE(got, counts);
        QCOMPARE(h.bins.front().center, 0.0);
    }
    if (toneDb != 0) {
        const Spectrum sp = span.ComputedSpectrum();
        QCOMPARE(sp.segments, segments);
        QCOMPARE(sp.peaks.at(0).frequency, rate / 16);
        QVERIFY2(std::fabs(sp.peaks[0].level - toneDb) < 0.05, qPrintable(QString::number(sp.peaks[0].level)));
    }
    if (!allan.isEmpty()) {
        const std::vector<AllanPoint> a = span.ComputedAllan();
        QVERIFY(!a.empty());
        QVERIFY2(std::fabs(a.front().deviation - allan[0]) <= 1e-9 * allan[0]
                     && std::fabs(a.back().deviation - allan[1]) <= 1e-9 * allan[1],
                 qPrintable(QStringLiteral("%1 %2").arg(a.front().deviation, 0, 'g', 17).arg(a.back().deviation, 0, 'g', 17)));
        QCOMPARE(a.back().tau, allan[2]);
    }
}

// A sine of 2^23 / 10 codes at fs / 16 plus Gaussian noise of 100 codes,
// rounded to codes: SNR = 10 log10((838860.8^2 / 2) / (100^2 + 1/12)) =
// 75.463 dB, whether 65535 values or 200000 of them give it.
// Catches a long span's sine test missing, or its density averaged with the
// wrong weight or from other segments than the spectrum's.
void TstAnalysis::longSpanSine()
{
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 100);
    const double expected = 10 * std::log10(838860.8 * 838860.8 / 2 / (10000 + 1.0 / 12));
    for (int n : {65535, 200000}) {
        SpanAnalysis span(true, 1024, false, true);
        for (int i = 0; i < n; ++i)
            span.Add(8388608 + std::round(838860.8 * std::sin(2 * M_PI * i / 16) + noise(random)));
        const Spectrum sp = span.ComputedSpectrum();
        QVERIFY2(sp.sine.present, qPrintable(QString::number(n)));
        QVERIFY2(std::fabs(sp.sine.snr - expected) < 0.15,
                 qPrintable(QStringLiteral("%1 values: SNR %2, %3 expected").arg(n).arg(sp.sine.snr).arg(expected)));
    }
}

void TstAnalysis::allan_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<double>("rate");
    QTest::addColumn<QList<double>>("taus");
    QTest::addColumn<QList<double>>("devs");    // exact, to 1e-9; empty: only the slope is checked
    QTest::addColumn<double>("slope");          // log-log slope over m = 2 .. 32, within 0.05; 0: not checked

    // 0,1,0,1,...: every neighbour differs by 1 -> sqrt(1/2); pairs all
    // average 0.5 -> 0. n = 20 allows m = 1, 2 (up to a tenth of the span).
    Values alternating;
    for (int i = 0; i < 20; ++i)
        alternating.push_back(i % 2);
    // A ramp y = i: means m apart differ by m -> m / sqrt(2).
    Values ramp;
    for (int i = 0; i < 40; ++i)
        ramp.push_back(i);
    // 40 digits of pi; deviations computed separately (python, the defining
    // sum over every start position, divided by 2 (n - 2m + 1)).
    const Values pi{3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3, 2, 3, 8, 4,
                    6, 2, 6, 4, 3, 3, 8, 3, 2, 7, 9, 5, 0, 2, 8, 8, 4, 1, 9, 7};
    Values piHigh = pi;
    for (double& v : piHigh)
        v += 8388608;
    const QList<double> piDevs{2.581988897471611, 2.284643209473767, 1.2355222181390149};
    const Values white = Signal(65536, 0, 5.0);
    Values walk(white.size());
    for (size_t i = 0; i < white.size(); ++i)
        walk[i] = (i ? walk[i - 1] : 0) + white[i];

    // Catches the non-overlapping estimator or a wrong count of terms (pi).
    QTest::newRow("pi digits") << pi << 100.0 << QList<double>{0.01, 0.02, 0.04} << piDevs << 0.0;
    // Catches sums losing the last digits of codes near mid-scale.
    QTest::newRow("pi digits at 2^23") << piHigh << 100.0 << QList<double>{0.01, 0.02, 0.04} << piDevs << 0.0;
    // Catches dividing by m instead of m^2, tau not in seconds.
    QTest::newRow("ramp") << ramp << 1.0 << QList<double>{1, 2, 4} << QList<double>{M_SQRT1_2, 2 * M_SQRT1_2, 4 * M_SQRT1_2} << 0.0;
    // Catches a cluster size beyond a tenth of the span.
    QTest::newRow("alternating") << alternating << 10.0 << QList<double>{0.1, 0.2} << QList<double>{M_SQRT1_2, 0.0} << 0.0;
    // Catches a result from too few readings.
    QTest::newRow("nine readings") << Values(ramp.begin(), ramp.begin() + 9) << 10.0 << QList<double>{} << QList<double>{} << 0.0;
    // Catches white noise and drift told apart wrongly.
    QTest::newRow("white noise") << white << 100.0 << QList<double>{} << QList<double>{} << -0.5;
    QTest::newRow("random walk") << walk << 100.0 << QList<double>{} << QList<double>{} << 0.5;
}

void TstAnalysis::allan()
{
    QFETCH(Values, values);
    QFETCH(double, rate);
    QFETCH(QList<double>, taus);
    QFETCH(QList<double>, devs);
    QFETCH(double, slope);
    const std::vector<AllanPoint> p = ComputeAllanDeviation(values, rate);
    if (slope == 0) {
        QCOMPARE(int(p.size()), int(taus.size()));
        for (int i = 0; i < taus.size(); ++i) {
            QCOMPARE(p[size_t(i)].tau, taus[i]);
            QVERIFY2(std::fabs(p[size_t(i)].deviation - devs[i]) < 1e-9, qPrintable(QString::number(p[size_t(i)].deviation, 'g', 17)));
        }
        return;
    }
    // Least-squares slope of log sigma over log tau, m = 2 .. 32.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int k = 0;
    for (const AllanPoint& a : p)
        if (a.clusterSize >= 2 && a.clusterSize <= 32) {
            const double x = std::log10(a.tau), y = std::log10(a.deviation);
            sx += x, sy += y, sxx += x * x, sxy += x * y, ++k;
        }
    QCOMPARE(k, 5);
    const double got = (k * sxy - sx * sy) / (k * sxx - sx * sx);
    QVERIFY2(std::fabs(got - slope) <= 0.05, qPrintable(QString::number(got)));
}

void TstAnalysis::sine_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<double>("snr");   // NaN: no sine figures expected
    QTest::addColumn<double>("thd");   // NaN: not checked
    QTest::addColumn<double>("sfdr");  // NaN: not checked

    // A -6.02 dBFS sine (amplitude 2^22, RMS 2965821 codes) at 61.3 Hz, 1200
    // sps, with noise of RMS 2965821 x 10^(-SNR/20). Catches the window's
    // leakage or noise bins taken as signal (a Hann window reads 110 dB as ~30).
    for (double snr : {60.0, 90.0, 110.0})
        QTest::newRow(qPrintable(QString("SNR %1 dB").arg(snr)))
            << Signal(65535, 0, 4194304 / M_SQRT2 * std::pow(10, -snr / 20), 4194304, 61.3, 1200) << snr << nan("")
            << nan("");
    // 250.7 Hz with harmonics 2 and 3 each at -83.01 dB (sum -80 dB); the
    // third (752.1 Hz) folds back to 447.9 Hz. Catches an aliased harmonic
    // missed and SFDR taken from the wrong spur.
    Values thd = Signal(65535, 0, 0.5, 4194304, 250.7, 1200);
    const double h = 4194304 * 1e-4 / M_SQRT2;
    for (int i = 0; i < 65535; ++i)
        thd[size_t(i)] += h * std::sin(2 * M_PI * 501.4 * i / 1200 + 1) + h * std::sin(2 * M_PI * 752.1 * i / 1200 + 2);
    QTest::newRow("THD -80 dB, folded") << thd << nan("") << -80.0 << 83.01;
    // The simulator's test input (--signal sine:61.3:0.5 --noise 9.379, and
    // sine:250.7:0.5 --harmonics -83.01): the same figures. Catches a signal
    // off its frequency, amplitude or noise, or harmonics at the wrong level.
    QTest::newRow("simulator: SNR 110 dB") << SimInput({61.3, 0.5, 0, 9.379}) << 110.0 << nan("") << nan("");
    QTest::newRow("simulator: THD -80 dB") << SimInput({250.7, 0.5, -83.01, 0}) << nan("") << -80.0 << 83.01;
    // Catches sine figures for blocks with no dominant tone.
    QTest::newRow("noise only") << Signal(65535, 0, 10, 0, 0, 1200) << nan("") << nan("") << nan("");
    QTest::newRow("two tones") << Signal(65535, 0, 1, 1e5, 50, 1200) + Signal(65535, 0, 0, 9e4, 130, 1200) << nan("")
                               << nan("") << nan("");
}

// Catches SNR, THD or SFDR off their constructed values by more than 0.5 dB.
void TstAnalysis::sine()
{
    QFETCH(Values, values);
    QFETCH(double, snr);
    QFETCH(double, thd);
    QFETCH(double, sfdr);
    const SineFigures f = ComputeSpectrum(values, 1200, true).sine;
    const bool expected = !std::isnan(snr) || !std::isnan(thd);
    QCOMPARE(f.present, expected);
    QVERIFY2(std::isnan(snr) || std::fabs(f.snr - snr) < 0.5, qPrintable(QString::number(f.snr)));
    QVERIFY2(std::isnan(thd) || std::fabs(f.thd - thd) < 0.5, qPrintable(QString::number(f.thd)));
    QVERIFY2(std::isnan(sfdr) || std::fabs(f.sfdr - sfdr) < 0.5, qPrintable(QString::number(f.sfdr)));
}

void TstAnalysis::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("wellFormed");
    // Catches malformed or out-of-range fields reaching the figures (NaN,
    // infinity, a 1e39 "tone") and well-formed ones refused.
    QTest::newRow("hex") << "7FFFFF" << true << true;
    QTest::newRow("hex garbage") << "G##G62" << true << false;
    QTest::newRow("hex short") << "7FFFF" << true << false;
    QTest::newRow("mV fixed") << "-01.23456" << false << true;
    QTest::newRow("mV exponent") << "5E-5" << false << true;
    QTest::newRow("mV largest") << "+9999.999" << false << true;
    QTest::newRow("mV beyond range") << "+1.0E+039" << false << false;
    QTest::newRow("mV huge negative") << "-1.7E308" << false << false;
    QTest::newRow("mV 10000") << "-10000.00" << false << false;
    QTest::newRow("mV two points") << "1.2.3" << false << false;
    QTest::newRow("mV bare exponent") << "1E" << false << false;
    QTest::newRow("mV sign only") << "+" << false << false;
}

void TstAnalysis::fields()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(bool, wellFormed);
    QCOMPARE(WellFormedSample(text, hex), wellFormed);
    // In a block: left out of the values and counted.
    SampleBlock block;
    block.SetCh0(0, hex ? u"000010" : u"+0016.000");
    block.SetCh0(1, text);
    int invalid = -1;
    const Values v = ChannelValues(block, 0, 2, hex, &invalid);
    QCOMPARE(invalid, wellFormed ? 0 : 1);
    QCOMPARE(int(v.size()), wellFormed ? 2 : 1);
    QCOMPARE(v[0], 16.0);
}

QTEST_GUILESS_MAIN(TstAnalysis)
#include "tst_analysis.moc"
