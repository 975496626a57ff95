// Noise figures, histogram and spectrum of synthetic blocks whose answers are
// known beforehand: Gaussian noise of a given sigma, constant blocks, sines of
// a given frequency and amplitude, codes that alternate.

#include <QtTest>

#include <cmath>
#include <random>

#include "analysis/Histogram.h"
#include "analysis/NoiseStats.h"
#include "analysis/NoiseDensity.h"
#include "analysis/SpanAnalysis.h"

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
    QCOMPARE(NoiseStatsTable({{"CH0", codes}, {"CH1", ComputeNoiseStats({}, true)}}, true),
             QStringLiteral("CH\tデータ個数\t平均 [digit]\t最小 [digit]\t最大 [digit]\tピークtoピーク [digit]"
                            "\tRMSノイズ [digit]\t実効分解能 [bit]\tノイズフリー分解能 [bit]\n"
                            "CH0\t4\t8388603.00\t8388600\t8388606\t6\t2.58\t22.6\t21.4\n"
                            "CH1\t0\t---\t---\t---\t---\t---\t---\t---\n"));
    // Millivolts -0.010, 0.030, 0.010: mean 0.010, sigma 0.020 -> four
    // decimals; a mean that rounds to zero has no minus sign.
    const NoiseStats mv = ComputeNoiseStats({-0.010, 0.030, 0.010}, false);
    const NoiseStats nearZero = ComputeNoiseStats({-0.0001, -0.0002, -0.0001}, false);
    QCOMPARE(NoiseStatsTable({{"CH1", mv}, {"CH0", nearZero}}, false),
             QStringLiteral("CH\tデータ個数\t平均 [mV]\t最小 [mV]\t最大 [mV]\tピークtoピーク [mV]\tRMSノイズ [mV]\n"
                            "CH1\t3\t0.0100\t-0.0100\t0.0300\t0.0400\t0.0200\n"
                            "CH0\t3\t-0.000133\t-0.000200\t-0.000100\t0.000100\t0.000058\n"));
}

void TstAnalysis::histogram_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QList<int>>("counts"); // one per code; empty: 256 equal bins
    QTest::addColumn<double>("firstCenter");

    Values alternating;
    for (int i = 0; i < 1001; ++i)
        alternating.push_back(8388608 + i % 2);
    QTest::newRow("two codes alternating") << alternating << true << QList<int>{501, 500} << 8388608.0;
    QTest::newRow("constant") << Values(10, 77.0) << true << QList<int>{10} << 77.0;
    QTest::newRow("codes with a gap") << Values{5, 7, 7, 8} << true << QList<int>{1, 0, 2, 1} << 5.0;
    QTest::newRow("mV on a 0.001 grid") << Values{0.001, 0.002, 0.004, 0.004} << false << QList<int>{1, 1, 0, 2} << 0.001;
    // sigma 150 codes over 20000 samples spans well over 1024 codes.
    QTest::newRow("wide") << Signal(20000, 0, 150, 0, 0, 1, true) << true << QList<int>{} << 0.0;
}

// Catches bins not centred on whole codes, counts lost or misplaced, and
// bar heights that do not follow the normal curve of a wide block.
void TstAnalysis::histogram()
{
    QFETCH(Values, values);
    QFETCH(bool, hex);
    QFETCH(QList<int>, counts);
    QFETCH(double, firstCenter);

    const NoiseStats s = ComputeNoiseStats(values, hex);
    const Histogram h = ComputeHistogram(values, hex, s.mean, s.rms);
    QCOMPARE(int(h.bins.size()), counts.isEmpty() ? kHistogramBins : int(counts.size()));
    int total = 0;
    double seen = 0, expected = 0;
    for (size_t i = 0; i < h.bins.size(); ++i) {
        const HistogramBin& b = h.bins[i];
        total += b.count;
        if (!counts.isEmpty())
            QCOMPARE(b.count, counts[int(i)]);
        // Near the mean the bars stand as high as the normal curve says:
        // n * width * density, over the bins within 0.2 sigma.
        const double z = (b.center - s.mean) / s.rms;
        if (s.rms > 0 && std::fabs(z) < 0.2) {
            seen += b.count;
            expected += double(values.size()) * h.binWidth / (s.rms * std::sqrt(2 * M_PI)) * std::exp(-z * z / 2);
        }
    }
    QCOMPARE(total, int(values.size()));
    if (counts.isEmpty())
        QVERIFY2(std::fabs(seen / expected - 1) < 0.05 && !h.normal.empty(), qPrintable(QString::number(seen)));
    else
        QVERIFY(std::fabs(h.bins[0].center - firstCenter) < 1e-9);
}

