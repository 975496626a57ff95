// The noise analysis on blocks of arbitrary sample texts: the fields that are
// not samples of the format are counted and left out, and nothing that comes
// out (figures, table cells, histogram, spectrum, tones, sine figures) is NaN
// or infinite, whatever the texts hold.
//
// Input: flags (bit 0: hex), a rate byte (0: unknown), then texts: a length
// byte (0..15) and that many bytes, one per entry of channel 0.
#include <cmath>

#include "analysis/Histogram.h"
#include "analysis/NoiseDensity.h"
#include "analysis/NoiseStats.h"
#include "analysis/NoiseDensityText.h"
#include "fuzz/FuzzSupport.h"
#include "measure/SampleBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SampleBlock block;
    FuzzInput in(data, size);
    const bool hex = in.byte() & 1;
    const double rate = in.byte() * 5.0;
    int count = 0;
    while (!in.empty() && count < 1024) {
        block.SetField(count, 0, QString::fromLatin1(in.bytes(in.byte() % 16)));
        ++count;
    }
    int invalid = -1;
    const std::vector<double> values = ChannelValues(block, 0, count, hex, &invalid);
    FUZZ_CHECK(invalid >= 0 && size_t(invalid) + values.size() == size_t(count), "%d + %zu of %d", invalid,
               values.size(), count);
    for (double v : values)
        FUZZ_CHECK(std::isfinite(v) && (hex ? v >= 0 && v < 16777216 : std::fabs(v) < kMaxMillivolts),
                   "value %.17g kept", v);

    const NoiseStats st = ChannelStats(values, invalid, hex);
    const QString table = NoiseStatsTable({{QStringLiteral("CH0"), st}}, hex);
    FUZZ_CHECK(!table.contains(u"nan", Qt::CaseInsensitive) && !table.contains(u"inf", Qt::CaseInsensitive),
               "table %s", qPrintable(table));

    const Histogram h = ComputeHistogram(values, hex, st.mean, st.rms);
    size_t total = 0;
    for (const HistogramBin& b : h.bins)
        total += size_t(b.count);
    FUZZ_CHECK(total == values.size(), "histogram holds %zu of %zu", total, values.size());
    FUZZ_CHECK(h.bins.size() <= size_t(kMaxStepBins), "%zu bins", h.bins.size());
    for (const NormalPoint& p : h.normal)
        FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.count), "normal curve");

    const Spectrum sp = ComputeSpectrum(values, rate, hex);
    for (double d : sp.density)
        FUZZ_CHECK(std::isfinite(d), "density");
    for (const SpectrumPeak& p : sp.peaks)
        FUZZ_CHECK(std::isfinite(p.frequency) && std::isfinite(p.level), "tone");
    const QString cells = SpectrumCells(sp, hex, rate > 0).join(u'\t');
    FUZZ_CHECK(!cells.contains(u"nan", Qt::CaseInsensitive) && !cells.contains(u"inf", Qt::CaseInsensitive),
               "spectrum cells %s", qPrintable(cells));
    return 0;
}
