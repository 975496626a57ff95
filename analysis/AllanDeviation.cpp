#include "analysis/AllanDeviation.h"

#include <algorithm>
#include <cmath>

std::vector<AllanPoint> ComputeAllanDeviation(const std::vector<double>& values, double sampleRate)
{
    std::vector<AllanPoint> points;
    const size_t n = values.size();
    if (n < 10 || !(sampleRate > 0) || !std::isfinite(sampleRate))
        return points;
    // Prefix sums of the readings minus their mean: codes near 2^23 would
    // otherwise lose their last digits in sums of tens of thousands of them.
    double mean = 0;
    for (double v : values)
        mean += v;
    mean /= double(n);
    std::vector<double> prefix(n + 1, 0.0);
    for (size_t i = 0; i < n; ++i)
        prefix[i + 1] = prefix[i] + (values[i] - mean);

    for (size_t m = 1; m <= n / 10; m *= 2) {
        const size_t terms = n - 2 * m + 1;
        double sum = 0;
        for (size_t k = 0; k < terms; ++k) {
            // m * (second mean - first mean), from the prefix sums.
            const double d = (prefix[k + 2 * m] - prefix[k + m]) - (prefix[k + m] - prefix[k]);
            sum += d * d;
        }
        const double variance = sum / (double(m) * double(m)) / (2.0 * double(terms));
        points.push_back({int(m), double(m) / sampleRate, std::sqrt(std::max(0.0, variance))});
    }
    return points;
}

int AllanMinimumIndex(const std::vector<AllanPoint>& points)
{
    int best = -1;
    for (int i = 0; i < int(points.size()); ++i)
        if (best < 0 || points[size_t(i)].deviation < points[size_t(best)].deviation)
            best = i;
    return best;
}

QString AllanMinimumText(const std::vector<AllanPoint>& points, const QString& unit)
{
    const int i = AllanMinimumIndex(points);
    if (i < 0)
        return QStringLiteral("---");
    const AllanPoint& p = points[size_t(i)];
    return QStringLiteral("最小 %1 %2 (τ = %3 s)")
        .arg(QString::number(p.deviation, 'g', 3), unit, QString::number(p.tau, 'g', 4));
}
