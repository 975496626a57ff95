// vexlo-cli analyze FILE: the figures of `acquire --stats` for a data file
// read back, whole or a span of it, without a board or a display. The file
// is read in one pass (datafile/DataFileReader) and every value goes to the
// streaming analysis (analysis/SpanAnalysis), so a night's log takes no more
// memory than one block.

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cstdio>
#include <memory>
#include <optional>

#include "analysis/SpanAnalysis.h"
#include "board/BoardLists.h"
#include "cli/CliCommon.h"
#include "cli/Stats.h"
#include "datafile/DataFileReader.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"
#include "stream/RecordSink.h"

namespace {

const char kAnalyzeUsage[] =
    "Usage: vexlo-cli analyze FILE [--from X] [--to X] [--json | --histogram | --spectrum]\n"
    "Read a data file (saved by the window, acquire or log, of any length) and print\n"
    "the figures acquire --stats prints: the peak-to-peak line, the noise table, the\n"
    "spectrum's table and the Allan deviation with its minima, then the span read.\n"
    "No board is used.\n\n"
    "  --from X, --to X   analyse records X up to (not including) the --to one. X is a\n"
    "                     record index (0 is the first row), an offset from the first\n"
    "                     record (90s, 2m, 1h30m, 250ms: by the time column, else by\n"
    "                     the data rate) or, in a file with a time column, a local\n"
    "                     time 2026-01-31T08:15:00[.125]\n"
    "  --json             the figures, the header, the span and the findings as one\n"
    "                     JSON object\n"
    "  --histogram        the code histogram as CSV: channel,lower,center,count\n"
    "  --spectrum         the noise spectrum as CSV: channel,frequency_hz,density_db\n"
    "                     (dBFS/rtHz for codes, dB re 1 mV/rtHz for millivolts)\n"
    "  -h, --help         show this help and exit\n\n"
    "Rows the file cannot hold as samples (blank, malformed, a torn last row) and a\n"
    "count line that disagrees are reported on standard error, with the first line\n"
    "where each was met; the figures are those of the rows that could be read.\n\n"
    "Exit status: 0 figures printed, 2 usage error, 9 the file cannot be read, is\n"
    "not a data file or holds no records in the span.\n";

// A --from/--to value: a record index, an offset in milliseconds from the
// first record, or a local time (LocalTimeFromText's clock).
struct SpanBound {
    enum Kind { Index, Offset, Clock } kind = Index;
    qint64 value = 0;
};

std::optional<SpanBound> boundOf(const QString& text)
{
    static const QRegularExpression index(QStringLiteral("^\\d{1,18}$"));
    if (index.match(text).hasMatch())
        return SpanBound{SpanBound::Index, text.toLongLong()};
    if (const auto ms = DurationMs(text))
        return SpanBound{SpanBound::Offset, *ms};
    const qint64 t = LocalTimeFromText(text.toLatin1());
    if (t != kNoTime)
        return SpanBound{SpanBound::Clock, t};
    return std::nullopt;
}

// Takes the rows of the span into one SpanAnalysis per channel.
class AnalyzeSink : public RecordSink {
public:
    AnalyzeSink(const DataFileReader& reader, std::optional<SpanBound> from, std::optional<SpanBound> to,
                bool histogram, bool spectrum)
        : reader_(reader), from_(from), to_(to), histogram_(histogram), spectrum_(spectrum) {}

    bool Begin(const StreamInfo&) override
    {
        const DataFileHeader& h = reader_.Header();
        for (int k = 0; k < h.channels; ++k)
            channels.push_back(std::make_unique<SpanAnalysis>(h.content.hex, h.samplesPerSecond, histogram_, spectrum_));
        return true;
    }
    bool Append(const SampleBlock& rows, int count, qint64 firstIndex) override
    {
        const DataFileHeader& h = reader_.Header();
        const std::vector<qint64>& times = reader_.BlockTimes();
        for (int i = 0; i < count; ++i) {
            const qint64 index = firstIndex + i;
            const qint64 clock = times.empty() ? kNoTime : times[size_t(i)];
            if (index == 0)
                firstClock_ = clock;
            if (!inside(index, clock))
                continue;
            if (first < 0) {
                first = index;
                firstTime = clock;
            }
            last = index;
            lastTime = clock;
            for (int k = 0; k < h.channels; ++k) {
                const int channel = h.channels == 2 ? k : h.content.channelMode;
                channels[size_t(k)]->Add(DecodeField(rows, i, channel, h.content.hex));
            }
        }
        return true;
    }
    bool Finish(qint64) override { return true; }
    QString Error() const override { return {}; }

