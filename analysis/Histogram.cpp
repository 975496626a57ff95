#include "analysis/Histogram.h"

#include <algorithm>
#include <cmath>

namespace {

// Not M_PI: that one is missing from some compilers' <cmath>.
constexpr double kPi = 3.14159265358979323846;

// Smallest positive gap between distinct values, or 0 when all are equal.
double smallestGap(std::vector<double> sorted)
{
    std::sort(sorted.begin(), sorted.end());
    double gap = 0;
    for (size_t i = 1; i < sorted.size(); ++i) {
        const double d = sorted[i] - sorted[i - 1];
        if (d > 0 && (gap == 0 || d < gap))
            gap = d;
    }
    return gap;
}

} // namespace

Histogram ComputeHistogram(const std::vector<double>& values, bool hexCodes, double mean, double rms)
{
    Histogram h;
    if (values.empty())
        return h;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double minimum = *lo, maximum = *hi;
    if (!std::isfinite(minimum) || !std::isfinite(maximum))
        return h;

    double step = hexCodes ? 1.0 : smallestGap(values);
    if (step == 0)
        step = 1.0;  // all values equal: one bar
    const double steps = std::round((maximum - minimum) / step) + 1;
    int binCount;
    double first;
    if (steps <= kMaxStepBins) {
        h.onePerStep = true;
        h.binWidth = step;
        binCount = int(steps);
        first = minimum - step / 2;  // each step value sits in the middle of its bar
    } else {
        binCount = kHistogramBins;
        h.binWidth = (maximum - minimum) / kHistogramBins;
        first = minimum;
    }
    h.bins.resize(size_t(binCount));
    for (int b = 0; b < binCount; ++b) {
        h.bins[size_t(b)].lower = first + b * h.binWidth;
        h.bins[size_t(b)].center = first + (b + 0.5) * h.binWidth;
    }
    for (double v : values) {
        const int b = std::clamp(int(std::floor((v - first) / h.binWidth)), 0, binCount - 1);
        ++h.bins[size_t(b)].count;
    }

    // Normal curve scaled to bar heights: n * width * density, over the bars
    // and four RMS beyond the mean on either side, whichever is wider.
    if (values.size() >= 2 && rms > 0 && std::isfinite(rms)) {
        const double from = std::min(first, mean - 4 * rms);
        const double to = std::max(first + binCount * h.binWidth, mean + 4 * rms);
        constexpr int kPoints = 201;
        const double scale = double(values.size()) * h.binWidth / (rms * std::sqrt(2 * kPi));
        h.normal.reserve(kPoints);
        for (int i = 0; i < kPoints; ++i) {
            const double x = from + (to - from) * i / (kPoints - 1);
            const double z = (x - mean) / rms;
            h.normal.push_back({x, scale * std::exp(-0.5 * z * z)});
        }
    }
    return h;
}
