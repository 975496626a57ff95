#include "analysis/NoiseDensity.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>

#include <kissfft/kissfft.hh>

namespace {

// Not M_PI: that one is missing from some compilers' <cmath>.
constexpr double kPi = 3.14159265358979323846;

// Bins on each side of a Hann-windowed tone's highest bin that hold its power.
constexpr int kHannHalfWidth = 2;
// Bins on each side of a tone whose median is the floor the tone is judged against.
constexpr int kLocalFloorBins = 32;
// One tone dominates when it carries this share of the power above DC.
constexpr double kDominantShare = 0.9;
// Tones this far under the largest (250 dB) are the FFT's rounding.
constexpr double kRoundingFloor = 1e-25;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    const auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

} // namespace

int SpectrumSegmentLength(size_t n)
{
    int len = kMaxSegment;
    // n >= 4.5 len gives 8 segments moved by len / 2.
    while (len > kMinAveragedSegment && n * 2 < size_t(len) * (kWantedAverages + 1))
        len /= 2;
    while (len > 2 && size_t(len) > n)
        len /= 2;
    return len;
}

std::vector<double> WelchDensity(const double* values, size_t n, double mean, double sampleRate,
                                 const std::vector<double>& window, int* segments)
{
    const int len = int(window.size());
    if (segments)
        *segments = 0;
    if (len < 2 || n < size_t(len))
        return {};
    const double fs = sampleRate > 0 ? sampleRate : 1.0;
    const int hop = len / 2;
    const int bins = len / 2 + 1;
    // Segments start at 0, hop, 2 hop, ...; the last one ends with the block.
    const int count = int((n - size_t(len) + size_t(hop) - 1) / size_t(hop)) + 1;
    if (segments)
        *segments = count;
    double windowPower = 0;
    for (double w : window)
        windowPower += w * w;

    // A real FFT of len points as a complex one of len / 2 (double precision:
    // single precision leaves rounding spurs 140 dB under the largest value,
    // above the floor of a full-scale 24-bit sine).
    kissfft<double> fft(size_t(len / 2), false);
    std::vector<double> in(static_cast<size_t>(len));
    std::vector<std::complex<double>> out(static_cast<size_t>(len / 2));
    std::vector<double> power(size_t(bins), 0.0);
    for (int s = 0; s < count; ++s) {
        const size_t start = s == count - 1 ? n - size_t(len) : size_t(s) * size_t(hop);
        const double* x = values + start;
        for (int i = 0; i < len; ++i)
            in[size_t(i)] = (x[i] - mean) * window[size_t(i)];
        fft.transform_real(in.data(), out.data());
        // out[0] packs the DC bin (real part) and the Nyquist bin (imaginary part).
        power[0] += out[0].real() * out[0].real();
        power[size_t(bins - 1)] += out[0].imag() * out[0].imag();
        for (int k = 1; k < bins - 1; ++k)
            power[size_t(k)] += std::norm(out[size_t(k)]);
    }
    // One-sided: DC and Nyquist once, every other bin twice (its
    // negative-frequency twin folded in).
    for (int k = 0; k < bins; ++k) {
        const double fold = (k == 0 || k == bins - 1) ? 1.0 : 2.0;
        power[size_t(k)] *= fold / (count * fs * windowPower);
    }
    return power;
}

std::vector<double> HannWindow(int len)
{
    std::vector<double> window(static_cast<size_t>(std::max(len, 0)));
    for (int i = 0; i < len; ++i)
        window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * kPi * i / len);
    return window;
}

Spectrum ComputeSpectrum(const std::vector<double>& values, double sampleRate, bool hexCodes)
{
    const size_t n = values.size();
    if (n < size_t(kMinSpectrumSamples))
        return Spectrum();
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / double(n);
    if (!std::isfinite(mean))
        return Spectrum();
    int segments = 0;
    const std::vector<double> psd = WelchDensity(values.data(), n, mean, sampleRate,
                                                 HannWindow(SpectrumSegmentLength(n)), &segments);
    return SpectrumFromDensity(psd, segments, sampleRate, hexCodes, &values, mean);
}

