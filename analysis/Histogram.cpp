#include "analysis/Histogram.h"

#include <algorithm>
#include <cmath>

namespace {

// Not M_PI: that one is missing from some compilers' <cmath>.
constexpr double kPi = 3.14159265358979323846;

// One unit of the last decimal the values carry: 10^-d for the fewest
// decimals d (up to 9) that hold every value; else the smallest gap.
double dataStep(std::vector<double> values)
{
    double scale = 1;
    for (int d = 0; d <= 9; ++d, scale *= 10) {
        const bool whole = std::all_of(values.begin(), values.end(), [&](double v) {
            const double x = v * scale;
            return std::fabs(x - std::round(x)) <= 1e-6 + 1e-12 * std::fabs(x);
        });
        if (whole)
            return 1 / scale;
    }
    std::sort(values.begin(), values.end());
    double gap = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        const double g = values[i] - values[i - 1];
        if (g > 0 && (gap == 0 || g < gap))
            gap = g;
    }
    return gap > 0 ? gap : 1.0;
}

} // namespace

Histogram ComputeHistogram(const std::vector<double>& values, bool hexCodes, double mean, double rms)
{
    Histogram h;
    std::vector<double> finite;
    finite.reserve(values.size());
    for (double v : values)
        if (std::isfinite(v))
            finite.push_back(v);
    if (finite.empty())
        return h;
    const size_t n = finite.size();
    const auto [lo, hi] = std::minmax_element(finite.begin(), finite.end());
    const double minimum = *lo, maximum = *hi;
    if (!std::isfinite(maximum - minimum))
        return h;  // a span beyond a double's range: no bars to draw

    double step = hexCodes ? 1.0 : dataStep(finite);
    // Step indices are counted in doubles, exact below 2^52; absurd spans get a coarser step.
    const double largest = std::max(std::fabs(minimum), std::fabs(maximum));
    if (!(largest / step < 4e15))
        step = std::max(step, largest / 4e15);
    h.step = step;
    const double steps = std::round((maximum - minimum) / step) + 1;
    std::vector<double> counts;
    double first;
    if (steps <= kMaxStepBins) {
        h.onePerStep = true;
        h.binWidth = step;
        first = minimum - step / 2;  // each step value sits in the middle of its bar
        counts.assign(size_t(steps), 0);
        for (double v : finite)
            counts[std::min(counts.size() - 1, size_t(std::llround((v - minimum) / step)))] += 1;
    } else {
        // Freedman-Diaconis: 2 IQR / n^(1/3), in whole steps.
        std::vector<double> order = finite;
        std::nth_element(order.begin(), order.begin() + std::ptrdiff_t(n * 3 / 4), order.end());
        const double upper = order[n * 3 / 4];
        std::nth_element(order.begin(), order.begin() + std::ptrdiff_t(n / 4), order.begin() + std::ptrdiff_t(n * 3 / 4));
        const double iqr = upper - order[n / 4];
        const double fd = 2 * iqr / std::cbrt(double(n));
        const double wanted = fd > 0 ? std::ceil((maximum - minimum) / fd) : kMaxHistogramBins;
        const double binsWanted = std::clamp(wanted, double(kMinHistogramBins), double(kMaxHistogramBins));
        const double perBin = std::ceil(steps / binsWanted);
        h.binWidth = perBin * step;
        // Bin of a value: its step index divided by the steps per bin, so a
        // value on an edge belongs to the bin that starts there.
        auto binOf = [&](double v) { return std::floor(std::round(v / step) / perBin); };
        const double firstBin = binOf(minimum);
        first = firstBin * h.binWidth;
        counts.assign(size_t(binOf(maximum) - firstBin + 1), 0);
        for (double v : finite)
            counts[std::min(counts.size() - 1, size_t(binOf(v) - firstBin))] += 1;
    }
    h.bins.resize(counts.size());
    for (size_t b = 0; b < counts.size(); ++b) {
        h.bins[b].lower = first + double(b) * h.binWidth;
        h.bins[b].center = first + (double(b) + 0.5) * h.binWidth;
        h.bins[b].count = int(counts[b]);
    }

    // Normal curve scaled to bar heights (n * width * density) across the bars.
    if (n >= 2 && rms > 0 && std::isfinite(rms) && std::isfinite(mean)) {
        const double to = first + double(counts.size()) * h.binWidth;
        constexpr int kPoints = 201;
        const double scale = double(n) * h.binWidth / (rms * std::sqrt(2 * kPi));
        h.normal.reserve(kPoints);
        for (int i = 0; i < kPoints; ++i) {
            const double x = first + (to - first) * i / (kPoints - 1);
            const double z = (x - mean) / rms;
            h.normal.push_back({x, scale * std::exp(-0.5 * z * z)});
        }
    }
    return h;
}