    std::vector<std::unique_ptr<SpanAnalysis>> channels;
    qint64 first = -1, last = -1;
    qint64 firstTime = kNoTime, lastTime = kNoTime;
    bool timeMissing = false; // a time bound met a row without a time

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
        timeMissing = true;
        return std::nullopt;
    }
    bool inside(qint64 index, qint64 clock)
    {
        if (from_) {
            const auto v = at(*from_, index, clock);
            if (!v || *v < from_->value)
                return false;
        }
        if (to_) {
            const auto v = at(*to_, index, clock);
            if (!v || *v >= to_->value)
                return false;
        }
        return true;
    }

    const DataFileReader& reader_;
    std::optional<SpanBound> from_, to_;
    bool histogram_, spectrum_;
    qint64 firstClock_ = kNoTime;
};

QString channelName(const DataFileHeader& h, int k)
{
    const int channel = h.channels == 2 ? k : h.content.channelMode;
    return channel == 1 ? QStringLiteral("CH1") : QStringLiteral("CH0");
}

} // namespace

int RunAnalyze(const QStringList& args)
{
    QString path;
    std::optional<SpanBound> from, to;
    bool json = false, histogram = false, spectrum = false;
    auto usage = [](const QString& text) {
        Complain(text);
        Complain(QStringLiteral("Try 'vexlo-cli analyze --help'."));
        return int(kExitUsage);
    };
    // args[0] is the program, args[1] "analyze".
    for (int i = 2; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        const bool inlineValue = arg.startsWith(QStringLiteral("--")) && arg.contains(u'=');
        if (inlineValue) {
            value = arg.mid(arg.indexOf(u'=') + 1);
            arg = arg.left(arg.indexOf(u'='));
        }
        if (arg == u"-h" || arg == u"--help") {
            WriteOut(kAnalyzeUsage);
            std::fflush(stdout);
            return kExitOk;
        } else if (arg == u"--json") {
            json = true;
        } else if (arg == u"--histogram") {
            histogram = true;
        } else if (arg == u"--spectrum") {
            spectrum = true;
        } else if (arg == u"--from" || arg == u"--to") {
            if (!inlineValue && i + 1 < args.size())
                value = args[++i];
            const auto b = boundOf(value.trimmed());
            if (!b)
                return usage(arg + QStringLiteral(": a record index, an offset (90s) or a local time (2026-01-31T08:15:00)"));
            (arg == u"--from" ? from : to) = b;
        } else if (arg.startsWith(u'-') && arg != u"-") {
            return usage(QStringLiteral("unknown option: ") + arg);
        } else if (path.isEmpty()) {
            path = arg;
        } else {
            return usage(QStringLiteral("unexpected argument: ") + arg);
        }
    }
    if (path.isEmpty())
        return usage(QStringLiteral("analyze: a data file is missing"));
    if (int(json) + int(histogram) + int(spectrum) > 1)
        return usage(QStringLiteral("analyze: one of --json, --histogram and --spectrum"));

    DataFileReader reader;
    if (!reader.Open(path)) {
        Complain(reader.Error());
        return kExitInput;
    }
    const DataFileHeader& h = reader.Header();
    for (const auto& b : {from, to}) {
        if (b && b->kind == SpanBound::Clock && !h.timeColumn) {
            Complain(path + QStringLiteral(": no time column; give --from/--to as record indexes or offsets (90s)"));
            return kExitUsage;
        }
        if (b && b->kind == SpanBound::Offset && !h.timeColumn && h.samplesPerSecond <= 0) {
            Complain(path + QStringLiteral(": neither a time column nor a data rate; give --from/--to as record indexes"));
            return kExitUsage;
        }
    }
    AnalyzeSink sink(reader, from, to, histogram, spectrum || !histogram);
    const bool read = reader.ReadRows(sink);
    const QStringList findings = reader.Report().Describe();
    for (const QString& f : findings)
        Complain(path + QStringLiteral(": ") + f);
    if (!read) {
        Complain(path + QStringLiteral(": ") + reader.Error());
        return kExitInput;
    }
    if (sink.timeMissing)
        Complain(path + QStringLiteral(": rows without a time were left out of the span"));
    if (sink.first < 0) {
        Complain(path + QStringLiteral(": no records in the span (the file holds %1)").arg(reader.Report().rows));
        return kExitInput;
    }

    const bool hex = h.content.hex;
    std::vector<NoiseStats> stats;
    for (const auto& c : sink.channels)
        stats.push_back(c->Stats());

    if (histogram) {
        QByteArray out = "channel,lower,center,count\n";
        for (size_t k = 0; k < sink.channels.size(); ++k) {
            if (sink.channels[k]->HistogramOverflow())
                Complain(path + QStringLiteral(": %1: more than %2 distinct values, no histogram; choose a shorter span")
                                    .arg(channelName(h, int(k))).arg(kMaxDistinctValues));
            const QByteArray name = channelName(h, int(k)).toLatin1();
            for (const HistogramBin& b : sink.channels[k]->ComputedHistogram().bins)
                out += name + ',' + QByteArray::number(b.lower, 'g', 12) + ',' + QByteArray::number(b.center, 'g', 12)
                       + ',' + QByteArray::number(b.count) + '\n';
        }
        WriteOut(out);
        std::fflush(stdout);
        return kExitOk;
    }
    std::vector<Spectrum> spectra;
    for (const auto& c : sink.channels)
        spectra.push_back(c->ComputedSpectrum());
    if (spectrum) {
        QByteArray out = "channel,frequency_hz,density_db\n";
        for (size_t k = 0; k < spectra.size(); ++k) {
            const QByteArray name = channelName(h, int(k)).toLatin1();
            for (size_t b = 0; b < spectra[k].density.size(); ++b)
                out += name + ',' + QByteArray::number(spectra[k].frequency[b], 'g', 12) + ','
                       + QByteArray::number(spectra[k].density[b], 'f', 3) + '\n';
        }
        WriteOut(out);
        std::fflush(stdout);
        return kExitOk;
    }

    // The peak-to-peak line as the window shows it after a block.
    const int gainCode = qMax(0, int(GainListEntries().indexOf(h.content.gainEntry)));
    double ext[4] = {SearchMaxStart(hex), SearchMinStart(hex), SearchMaxStart(hex), SearchMinStart(hex)};
    std::vector<ChannelFigures> figures;
    for (size_t k = 0; k < stats.size(); ++k) {
        const int slot = (h.channels == 2 ? int(k) : h.content.channelMode) * 2;
        ext[slot] = stats[k].maximum;
        ext[slot + 1] = stats[k].minimum;
        figures.push_back({channelName(h, int(k)), stats[k], spectra[k], sink.channels[k]->ComputedAllan()});
    }
    const QString ppLine = PeakToPeakText(h.content.channelMode, hex, gainCode, ext[0], ext[1], ext[2], ext[3]);
    const double rate = h.samplesPerSecond;

    if (json) {
        QJsonObject j;
        j[QStringLiteral("file")] = path;
        j[QStringLiteral("header")] = QJsonObject{
            {QStringLiteral("title"), h.content.title}, {QStringLiteral("date"), h.content.dateTime},
            {QStringLiteral("gain"), h.content.gainEntry}, {QStringLiteral("filter"), h.content.filterCaption},
            {QStringLiteral("rate"), h.content.rateEntry}, {QStringLiteral("channel"), h.content.channelEntry},
            {QStringLiteral("count"), double(h.declaredCount)},
            {QStringLiteral("timeColumn"), h.timeColumn}};
        QJsonObject span{{QStringLiteral("from"), double(sink.first)}, {QStringLiteral("to"), double(sink.last + 1)},
                         {QStringLiteral("records"), double(sink.last + 1 - sink.first)},
                         {QStringLiteral("fileRecords"), double(reader.Report().rows)}};
        if (sink.firstTime != kNoTime)
            span[QStringLiteral("fromTime")] = LocalTimeText(sink.firstTime);
        if (sink.lastTime != kNoTime)
            span[QStringLiteral("lastTime")] = LocalTimeText(sink.lastTime);
        j[QStringLiteral("span")] = span;
        j[QStringLiteral("findings")] = QJsonArray::fromStringList(findings);
        PrintFigures(ppLine, figures, hex, rate, true, PrintLine, j);
        std::fflush(stdout);
        return kExitOk;
    }

    PrintFigures(ppLine, figures, hex, rate, false, PrintLine);
    QString span = QStringLiteral("span: records %1 to %2 (%3 of %4)")
                       .arg(sink.first)
                       .arg(sink.last)
                       .arg(sink.last + 1 - sink.first)
                       .arg(reader.Report().rows);
    if (sink.firstTime != kNoTime && sink.lastTime != kNoTime)
        span += QStringLiteral(", ") + LocalTimeText(sink.firstTime) + QStringLiteral(" to ") + LocalTimeText(sink.lastTime);
    PrintLine(span);
    std::fflush(stdout);
    return kExitOk;
}
