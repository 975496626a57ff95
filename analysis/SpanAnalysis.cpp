#include "analysis/SpanAnalysis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <system_error>

#include "measure/SampleBlock.h"

namespace {

// A long span's spectrum is folded in pieces of this many segments.
constexpr int kFoldSegments = 64;
constexpr int kHop = kMaxSegment / 2;
constexpr size_t kFoldValues = size_t(kFoldSegments + 1) * kHop;

struct Moments {
    qint64 n = 0;
    double mean = 0, m2 = 0, min = 0, max = 0;
};

// Pairwise update of two groups' mean and squared deviations.
void merge(Moments& a, const NoiseStats& b)
{
    if (b.count == 0)
        return;
    const double m2b = b.rms * b.rms * double(b.count - 1);
    if (a.n == 0) {
        a = {b.count, b.mean, m2b, b.minimum, b.maximum};
        return;
    }
    const double n = double(a.n + b.count);
    const double delta = b.mean - a.mean;
    a.mean += delta * double(b.count) / n;
    a.m2 += m2b + delta * delta * double(a.n) * double(b.count) / n;
    a.min = std::min(a.min, b.minimum);
    a.max = std::max(a.max, b.maximum);
    a.n += b.count;
}

// Adds the Welch density of the segments that start in values[0, n) and
// end in it, at whole multiples of the half segment, to `sum` (weighted by
// their number) and `segments`; returns where the next segment starts.
size_t addSegments(const double* v, size_t n, double rate, std::vector<double>& sum, int& segments,
                   std::vector<double>* sineSum)
{
    const size_t used = n / kHop * kHop;
    if (used < size_t(kMaxSegment))
        return 0;
    const double mean = std::accumulate(v, v + used, 0.0) / double(used);
    if (!std::isfinite(mean))
        return used - kHop;
    static const std::vector<double> window = HannWindow(kMaxSegment);
    int added = 0;
    const std::vector<double> psd = WelchDensity(v, used, mean, rate, window, &added);
    if (added > 0) {
        if (sum.empty())
            sum.assign(psd.size(), 0.0);
        for (size_t k = 0; k < psd.size(); ++k)
            sum[k] += psd[k] * added;
        segments += added;
        if (sineSum) {
            // The same segments through the sine test's window.
            static const std::vector<double> sineWindow = BlackmanHarrisWindow(kMaxSegment);
            const std::vector<double> bh = WelchDensity(v, used, mean, rate, sineWindow, nullptr);
            if (sineSum->empty())
                sineSum->assign(bh.size(), 0.0);
            for (size_t k = 0; k < bh.size() && k < sineSum->size(); ++k)
                (*sineSum)[k] += bh[k] * added;
        }
    }
    return size_t(added) * kHop;
}

// Appends values to the spectrum's tail, folding the segments that start in
// it each time it reaches kFoldValues (so the pieces do not depend on how the
// values came in) and keeping the values from the next segment start on.
void addToTail(std::vector<double>& tail, const double* v, size_t n, double rate, std::vector<double>& sum,
               int& segments, std::vector<double>* sineSum)
{
    while (n > 0) {
        const size_t take = std::min(n, kFoldValues - tail.size());
        tail.insert(tail.end(), v, v + take);
        v += take;
        n -= take;
        if (tail.size() == kFoldValues) {
            const size_t next = addSegments(tail.data(), tail.size(), rate, sum, segments, sineSum);
            tail.erase(tail.begin(), tail.begin() + std::ptrdiff_t(next));
        }
    }
}

// Adds the squared second differences of the prefix sums for G clusters
// (of m[k] values each) at values from .. to (1-based counts) to sums[k].
// Each cluster's terms are added in order, as one value at a time would;
// doing G clusters side by side only keeps G independent sums going.
template <int G>
void addClusters(const std::vector<double>& ring, size_t mask, const size_t* m, size_t from, size_t to, double* sums)
{
    static_assert(G >= 1 && G <= 4);
    const double* r = ring.data();
    // m times the difference of the means of the two clusters of m[k] ending at j.
    auto term = [&](size_t j, size_t k) {
        const double d = r[j & mask] - 2 * r[(j - m[k]) & mask] + r[(j - 2 * m[k]) & mask];
        return d * d;
    };
    double s0 = sums[0], s1 = G > 1 ? sums[1] : 0, s2 = G > 2 ? sums[2] : 0, s3 = G > 3 ? sums[3] : 0;
    for (size_t j = from; j <= to; ++j) {
        s0 += term(j, 0);
        if constexpr (G > 1)
            s1 += term(j, 1);
        if constexpr (G > 2)
            s2 += term(j, 2);
        if constexpr (G > 3)
            s3 += term(j, 3);
    }
    const double s[4] = {s0, s1, s2, s3};
    std::copy(s, s + G, sums);
}

} // namespace

