#pragma once
// The history of a running stream for a live view: bounded memory however
// long the stream runs, and any span of it summarised for a given number of
// pixel columns at about the same cost.
//
// Per channel it keeps
//  - the newest kRawCapacity decoded values in a ring (full resolution), and
//  - a pyramid of min/max buckets: level 0 buckets hold kBaseWidth records,
//    each level above merges two buckets of the one below. Every level is a
//    ring of kLevelCapacity buckets; a new level is started from the top one
//    just before that would lose its oldest bucket, so the top level always
//    reaches back to record 0 and the number of levels grows with the
//    logarithm of the length (about 14 levels for three days at 1200 sps).
//
// Positions are record indices (the board's clock: record i was taken at
// i / rate seconds). A malformed record (a field that is not a number of the
// stream's format) keeps its index, is counted and is left out of every
// envelope and statistic. When a chunk arrives more than three sample
// periods plus a second after the one before, the stream stalled: a gap is
// marked at the chunk's first index and counted.

#include <QString>
#include <QtGlobal>
#include <functional>
#include <vector>

#include "graphview/ViewMath.h"
#include "stream/RecordSink.h"

// Last value and the extremes, mean and RMS of the well-formed values of a
// span; `count` of 0 means there were none (the other fields are 0).
struct SpanStats {
    qint64 count = 0;
    double last = 0, min = 0, max = 0, mean = 0, rms = 0;
};

class History : public RecordSink {
public:
    static constexpr int kRawCapacity = 1 << 17;
    static constexpr int kBaseWidth = 16;
    static constexpr int kLevelCapacity = 4096;
    static constexpr int kGapMarksKept = 4096;

    // `nowMs` tells the arrival time of a chunk in milliseconds (a steady
    // clock by default; tests pass their own).
    explicit History(std::function<qint64()> nowMs = {});

    // RecordSink. Begin forgets the previous stream.
    bool Begin(const StreamInfo& info) override;
    bool Append(const SampleBlock& rows, int count, qint64 firstIndex) override;
    bool Finish(qint64 total) override;
    QString Error() const override { return QString(); }
    // Rows first .. first + count - 1 of `rows` are records firstIndex ... (the
    // window's block holds a measurement's records at their own indices).
    bool AppendRows(const SampleBlock& rows, int first, int count, qint64 firstIndex);
    // Records already decoded: `count` records of Channels().size() values
    // each, channel by channel (NaN for a malformed field), appended after
    // the newest. For a file being read and for measuring the history itself.
    void AppendValues(const double* values, qint64 count);

    // ---- The stream --------------------------------------------------------
    bool Running() const { return running_; }
    bool HasStream() const { return begun_; }
    const StreamInfo& Info() const { return info_; }
    int ChannelMode() const { return info_.header.channelMode; }
    // Channel numbers (0, 1) of the stream, in column order.
    std::vector<int> Channels() const;
    qint64 Count() const { return count_; }
    qint64 Malformed() const { return malformed_; }
    qint64 Gaps() const { return gaps_; }
    // Record indices where a gap begins (the newest kGapMarksKept), ascending.
    std::vector<qint64> GapsIn(double lo, double hi) const;

    // ---- Queries (positions in record indices) -------------------------------
    // Column c covers [view.lo + c*k, view.lo + (c+1)*k), k = view.span()/columns,
    // as EnvelopeColumns does for a block. Where the span reaches back beyond
    // the raw ring, the finest level that still holds it answers, one bucket
    // going wholly to the column its first record falls into.
    std::vector<ColumnEnvelope> Envelope(int channel, AxisRange view, int columns) const;
    // Statistics of the records in [lo, hi] (whole buckets where the raw ring
    // no longer holds the span).
    SpanStats Stats(int channel, double lo, double hi) const;
    // Bytes held by the history (for memory checks).
    size_t MemoryBytes() const;

    // A field of the stream's format: six hexadecimal digits (codes) or one
    // decimal number (millivolts).
    static bool WellFormed(QStringView text, bool hex);

private:
    struct Bucket {
        double first = 0, last = 0, min = 0, max = 0, sum = 0, sumSq = 0;
        qint64 n = 0;  // well-formed records in it
        void add(double v);
        void add(const Bucket& b);
    };
    struct Level {
        qint64 width = 0;             // records per bucket
        std::vector<Bucket> ring;     // kLevelCapacity once the level is used
        qint64 done = 0;              // completed buckets since record 0
        Bucket partial;               // the bucket being filled
        qint64 partialRecords = 0;    // records (or half-buckets) in it
        qint64 oldest() const { return std::max<qint64>(0, done - qint64(ring.size())); }
        const Bucket& at(qint64 b) const { return ring[size_t(b % qint64(ring.size()))]; }
    };
    struct Channel {
        int field = 0;
        std::vector<double> raw;      // ring of kRawCapacity
        std::vector<Level> levels;
    };
    void push(Channel& c, double v);
    void complete(Channel& c, size_t level, const Bucket& b);
    // The finest level whose buckets are at most `width` records wide and
    // that reaches back to `lo`; the top level when none does.
    size_t levelFor(const Channel& c, double lo, double width) const;
    // Calls f(first record, record count, bucket) for the buckets of `level`
    // overlapping [lo, hi], the partial one included.
    template <typename F>
    void forBuckets(const Channel& c, size_t level, double lo, double hi, F f) const;
    qint64 rawOldest() const { return std::max<qint64>(0, count_ - kRawCapacity); }

    std::function<qint64()> nowMs_;
    StreamInfo info_;
    bool begun_ = false;
    bool running_ = false;
    std::vector<Channel> channels_;
    qint64 count_ = 0;
    qint64 malformed_ = 0;
    qint64 gaps_ = 0;
    std::vector<qint64> gapMarks_;
    qint64 lastArrival_ = -1;
};
