#pragma once
// Allan deviation of a block of readings: how much the average over an
// interval tau changes from one interval to the next. White noise falls as
// tau^-1/2, a random walk rises as tau^+1/2, so the curve tells noise from
// drift and its minimum is the longest averaging that still helps.
// Pure functions; no widgets.

#include <QString>
#include <vector>

struct AllanPoint {
    int clusterSize = 0;    // m: readings averaged per interval
    double tau = 0;         // m / sample rate, in seconds
    double deviation = 0;   // in the readings' unit
};

// Overlapping estimator over every start position:
//   sigma^2(m) = sum_k (mean(y[k+m .. k+2m-1]) - mean(y[k .. k+m-1]))^2 / (2 (n - 2m + 1)),
// for m = 1, 2, 4, ... as long as m <= n / 10 (tau from one sample period to
// a tenth of the span). Fewer than 10 readings or a rate <= 0 give no points.
std::vector<AllanPoint> ComputeAllanDeviation(const std::vector<double>& values, double sampleRate);

// Index of the smallest deviation (the first one when several are equal);
// -1 for no points.
int AllanMinimumIndex(const std::vector<AllanPoint>& points);

// One line naming the minimum, e.g. "最小 1.25 digit (τ = 0.8 s)"; `unit` is
// the readings' unit. "---" when there are no points.
QString AllanMinimumText(const std::vector<AllanPoint>& points, const QString& unit);
