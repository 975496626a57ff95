#include "stream/History.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

qint64 steadyMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

void History::Bucket::add(double v)
{
    if (n == 0) {
        first = min = max = v;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
    }
    last = v;
    sum += v;
    sumSq += v * v;
    ++n;
}

void History::Bucket::add(const Bucket& b)
{
    if (b.n == 0)
        return;
    if (n == 0) {
        *this = b;
        return;
    }
    min = std::min(min, b.min);
    max = std::max(max, b.max);
    last = b.last;
    sum += b.sum;
    sumSq += b.sumSq;
    n += b.n;
}

History::History(std::function<qint64()> nowMs)
    : nowMs_(nowMs ? std::move(nowMs) : std::function<qint64()>(steadyMs))
{
}

bool History::WellFormed(QStringView text, bool hex)
{
    if (!hex)
        return IsDecimalNumberText(text);
    if (text.size() != 6)
        return false;
    for (QChar ch : text) {
        const char16_t c = ch.unicode();
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool History::Begin(const StreamInfo& info)
{
    info_ = info;
    begun_ = running_ = true;
    count_ = malformed_ = gaps_ = 0;
    gapMarks_.clear();
    lastArrival_ = -1;
    channels_.clear();
    for (int field : Channels()) {
        Channel c;
        c.field = field;
        c.raw.assign(size_t(kRawCapacity), kNaN);
        c.levels.push_back(Level{kBaseWidth, {}, 0, {}, 0});
        c.levels.back().ring.reserve(size_t(kLevelCapacity));
        channels_.push_back(std::move(c));
    }
    return true;
}

std::vector<int> History::Channels() const
{
    switch (info_.header.channelMode) {
    case 0: return {0};
    case 1: return {1};
    case 2: return {0, 1};
    default: return {};
    }
}

bool History::Append(const SampleBlock& rows, int count, qint64 firstIndex)
{
    return AppendRows(rows, 0, count, firstIndex);
}

bool History::AppendRows(const SampleBlock& rows, int first, int count, qint64 firstIndex)
{
    if (!begun_ || count <= 0)
        return true;
    // Records are placed by their own index; a chunk that does not follow on
    // (the caller lost some) starts where it says, the records between stay
    // without values.
    const qint64 now = nowMs_();
    const double rate = info_.samplesPerSecond;
    const double stallMs = 3 * (rate > 0 ? 1000.0 / rate : 0.0) + 1000.0;
    if (lastArrival_ >= 0 && double(now - lastArrival_) > stallMs && firstIndex > 0) {
        ++gaps_;
        gapMarks_.push_back(firstIndex);
        if (gapMarks_.size() > size_t(kGapMarksKept))
            gapMarks_.erase(gapMarks_.begin(), gapMarks_.begin() + kGapMarksKept / 4);
    }
    lastArrival_ = now;
    while (count_ < firstIndex) {
        for (Channel& c : channels_)
            push(c, kNaN);
        ++count_;
    }
    if (firstIndex < count_) {
        // Records already held are not taken twice.
        const qint64 skip = count_ - firstIndex;
        if (skip >= count)
            return true;
        first += int(skip);
        count -= int(skip);
    }
    const bool hex = info_.header.hex;
    for (int r = first; r < first + count; ++r) {
        bool bad = false;
        double values[2] = {kNaN, kNaN};
        for (size_t k = 0; k < channels_.size(); ++k) {
            // A plain text of the slot is well-formed when it has the
            // format's digits (six for codes); anything else the full rule.
            QLatin1StringView plain;
            if (rows.FieldLatin1(r, channels_[k].field, &plain) && (!hex || plain.size() == 6)
                && DecodePlainSample(plain, hex, &values[k]))
                continue;
            const QString text = rows.Field(r, channels_[k].field);
            // A number too large for a double ("1e400") is no sample either:
            // an infinite value would leave no scale to draw.
            const double v = WellFormed(text, hex) ? DecodeSample(QStringView(text), hex) : kNaN;
            if (std::isfinite(v))
                values[k] = v;
            else
                bad = true;
        }
        if (bad)
            ++malformed_;
        for (size_t k = 0; k < channels_.size(); ++k)
            push(channels_[k], values[k]);
        ++count_;
    }
    return true;
}

void History::AppendValues(const double* values, qint64 count)
{
    if (!begun_)
        return;
    const size_t n = channels_.size();
    for (qint64 r = 0; r < count; ++r) {
        bool bad = false;
        for (size_t k = 0; k < n; ++k) {
            const double v = values[size_t(r) * n + k];
            bad = bad || std::isnan(v);
            push(channels_[k], v);
        }
        malformed_ += bad;
        ++count_;
    }
}

bool History::Finish(qint64)
{
    running_ = false;
    return true;
}

void History::push(Channel& c, double v)
{
    c.raw[size_t(count_ % kRawCapacity)] = v;
    Level& base = c.levels.front();
    if (!std::isnan(v))
        base.partial.add(v);
    if (++base.partialRecords == base.width) {
        const Bucket done = base.partial;
        base.partial = Bucket();
        base.partialRecords = 0;
        complete(c, 0, done);
    }
}

void History::complete(Channel& c, size_t level, const Bucket& b)
{
    if (level + 1 == c.levels.size() && c.levels[level].done == kLevelCapacity) {
        // The top level is full and would lose record 0 with this bucket: a
        // coarser level takes over the whole stream first.
        const Level& top = c.levels[level];
        Level up{top.width * 2, {}, 0, {}, 0};
        up.ring.reserve(size_t(kLevelCapacity));
        for (int k = 0; k + 1 < kLevelCapacity; k += 2) {
            Bucket pair = top.ring[size_t(k)];
            pair.add(top.ring[size_t(k + 1)]);
            up.ring.push_back(pair);
        }
        up.done = kLevelCapacity / 2;
        c.levels.push_back(std::move(up));
    }
    Level& l = c.levels[level];
    if (l.ring.size() < size_t(kLevelCapacity))
        l.ring.push_back(b);
    else
        l.ring[size_t(l.done % kLevelCapacity)] = b;
    ++l.done;
    if (level + 1 < c.levels.size()) {
        Level& up = c.levels[level + 1];
        up.partial.add(b);
        up.partialRecords += l.width;
        if (up.partialRecords == up.width) {
            const Bucket done = up.partial;
            up.partial = Bucket();
            up.partialRecords = 0;
            complete(c, level + 1, done);
        }
    }
}

size_t History::levelFor(const Channel& c, double lo, double width) const
{
    size_t pick = c.levels.size() - 1;
    for (size_t k = c.levels.size(); k-- > 0;) {
        const Level& l = c.levels[k];
        if (double(l.oldest() * l.width) > lo)
            break;  // finer levels reach back even less far
        pick = k;
        if (double(l.width) <= width)
            break;
    }
    return pick;
}

template <typename F>
void History::forBuckets(const Channel& c, size_t level, double lo, double hi, F f) const
{
    const Level& l = c.levels[level];
    const qint64 w = l.width;
    const qint64 from = std::max(l.oldest(), qint64(std::floor(std::max(lo, 0.0) / double(w))));
    const qint64 to = std::min(l.done - 1, qint64(std::floor(hi / double(w))));
    for (qint64 b = from; b <= to; ++b)
        f(b * w, w, l.at(b));
    // The records after the level's last whole bucket: its partial bucket
    // and, newer still, those of the finer levels.
    const qint64 start = l.done * w;
    if (start >= count_ || double(start) > hi)
        return;
    Bucket tail;
    for (size_t k = level + 1; k-- > 0;)
        tail.add(c.levels[k].partial);
    f(start, count_ - start, tail);
}

std::vector<ColumnEnvelope> History::Envelope(int channel, AxisRange view, int columns) const
{
    std::vector<ColumnEnvelope> out(size_t(std::max(columns, 0)));
    const auto it = std::find_if(channels_.begin(), channels_.end(),
                                 [&](const Channel& c) { return c.field == channel; });
    if (it == channels_.end() || columns <= 0 || !(view.span() > 0) || count_ == 0)
        return out;
    const Channel& c = *it;
    const double perColumn = view.span() / columns;
    const qint64 rawFrom = rawOldest();
    if (view.lo >= double(rawFrom) && perColumn <= kBaseWidth) {
        // Full resolution from the ring, in its (at most two) contiguous
        // pieces; positions shift with each piece so columns stay put.
        const qint64 lo = std::max<qint64>(rawFrom, qint64(std::floor(view.lo)));
        const qint64 hi = std::min<qint64>(count_ - 1, qint64(std::ceil(view.hi)));
        for (qint64 s = lo; s <= hi;) {
            const qint64 slot = s % kRawCapacity;
            const qint64 n = std::min(hi - s + 1, kRawCapacity - slot);
            const AxisRange shifted{view.lo - double(s), view.hi - double(s)};
            const std::vector<ColumnEnvelope> piece =
                EnvelopeColumns(c.raw.data() + slot, int(n), shifted, columns);
            for (size_t x = 0; x < out.size(); ++x) {
                const ColumnEnvelope& p = piece[x];
                if (!p.used)
                    continue;
                ColumnEnvelope& o = out[x];
                if (!o.used)
                    o = p;
                else
                    o = {o.first, p.last, std::min(o.lo, p.lo), std::max(o.hi, p.hi), true};
            }
            s += n;
        }
        return out;
    }
    const size_t level = levelFor(c, view.lo, perColumn);
    forBuckets(c, level, view.lo, view.hi, [&](qint64 first, qint64, const Bucket& b) {
        if (b.n == 0)
            return;
        const double at = std::max(double(first), view.lo);
        const int x = std::clamp(int((at - view.lo) / perColumn), 0, columns - 1);
        ColumnEnvelope& o = out[size_t(x)];
        if (!o.used)
            o = {b.first, b.last, b.min, b.max, true};
        else
            o = {o.first, b.last, std::min(o.lo, b.min), std::max(o.hi, b.max), true};
    });
    return out;
}

SpanStats History::Stats(int channel, double lo, double hi) const
{
    SpanStats s;
    const auto it = std::find_if(channels_.begin(), channels_.end(),
                                 [&](const Channel& c) { return c.field == channel; });
    if (it == channels_.end() || count_ == 0 || !(hi >= lo))
        return s;
    const Channel& c = *it;
    Bucket all;
    const qint64 first = std::max<qint64>(0, qint64(std::ceil(lo)));
    const qint64 last = std::min<qint64>(count_ - 1, qint64(std::floor(hi)));
    if (first > last)
        return s;
    if (first >= rawOldest()) {
        for (qint64 i = first; i <= last; ++i) {
            const double v = c.raw[size_t(i % kRawCapacity)];
            if (!std::isnan(v))
                all.add(v);
        }
    } else {
        // About a thousand buckets at most, whatever the span.
        const size_t level = levelFor(c, lo, (hi - lo) / 1024);
        forBuckets(c, level, lo, hi, [&](qint64, qint64, const Bucket& b) { all.add(b); });
    }
    if (all.n == 0)
        return s;
    s.count = all.n;
    s.last = all.last;
    s.min = all.min;
    s.max = all.max;
    s.mean = all.sum / double(all.n);
    s.rms = std::sqrt(all.sumSq / double(all.n));
    return s;
}

std::vector<qint64> History::GapsIn(double lo, double hi) const
{
    std::vector<qint64> out;
    for (qint64 g : gapMarks_)
        if (double(g) >= lo && double(g) <= hi)
            out.push_back(g);
    return out;
}

size_t History::MemoryBytes() const
{
    size_t bytes = sizeof(*this) + gapMarks_.capacity() * sizeof(qint64);
    for (const Channel& c : channels_) {
        bytes += sizeof(Channel) + c.raw.capacity() * sizeof(double);
        for (const Level& l : c.levels)
            bytes += sizeof(Level) + l.ring.capacity() * sizeof(Bucket);
    }
    return bytes;
}
