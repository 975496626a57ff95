// The figures of a converter's sine test from a Welch average with a 7-term
// Blackman-Harris window: its side lobes lie some 180 dB down, so neither the
// fundamental nor a harmonic leaks into the noise bins even at a 24-bit
// converter's dynamic range. Every tone occupies its highest bin and seven
// on each side.

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/NoiseDensity.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kHalfWidth = 7;    // bins on each side of a tone
constexpr int kHarmonics = 6;    // harmonics 2 .. 6 make the distortion
constexpr int kMinNoiseBins = 16;

constexpr double kBlackmanHarris7[] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                                       0.06592544638803, 0.01081174209837, 0.00077658482522,
                                       0.00001388721735};

double decibels(double ratio) { return 10 * std::log10(ratio); }

} // namespace

std::vector<double> BlackmanHarrisWindow(int len)
{
    // cos(j x) from cos(x) by the Chebyshev recurrence: one cosine a sample.
    std::vector<double> window(size_t(std::max(len, 0)), 0.0);
    for (int i = 0; i < len; ++i) {
        const double c1 = std::cos(2 * kPi * i / len);
        double previous = 1, current = c1;
        double w = kBlackmanHarris7[0] - kBlackmanHarris7[1] * c1;
        for (int j = 2; j < 7; ++j) {
            const double next = 2 * c1 * current - previous;
            previous = current;
            current = next;
            w += (j % 2 ? -1 : 1) * kBlackmanHarris7[j] * current;
        }
        window[size_t(i)] = w;
    }
    return window;
}

SineFigures ComputeSineFigures(const std::vector<double>& values, double mean, double sampleRate,
                               int len, double toneHz, double reference)
{
    const int bins = len / 2 + 1;
    if (len < 2 || !(sampleRate > 0) || bins < 4 * kHalfWidth + kMinNoiseBins)
        return SineFigures();
    return SineFiguresFromDensity(
        WelchDensity(values.data(), values.size(), mean, sampleRate, BlackmanHarrisWindow(len), nullptr),
        sampleRate, len, toneHz, reference);
}

SineFigures SineFiguresFromDensity(std::vector<double> power, double sampleRate, int len, double toneHz,
                                   double reference)
{
    SineFigures f;
    const int bins = len / 2 + 1;
    if (len < 2 || !(sampleRate > 0) || bins < 4 * kHalfWidth + kMinNoiseBins || int(power.size()) != bins)
        return f;  // fewer values than one segment, or too short a segment
    const double df = sampleRate / len;
    for (double& p : power)
        p *= df;  // power per bin

    // Bins taken: 0 = noise, 1 = DC (left out), 2 = fundamental or harmonic.
    std::vector<int> use(size_t(bins), 0);
    for (int k = 0; k <= kHalfWidth && k < bins; ++k)
        use[size_t(k)] = 1;
    // A tone's power: its bins not taken yet, centred on bin `centre`.
    auto take = [&](int centre) {
        double p = 0;
        for (int k = std::max(0, centre - kHalfWidth); k <= std::min(bins - 1, centre + kHalfWidth); ++k)
            if (use[size_t(k)] == 0) {
                use[size_t(k)] = 2;
                p += power[size_t(k)];
            }
        return p;
    };

    // The fundamental: the highest bin within two of the tone found.
    const int guess = int(std::lround(toneHz / df));
    int peak = -1;
    for (int k = std::max(kHalfWidth + 1, guess - 2); k <= std::min(bins - 1, guess + 2); ++k)
        if (peak < 0 || power[size_t(k)] > power[size_t(peak)])
            peak = k;
    if (peak < 0)
        return f;
    double moment = 0, fundamental = 0;
    for (int k = std::max(0, peak - kHalfWidth); k <= std::min(bins - 1, peak + kHalfWidth); ++k) {
        fundamental += power[size_t(k)];
        moment += power[size_t(k)] * k * df;
    }
    take(peak);
    const double f0 = moment / fundamental;

    // Harmonics 2..6, folded back into 0 .. fs/2 when above the Nyquist frequency.
    double distortion = 0, largestHarmonic = 0;
    for (int h = 2; h <= kHarmonics; ++h) {
        double fh = std::fmod(h * f0, sampleRate);
        if (fh > sampleRate / 2)
            fh = sampleRate - fh;
        const double p = take(int(std::lround(fh / df)));
        distortion += p;
        largestHarmonic = std::max(largestHarmonic, p);
    }

    // Noise: the bins left, scaled up to cover the bins the tones took too.
    double noise = 0, largestSpur = 0;
    int noiseBins = 0, toneBins = 0;
    for (int k = 0; k < bins; ++k) {
        if (use[size_t(k)] == 0) {
            noise += power[size_t(k)];
            ++noiseBins;
        } else if (use[size_t(k)] == 2) {
            ++toneBins;
        }
    }
    if (noiseBins < kMinNoiseBins || !(fundamental > 0))
        return f;
    // The largest other spur: the most power in a tone's width of noise bins.
    for (int k = 0; k < bins; ++k) {
        double p = 0;
        for (int j = std::max(0, k - kHalfWidth); j <= std::min(bins - 1, k + kHalfWidth); ++j)
            if (use[size_t(j)] == 0)
                p += power[size_t(j)];
        if (use[size_t(k)] == 0)
            largestSpur = std::max(largestSpur, p);
    }
    noise *= double(noiseBins + toneBins) / noiseBins;
    if (!(noise > 0))
        return f;

    f.present = true;
    f.frequency = f0;
    f.level = decibels(fundamental / reference);
    f.snr = decibels(fundamental / noise);
    f.thd = distortion > 0 ? decibels(distortion / fundamental) : -400.0;
    f.sinad = decibels(fundamental / (noise + distortion));
    f.sfdr = decibels(fundamental / std::max(largestHarmonic, largestSpur));
    f.enob = (f.sinad - 1.76) / 6.02;
    return f;
}