void TstAnalysis::spectrum_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<double>("rate");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<double>("toneHz");     // 0: no tone
    QTest::addColumn<double>("toneDb");
    QTest::addColumn<double>("floorDb");    // expected mean density, dB per root hertz
    QTest::addColumn<int>("segments");

    // Amplitude 2^20 codes against full scale 2^23: 20 log10(1/8) = -18.06 dBFS.
    // White noise of sigma 10 codes at 1200 sps spreads sigma^2 over 600 Hz:
    // 100 / 600 = 0.1667 codes^2/Hz against the full-scale sine's power
    // 2^46 / 2 = 3.518e13 -> 10 log10(4.737e-15) = -143.2 dBFS/√Hz.
    // 65535 samples in 4096-sample segments moved by 2048: (65535 - 4096) / 2048
    // = 29.99, so 29 moves and 30 segments.
    QTest::newRow("50 Hz hex") << Signal(65535, 8388608, 10, 1048576, 50, 1200) << 1200.0 << true
                               << 50.0 << -18.06 << -143.24 << 30;
    // Between bins (bins are 0.293 Hz): no loss to the window's scalloping (1.4 dB).
    QTest::newRow("61.3 Hz hex") << Signal(65535, 8388608, 10, 1048576, 61.3, 1200) << 1200.0 << true
                                 << 61.3 << -18.06 << -143.24 << 30;
    // 0.1 mV amplitude = 0.0707 mV RMS: 20 log10(0.0707) = -23.01 dB re 1 mV.
    // Noise 0.002 mV at 400 sps: 4e-6 / 200 = 2e-8 mV^2/Hz -> -77.0 dB.
    // (20000 - 4096) / 2048 = 7.8 -> 8 segments.
    QTest::newRow("60 Hz mV") << Signal(20000, 1.5, 0.002, 0.1, 60, 400) << 400.0 << false << 60.0 << -23.01 << -76.99 << 8;
    // Shorter than two segments: one segment; 100 / 50 codes^2/Hz -> -132.45 dBFS/√Hz.
    QTest::newRow("short block") << Signal(5000, 0, 10) << 100.0 << true << 0.0 << 0.0 << -132.45 << 1;
}

// Catches a tone at the wrong frequency or level (also between bins), a
// wrong noise density or segment count, and NaN from a block too short.
void TstAnalysis::spectrum()
{
    QFETCH(Values, values);
    QFETCH(double, rate);
    QFETCH(bool, hex);
    QFETCH(double, toneHz);
    QFETCH(double, toneDb);
    QFETCH(double, floorDb);
    QFETCH(int, segments);

    const Spectrum sp = ComputeSpectrum(values, rate, hex);
    QCOMPARE(sp.segments, segments);
    QCOMPARE(sp.frequency.back(), rate / 2);
    if (toneHz > 0) {
        QVERIFY2(std::fabs(sp.peaks.at(0).frequency - toneHz) <= sp.binWidth, qPrintable(QString::number(sp.peaks[0].frequency)));
        QVERIFY2(std::fabs(sp.peaks[0].level - toneDb) <= 0.5, qPrintable(QString::number(sp.peaks[0].level)));
    }
    // Mean density away from the ends and from the tone: the Hann window's
    // leakage of a -18 dBFS tone only sinks under this noise some 200 bins away.
    double sum = 0;
    int n = 0;
    for (size_t k = 10; k + 10 < sp.density.size(); ++k) {
        if (toneHz == 0 || std::fabs(sp.frequency[k] - toneHz) > 200 * sp.binWidth) {
            sum += std::pow(10.0, sp.density[k] / 10);
            ++n;
        }
    }
    QVERIFY2(std::fabs(10 * std::log10(sum / n) - floorDb) < 0.5, qPrintable(QString::number(10 * std::log10(sum / n))));
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
    // Catches values lost or counted twice where the first block is folded (value 65536).
    QTest::newRow("65536 values") << halves(65536) << 0.0 << 5.0 << std::sqrt(25.0 * 65536 / 65535) << bars(32768)
                                  << 0.0 << 0;
    // Catches block figures merged without the spread between block means.
    QTest::newRow("200000 values") << halves(200000) << 0.0 << 5.0 << std::sqrt(25.0 * 200000 / 199999)
                                   << bars(100000) << 0.0 << 0;
    // A sine of 2^23 / 10 codes is -20 dBFS, its RMS 2^23 / 10 / sqrt 2; at
    // fs / 16 it makes whole cycles. (200000 - 4096) / 2048 = 95.6: 95 moves, 96 segments.
    // Catches segments dropped or doubled between folded pieces, or a wrong average.
    Values sine;
    for (int i = 0; i < 200000; ++i)
        sine.push_back(8388608 + std::round(838860.8 * std::sin(2 * M_PI * i / 16)));
    QTest::newRow("sine, 200000 values") << sine << 1024.0 << 8388608.0 << 838860.8 / std::sqrt(2.0) << QList<int>{}
                                         << -20.0 << 96;
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
    SpanAnalysis span(true, rate, true, toneDb != 0);
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
}

QTEST_GUILESS_MAIN(TstAnalysis)
#include "tst_analysis.moc"
