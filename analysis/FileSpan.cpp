#include "analysis/FileSpan.h"

#include "measure/Decoding.h"
#include "measure/SampleBlock.h"
#include "stream/RecordSink.h"

namespace {

// Takes the rows of the span into one SpanAnalysis per channel.
class SpanSink : public RecordSink {
public:
    SpanSink(const DataFileReader& reader, const FileSpanRequest& request, FileSpanResult& result)
        : reader_(reader), request_(request), result_(result) {}

    bool Begin(const StreamInfo&) override
    {
        const DataFileHeader& h = reader_.Header();
        for (int k = 0; k < h.channels; ++k)
            result_.channels.push_back(std::make_unique<SpanAnalysis>(
                h.content.hex, h.samplesPerSecond, request_.histogram, request_.spectrum));
        return true;
    }
    bool Append(const SampleBlock& rows, int count, qint64 firstIndex) override
    {
        if (request_.cancel && request_.cancel->load(std::memory_order_relaxed)) {
            cancelled = true;
            return false;
        }
        const DataFileHeader& h = reader_.Header();
        const std::vector<qint64>& times = reader_.BlockTimes();
        for (int i = 0; i < count; ++i) {
            const qint64 index = firstIndex + i;
            const qint64 clock = times.empty() ? kNoTime : times[size_t(i)];
            if (index == 0)
                firstClock_ = clock;
            if (!inside(index, clock))
                continue;
            if (result_.first < 0) {
                result_.first = index;
                result_.firstTime = clock;
            }
            result_.last = index;
            result_.lastTime = clock;
            for (int k = 0; k < h.channels; ++k) {
                const int channel = h.channels == 2 ? k : h.content.channelMode;
                result_.channels[size_t(k)]->Add(DecodeField(rows, i, channel, h.content.hex));
            }
        }
        if (request_.progress)
            request_.progress(firstIndex + count);
        // An index-bounded span is complete once its last record has passed.
        if (request_.stopAfterSpan && request_.to && request_.to->kind == SpanBound::Index
            && firstIndex + count >= request_.to->value) {
            complete = true;
            return false;
        }
        return true;
    }
    bool Finish(qint64) override { return true; }
    QString Error() const override { return {}; }

    bool cancelled = false;
    bool complete = false;

private:
    // The row's position on the bound's scale: its index, its offset from
    // record 0 (time column, else index / rate), or its clock time.
    std::optional<qint64> at(const SpanBound& b, qint64 index, qint64 clock)
    {
        switch (b.kind) {
        case SpanBound::Index:
            return index;
        case SpanBound::Offset:
            if (reader_.Header().timeColumn) {
                if (clock == kNoTime || firstClock_ == kNoTime)
                    break;
                return clock - firstClock_;
            }
            return qint64(double(index) * 1000.0 / reader_.Header().samplesPerSecond);
        case SpanBound::Clock:
            if (clock == kNoTime)
                break;
            return clock;
        }
        result_.timeMissing = true;
        return std::nullopt;
    }
    bool inside(qint64 index, qint64 clock)
    {
        if (request_.from) {
            const auto v = at(*request_.from, index, clock);
            if (!v || *v < request_.from->value)
                return false;
        }
        if (request_.to) {
            const auto v = at(*request_.to, index, clock);
            if (!v || *v >= request_.to->value)
                return false;
        }
        return true;
    }

    const DataFileReader& reader_;
    const FileSpanRequest& request_;
    FileSpanResult& result_;
    qint64 firstClock_ = kNoTime;
};

} // namespace

QString FileSpanResult::ChannelName(int k) const
{
    const int channel = header.channels == 2 ? k : header.content.channelMode;
    return channel == 1 ? QStringLiteral("CH1") : QStringLiteral("CH0");
}

FileSpanResult AnalyzeFileSpan(const QString& path, const FileSpanRequest& request)
{
    FileSpanResult result;
    DataFileReader reader;
    if (!reader.Open(path)) {
        result.outcome = FileSpanResult::Unreadable;
        result.error = reader.Error();
        return result;
    }
    result.header = reader.Header();
    const DataFileHeader& h = result.header;
    for (const auto& b : {request.from, request.to}) {
        if (b && b->kind == SpanBound::Clock && !h.timeColumn) {
            result.outcome = FileSpanResult::BadBound;
            result.error = path + QStringLiteral(": no time column; give --from/--to as record indexes or offsets (90s)");
            return result;
        }
        if (b && b->kind == SpanBound::Offset && !h.timeColumn && h.samplesPerSecond <= 0) {
            result.outcome = FileSpanResult::BadBound;
            result.error = path + QStringLiteral(": neither a time column nor a data rate; give --from/--to as record indexes");
            return result;
        }
    }
    SpanSink sink(reader, request, result);
    const bool read = reader.ReadRows(sink);
    result.report = reader.Report();
    if (sink.cancelled) {
        result.outcome = FileSpanResult::Cancelled;
    } else if (!read && !sink.complete) {
        result.outcome = FileSpanResult::Unreadable;
        result.error = path + QStringLiteral(": ") + reader.Error();
    }
    return result;
}