SpanAnalysis::SpanAnalysis(bool hexCodes, double sampleRate, bool histogram, bool spectrum)
    : hex_(hexCodes), wantHistogram_(histogram), wantSpectrum_(spectrum), rate_(sampleRate)
{
    block_.reserve(size_t(kSampleCapacity));
}

void SpanAnalysis::AllanSums::Add(const double* v, size_t count)
{
    constexpr size_t mask = 4 * kMaxAllanCluster - 1; // a power of two above 2 kMaxAllanCluster
    constexpr size_t wideMask = 4 * kAllanWideTerms - 1;
    if (ring.empty()) {
        offset = std::accumulate(v, v + count, 0.0) / double(count);
        ring.assign(mask + 1, 0.0);
        for (size_t m = 2 * kMaxAllanCluster; m <= kMaxAllanWideCluster; m *= 2)
            wide.push_back({m, m / kAllanWideTerms, std::vector<double>(wideMask + 1, 0.0), 0, 0});
    }
    // The block's prefix sums first (the ring holds 2 kMaxAllanCluster
    // before them, and a block is shorter than the rest of the ring), then
    // every cluster's terms for the values of this block, four clusters at
    // a time. A cluster of m has a term from the 2m-th value on.
    const size_t before = n;
    double sum = prefix; // locals: a store into the ring could be one of the members
    const double off = offset;
    double* r = ring.data();
    for (size_t i = 0; i < count; ++i) {
        sum += v[i] - off;
        r[(before + i + 1) & mask] = sum;
    }
    prefix = sum;
    n = before + count;
    // The large clusters: a term at every multiple p of the stride, from the
    // prefix sums at p, p - m and p - 2m (the block's are still in the ring).
    for (Wide& w : wide) {
        if (w.stride > n)
            break;
        for (size_t p = (before / w.stride + 1) * w.stride; p <= n; p += w.stride) {
            const size_t slot = p / w.stride;
            const double here = r[p & mask];
            w.ring[slot & wideMask] = here;
            if (p >= 2 * w.m) {
                const double d = here - 2 * w.ring[(slot - kAllanWideTerms) & wideMask]
                                 + w.ring[(slot - 2 * kAllanWideTerms) & wideMask];
                w.squares += d * d;
                ++w.terms;
            }
        }
    }
    size_t m[4];
    size_t level = 0;
    for (size_t first = 1; first <= kMaxAllanCluster && 2 * first <= n;) {
        int g = 0;
        for (size_t c = first; g < 4 && c <= kMaxAllanCluster && 2 * c <= n; c *= 2)
            m[g++] = c;
        while (squares.size() < level + size_t(g))
            squares.push_back(0.0);
        // Each cluster alone up to where the largest of the group has terms,
        // then all of them together.
        const size_t together = std::max(before + 1, 2 * m[g - 1]);
        for (int k = 0; k + 1 < g; ++k) {
            const size_t from = std::max(before + 1, 2 * m[k]);
            if (from < together)
                addClusters<1>(ring, mask, &m[k], from, together - 1, &squares[level + size_t(k)]);
        }
        switch (g) {
        case 4: addClusters<4>(ring, mask, m, together, n, &squares[level]); break;
        case 3: addClusters<3>(ring, mask, m, together, n, &squares[level]); break;
        case 2: addClusters<2>(ring, mask, m, together, n, &squares[level]); break;
        default: addClusters<1>(ring, mask, m, together, n, &squares[level]); break;
        }
        level += size_t(g);
        first = m[g - 1] * 2;
    }
}

SpanAnalysis::~SpanAnalysis()
{
    if (pending_.valid())
        pending_.wait();
}

void SpanAnalysis::settle() const
{
    if (pending_.valid())
        pending_.get();
}

void SpanAnalysis::fold(const std::vector<double>& values)
{
    foldStats(values);
    if (wantSpectrum_) {
        allan_.Add(values.data(), values.size());
        addToTail(spectrumTail_, values.data(), values.size(), rate_, psdSum_, segments_,
                  sineTest_ ? &sineSum_ : nullptr);
    }
}

void SpanAnalysis::Add(double v)
{
    if (block_.size() == size_t(kSampleCapacity)) {
        settle();
        // A span whose first block is a sine test's signal gets the sine
        // test's density summed beside the spectrum's (twice the transforms).
        if (!folded_ && wantSpectrum_)
            sineTest_ = ComputeSpectrum(block_, rate_, hex_).sine.present;
        folding_.swap(block_);
        block_.clear();
        block_.reserve(size_t(kSampleCapacity));
        folded_ = true;
        try {
            pending_ = std::async(std::launch::async, [this] { fold(folding_); });
        } catch (const std::system_error&) {
            fold(folding_); // no thread to be had: fold here
        }
    }
    block_.push_back(v);
    ++count_;
    if (wantHistogram_ && !overflow_) {
        ++distinct_[v == 0 ? 0.0 : v]; // -0 and 0 are one bar
        if (distinct_.size() > kMaxDistinctValues) {
            overflow_ = true;
            distinct_ = QHash<double, qint64>();
        }
    }
}

