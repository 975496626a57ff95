#pragma once
// The noise analysis of a span of any length, fed one value at a time in a
// few MiB: statistics, the code histogram and the Welch spectrum of one
// channel. A span of up to kSampleCapacity values gives exactly what
// ComputeNoiseStats, ComputeHistogram and ComputeSpectrum give for the same
// block (the values are kept and handed to them); a longer one is folded
// block by block:
//
// - statistics: each block's exact figures, merged (pairwise update of
//   mean and squared deviations), so no precision is lost to a running sum;
// - histogram: the count of every distinct value (up to kMaxDistinctValues
//   of them); the bars are laid out by ComputeHistogram over the distinct
//   values, which decide the layout, and filled with their counts;
// - spectrum: segments of kMaxSegment samples, half overlapping, over the
//   whole span (pieces of 64 segments, each minus its own mean, so a slow
//   drift over hours does not leak into the low bins), averaged; the floor
//   and tones as for a block; when the first block shows a sine test's
//   signal, the same segments through the sine test's window too, for the
//   sine figures of the whole span;
// - Allan deviation: the running sums of the overlapping estimator for
//   clusters of 1, 2, 4, ... kMaxAllanCluster values, from a ring of the
//   last 2 kMaxAllanCluster prefix sums; larger clusters (up to 2^30
//   values, hours at any rate) with a term every kAllanWideTerms-th of the
//   cluster instead of every value, from a small ring of prefix sums each.
//
// Each full block is folded on a thread of its own while the next one is
// filled (one fold at a time per analysis), so the two channels of a file
// and the reading share the cores; the figures wait for the last fold.

#include <QHash>
#include <QtGlobal>
#include <future>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/Histogram.h"
#include "analysis/NoiseDensity.h"
#include "analysis/NoiseStats.h"

// Distinct values a long span's histogram can count; beyond, it has none.
constexpr int kMaxDistinctValues = 1 << 16;
// Largest cluster of a long span's Allan deviation (109 s at 1200 sps); its
// ring of prefix sums takes 4 MiB.
constexpr size_t kMaxAllanCluster = size_t(1) << 17;
// Clusters above it have a term every 1/kAllanWideTerms of their length
// (each term as in the full estimator, so the same mean with fewer terms).
constexpr size_t kAllanWideTerms = 64;
constexpr size_t kMaxAllanWideCluster = size_t(1) << 30;

class SpanAnalysis {
public:
    // `spectrum` (with the Allan deviation), `histogram`: what to compute
    // beyond the statistics.
    SpanAnalysis(bool hexCodes, double sampleRate, bool histogram, bool spectrum);
    ~SpanAnalysis();
    SpanAnalysis(const SpanAnalysis&) = delete;
    SpanAnalysis& operator=(const SpanAnalysis&) = delete;

    void Add(double value);

    qint64 Count() const { return count_; }
    // Figures of everything added. NoiseStats::count saturates at INT_MAX;
    // Count() has the true number.
    NoiseStats Stats() const;
    // Empty bins when there are more than kMaxDistinctValues distinct values
    // (HistogramOverflow()) or none.
    Histogram ComputedHistogram() const;
    bool HistogramOverflow() const { return overflow_; }
    Spectrum ComputedSpectrum() const;
    std::vector<AllanPoint> ComputedAllan() const;

private:
    // Folds a full block into the statistics, the Allan sums and the
    // spectrum (on the fold thread).
    void fold(const std::vector<double>& values);
    void foldStats(const std::vector<double>& values);
    // Waits for the fold under way, if any.
    void settle() const;

    bool hex_, wantHistogram_, wantSpectrum_;
    double rate_;
    qint64 count_ = 0;
    std::vector<double> block_;      // values not yet folded (the whole span while short)
    std::vector<double> folding_;    // the block being folded
    mutable std::future<void> pending_; // that fold
    bool folded_ = false;            // block_ no longer holds the whole span
    // Folded statistics.
    qint64 n_ = 0;
    double mean_ = 0, m2_ = 0, min_ = 0, max_ = 0;
    // Histogram: value -> count.
    QHash<double, qint64> distinct_;
    bool overflow_ = false;
    // Spectrum: summed density times segments, segments so far.
    std::vector<double> psdSum_;
    int segments_ = 0;
    std::vector<double> spectrumTail_; // values after the last folded segment start
    // The sine test of a folded span: whether its first block had one, and
    // the Blackman-Harris density of the same segments, summed.
    bool sineTest_ = false;
    std::vector<double> sineSum_;
    // Allan deviation of a folded span.
    struct AllanSums {
        double offset = 0;           // the first block's mean, taken from every value
        double prefix = 0;           // sum of the values so far minus offset
        size_t n = 0;                // values so far
        std::vector<double> ring;    // prefix sums 0 .. n, the last 2 kMaxAllanCluster + 1
        std::vector<double> squares; // per cluster 2^i: sum of squared second differences
        // A cluster above kMaxAllanCluster: prefix sums at multiples of its
        // stride (m / kAllanWideTerms), the last 2 kAllanWideTerms + 1 of them.
        struct Wide {
            size_t m = 0, stride = 0;
            std::vector<double> ring;
            double squares = 0;
            size_t terms = 0;
        };
        std::vector<Wide> wide;
        void Add(const double* v, size_t count);
    };
    AllanSums allan_;
};
