#include "analysis/NoiseDensity.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

#include <kiss_fftr.h>

namespace {

// Not M_PI: that one is missing from some compilers' <cmath>.
constexpr double kPi = 3.14159265358979323846;

struct FftrDeleter {
    void operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }
};

int segmentLengthFor(size_t n)
{
    int len = 2;
    while (len * 2 <= kMaxSegment && size_t(len) * 2 <= n)
        len *= 2;
    return len;
}

} // namespace

Spectrum ComputeSpectrum(const std::vector<double>& values, double sampleRate, bool hexCodes)
{
    const size_t n = values.size();
    if (n < size_t(kMinSpectrumSamples))
        return Spectrum();
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / double(n);
    if (!std::isfinite(mean))
        return Spectrum();
    const int len = segmentLengthFor(n);
    int segments = 0;
    const std::vector<double> psd = WelchDensity(values.data(), n, mean, sampleRate, len, &segments);
    return SpectrumFromDensity(psd, len, segments, sampleRate, hexCodes);
}

std::vector<double> WelchDensity(const double* values, size_t n, double mean, double sampleRate,
                                 int len, int* segmentsOut)
{
    *segmentsOut = 0;
    if (len < 2 || (len & (len - 1)) || n < size_t(len))
        return {};
    const double fs = sampleRate > 0 ? sampleRate : 1.0;
    const int hop = len / 2;
    const int segments = int((n - size_t(len)) / size_t(hop)) + 1;
    const int bins = len / 2 + 1;

    // Periodic Hann window; its sum of squares normalises the density.
    std::vector<double> window(static_cast<size_t>(len));
    double windowPower = 0;
    for (int i = 0; i < len; ++i) {
        window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * kPi * i / len);
        windowPower += window[size_t(i)] * window[size_t(i)];
    }

    std::unique_ptr<kiss_fftr_state, FftrDeleter> cfg(kiss_fftr_alloc(len, 0, nullptr, nullptr));
    if (!cfg)
        return {};
    // The FFT runs in single precision: with the mean removed and the window
    // applied its rounding lies some 140 dB below the segment's largest value,
    // far under any converter's noise.
    std::vector<kiss_fft_scalar> in(static_cast<size_t>(len));
    std::vector<kiss_fft_cpx> out(static_cast<size_t>(bins));
    std::vector<double> power(size_t(bins), 0.0);
    for (int s = 0; s < segments; ++s) {
        const double* x = values + size_t(s) * size_t(hop);
        for (int i = 0; i < len; ++i)
            in[size_t(i)] = kiss_fft_scalar((x[i] - mean) * window[size_t(i)]);
        kiss_fftr(cfg.get(), in.data(), out.data());
        for (int k = 0; k < bins; ++k)
            power[size_t(k)] += double(out[size_t(k)].r) * out[size_t(k)].r
                                + double(out[size_t(k)].i) * out[size_t(k)].i;
    }

    // One-sided power spectral density in unit^2/Hz: DC and Nyquist once,
    // every other bin twice (its negative-frequency twin folded in).
    std::vector<double> psd(static_cast<size_t>(bins));
    for (int k = 0; k < bins; ++k) {
        const double fold = (k == 0 || k == bins - 1) ? 1.0 : 2.0;
        psd[size_t(k)] = fold * power[size_t(k)] / (segments * fs * windowPower);
    }

    *segmentsOut = segments;
    return psd;
}

Spectrum SpectrumFromDensity(const std::vector<double>& psd, int len, int segments, double sampleRate,
                             bool hexCodes)
{
    Spectrum sp;
    const int bins = len / 2 + 1;
    if (segments < 1 || psd.size() != size_t(bins))
        return sp;
    const double fs = sampleRate > 0 ? sampleRate : 1.0;

    // Reference power: the full-scale sine's (A^2 / 2) or (1 mV)^2.
    const double reference = hexCodes ? kFullScaleAmplitude * kFullScaleAmplitude / 2 : 1.0;
    auto decibels = [&](double p) {
        return p > 0 ? 10 * std::log10(p / reference) : -400.0;  // -400 dB: nothing there
    };

    sp.sampleRate = fs;
    sp.segmentLength = len;
    sp.segments = segments;
    sp.binWidth = fs / len;
    sp.frequency.resize(size_t(bins));
    sp.density.resize(size_t(bins));
    for (int k = 0; k < bins; ++k) {
        sp.frequency[size_t(k)] = k * sp.binWidth;
        sp.density[size_t(k)] = decibels(psd[size_t(k)]);
    }

    // Tones: local maxima from bin 2 up (below lie the removed mean and slow
    // drift), largest first, each at least three bins from a tone already
    // taken. A Hann-windowed tone spreads over its bin and two on each side;
    // summing those five bins' power gives its level wherever it falls
    // between bins.
    std::vector<int> candidates;
    for (int k = 2; k < bins; ++k) {
        const double p = psd[size_t(k)];
        if (p > 0 && p >= psd[size_t(k - 1)] && (k == bins - 1 || p >= psd[size_t(k + 1)]))
            candidates.push_back(k);
    }
    std::sort(candidates.begin(), candidates.end(),
              [&](int a, int b) { return psd[size_t(a)] > psd[size_t(b)]; });
    std::vector<int> taken;
    for (int k : candidates) {
        if (taken.size() == 3)
            break;
        if (std::any_of(taken.begin(), taken.end(), [&](int t) { return std::abs(t - k) < 3; }))
            continue;
        taken.push_back(k);
        double tone = 0, moment = 0;
        for (int j = std::max(1, k - 2); j <= std::min(bins - 1, k + 2); ++j) {
            tone += psd[size_t(j)] * sp.binWidth;
            moment += psd[size_t(j)] * sp.binWidth * sp.frequency[size_t(j)];
        }
        sp.peaks.push_back({moment / tone, decibels(tone)});
    }
    return sp;
}