void SpanAnalysis::foldStats(const std::vector<double>& values)
{
    Moments m{n_, mean_, m2_, min_, max_};
    merge(m, ComputeNoiseStats(values, hex_));
    n_ = m.n;
    mean_ = m.mean;
    m2_ = m.m2;
    min_ = m.min;
    max_ = m.max;
}

NoiseStats SpanAnalysis::Stats() const
{
    if (!folded_)
        return ComputeNoiseStats(block_, hex_);
    settle();
    Moments m{n_, mean_, m2_, min_, max_};
    merge(m, ComputeNoiseStats(block_, hex_));
    NoiseStats s;
    s.hasResolution = hex_;
    s.count = int(std::min<qint64>(m.n, INT_MAX));
    s.mean = m.mean;
    s.minimum = m.min;
    s.maximum = m.max;
    s.peakToPeak = m.max - m.min;
    s.rms = m.n >= 2 ? std::sqrt(m.m2 / double(m.n - 1)) : 0;
    if (hex_) {
        s.effectiveBits = ResolutionBits(s.rms);
        s.noiseFreeBits = ResolutionBits(s.peakToPeak);
    }
    return s;
}

Histogram SpanAnalysis::ComputedHistogram() const
{
    const NoiseStats s = Stats();
    if (!folded_)
        return ComputeHistogram(block_, hex_, s.mean, s.rms);
    if (overflow_ || distinct_.isEmpty())
        return Histogram();
    // The layout follows from the distinct values alone (extremes and the
    // step between neighbours); each bar then holds the counts of the
    // distinct values it took, which come to it in order.
    std::vector<double> keys;
    for (auto it = distinct_.cbegin(); it != distinct_.cend(); ++it)
        keys.push_back(it.key());
    std::sort(keys.begin(), keys.end());
    Histogram h = ComputeHistogram(keys, hex_, s.mean, s.rms);
    size_t next = 0;
    for (HistogramBin& bin : h.bins) {
        qint64 total = 0;
        for (int k = 0; k < bin.count && next < keys.size(); ++k)
            total += distinct_.value(keys[next++]);
        bin.count = int(std::min<qint64>(total, INT_MAX));
    }
    // The curve is drawn for the number of values it was given.
    const double scale = double(count_) / double(keys.size());
    for (NormalPoint& p : h.normal)
        p.count *= scale;
    return h;
}

Spectrum SpanAnalysis::ComputedSpectrum() const
{
    if (!folded_)
        return ComputeSpectrum(block_, rate_, hex_);
    // The values not yet folded go to the tail, and the segments that still
    // fit it join the average.
    settle();
    std::vector<double> psd = psdSum_;
    int segments = segments_;
    std::vector<double> tail = spectrumTail_;
    std::vector<double> sine = sineSum_;
    std::vector<double>* sineSum = sineTest_ ? &sine : nullptr;
    addToTail(tail, block_.data(), block_.size(), rate_, psd, segments, sineSum);
    addSegments(tail.data(), tail.size(), rate_, psd, segments, sineSum);
    if (segments == 0)
        return Spectrum();
    for (double& p : psd)
        p /= segments;
    for (double& p : sine)
        p /= segments;
    return SpectrumFromDensity(psd, segments, rate_, hex_, nullptr, 0, sineSum);
}

std::vector<AllanPoint> SpanAnalysis::ComputedAllan() const
{
    if (!folded_)
        return ComputeAllanDeviation(block_, rate_);
    std::vector<AllanPoint> points;
    if (!wantSpectrum_ || !(rate_ > 0) || !std::isfinite(rate_))
        return points;
    settle();
    AllanSums sums = allan_;
    sums.Add(block_.data(), block_.size());
    const size_t n = sums.n;
    size_t level = 0;
    for (size_t m = 1; m <= n / 10 && m <= kMaxAllanCluster && level < sums.squares.size(); m *= 2, ++level) {
        const double terms = double(n - 2 * m + 1);
        const double variance = sums.squares[level] / (double(m) * double(m)) / (2.0 * terms);
        points.push_back({int(m), double(m) / rate_, std::sqrt(std::max(0.0, variance))});
    }
    if (points.empty() || size_t(points.back().clusterSize) != kMaxAllanCluster)
        return points;
    for (const AllanSums::Wide& w : sums.wide) {
        if (w.m > n / 10 || w.terms == 0)
            break;
        const double variance = w.squares / (double(w.m) * double(w.m)) / (2.0 * double(w.terms));
        points.push_back({int(w.m), double(w.m) / rate_, std::sqrt(std::max(0.0, variance))});
    }
    return points;
}