Spectrum SpectrumFromDensity(const std::vector<double>& psd, int segments, double sampleRate, bool hexCodes,
                             const std::vector<double>* block, double blockMean,
                             const std::vector<double>* sineDensity)
{
    Spectrum sp;
    const int bins = int(psd.size());
    const int len = (bins - 1) * 2;
    if (segments < 1 || len < 2)
        return sp;
    for (double p : psd)
        if (!std::isfinite(p))
            return sp;
    sp.segments = segments;
    const double fs = sampleRate > 0 ? sampleRate : 1.0;
    double sum = 0, squares = 0;
    for (double w : HannWindow(len)) {
        sum += w;
        squares += w * w;
    }

    // Reference power: the full-scale sine's (A^2 / 2) or (1 mV)^2.
    const double reference = hexCodes ? kFullScaleAmplitude * kFullScaleAmplitude / 2 : 1.0;
    auto decibels = [&](double p) {
        return p > 0 ? 10 * std::log10(p / reference) : -400.0;  // -400 dB: nothing there
    };

    sp.sampleRate = fs;
    sp.segmentLength = len;
    sp.binWidth = fs / len;
    sp.resolutionBandwidth = fs * squares / (sum * sum);
    sp.frequency.resize(size_t(bins));
    sp.density.resize(size_t(bins));
    for (int k = 0; k < bins; ++k) {
        sp.frequency[size_t(k)] = k * sp.binWidth;
        sp.density[size_t(k)] = decibels(psd[size_t(k)]);
    }

    // Tones: local maxima from bin 2 up (below lie the removed mean and slow
    // drift). A Hann-windowed tone spreads over its bin and two on each side;
    // summing those five bins' power gives its level wherever it falls
    // between bins, and the tones are ranked by that level. A tone counts
    // only when its highest bin stands kToneAboveFloorDb over the median of
    // the bins around it, and at least three bins from a tone already taken.
    auto toneBins = [&](int k, double* moment) {
        double tone = 0;
        for (int j = std::max(1, k - kHannHalfWidth); j <= std::min(bins - 1, k + kHannHalfWidth); ++j) {
            tone += psd[size_t(j)] * sp.binWidth;
            if (moment)
                *moment += psd[size_t(j)] * sp.binWidth * sp.frequency[size_t(j)];
        }
        return tone;
    };
    std::vector<std::pair<double, int>> candidates;
    for (int k = 2; k < bins; ++k) {
        const double p = psd[size_t(k)];
        if (p > 0 && p >= psd[size_t(k - 1)] && (k == bins - 1 || p >= psd[size_t(k + 1)]))
            candidates.emplace_back(toneBins(k, nullptr), k);
    }
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a.first > b.first || (a.first == b.first && a.second < b.second);
    });
    const double threshold = std::pow(10.0, kToneAboveFloorDb / 10);
    std::vector<int> taken;
    std::vector<double> around;
    for (const auto& [tone, k] : candidates) {
        if (taken.size() == 3)
            break;
        // Double-precision rounding lies some 300 dB under the largest value.
        if (tone < candidates.front().first * kRoundingFloor)
            break;
        if (std::any_of(taken.begin(), taken.end(), [bin = k](int t) { return std::abs(t - bin) < 3; }))
            continue;
        around.clear();
        for (int j = std::max(1, k - kLocalFloorBins); j <= std::min(bins - 1, k + kLocalFloorBins); ++j)
            if (std::abs(j - k) > kHannHalfWidth)
                around.push_back(psd[size_t(j)]);
        if (around.empty() || !(psd[size_t(k)] >= threshold * median(around)))
            continue;
        taken.push_back(k);
        double moment = 0;
        toneBins(k, &moment);
        sp.peaks.push_back({moment / tone, decibels(tone)});
    }

    // The floor: median density above DC, away from the tones' leakage. The
    // Hann window's leakage d bins from a tone falls as 1 / (pi d (d^2 - 1))
    // in amplitude; bins where a tone's leakage is less than 10 dB under the
    // first median are left out (a full-scale sine's reaches some 800 bins).
    // An average of K periodograms is a chi-square of about 2K / (1 + 2 c^2)
    // degrees of freedom (c = 1/6, the overlap correlation of half-overlapping
    // Hann segments); its median lies below its mean by (1 - 2 / (9 nu))^3,
    // which is put back so that white noise reads its true density.
    double floorPsd = median(std::vector<double>(psd.begin() + 1, psd.end()));
    if (!taken.empty() && floorPsd > 0) {
        std::vector<char> leaked(size_t(bins), 0);
        for (int k : taken) {
            for (int d = 0; d < bins; ++d) {
                const double envelope = d < 2 ? 1.0 : 1.0 / (kPi * kPi * d * d * (d * d - 1.0) * (d * d - 1.0));
                if (psd[size_t(k)] * envelope < floorPsd / 10)
                    break;
                if (k - d >= 0)
                    leaked[size_t(k - d)] = 1;
                if (k + d < bins)
                    leaked[size_t(k + d)] = 1;
            }
        }
        std::vector<double> clear;
        for (int k = 1; k < bins; ++k)
            if (!leaked[size_t(k)])
                clear.push_back(psd[size_t(k)]);
        if (clear.size() * 4 >= size_t(bins))
            floorPsd = median(clear);
    }
    const double nu = 2.0 * sp.segments / (1 + 2.0 / 36 * (sp.segments - 1) / sp.segments);
    const double medianToMean = std::pow(1 - 2 / (9 * nu), 3);
    sp.floor = decibels(floorPsd / medianToMean);

    // The sine test when one tone carries most of the block's power.
    if (!sp.peaks.empty()) {
        double total = 0;
        for (int k = 1; k < bins; ++k)
            total += psd[size_t(k)] * sp.binWidth;
        const double top = std::pow(10.0, sp.peaks[0].level / 10) * reference;
        if (block && top > total * kDominantShare)
            sp.sine = ComputeSineFigures(*block, blockMean, fs, len, sp.peaks[0].frequency, reference);
        else if (sineDensity && top > total * kDominantShare)
            sp.sine = SineFiguresFromDensity(*sineDensity, fs, len, sp.peaks[0].frequency, reference);
    }
    return sp;
}
