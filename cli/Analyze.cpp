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

#include "analysis/FileSpan.h"
#include "board/BoardLists.h"
#include "cli/CliCommon.h"
#include "cli/Stats.h"
#include "datafile/DataFileReader.h"
#include "measure/Decoding.h"

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

// A --from/--to value as a span bound.
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

    FileSpanRequest request;
    request.from = from;
    request.to = to;
    request.histogram = histogram;
    request.spectrum = spectrum || !histogram;
    const FileSpanResult result = AnalyzeFileSpan(path, request);
    if (result.outcome == FileSpanResult::BadBound) {
        Complain(result.error);
        return kExitUsage;
    }
    const DataFileHeader& h = result.header;
    const QStringList findings = result.report.Describe();
    for (const QString& f : findings)
        Complain(path + QStringLiteral(": ") + f);
    if (result.outcome != FileSpanResult::Done) {
        Complain(result.error);
        return kExitInput;
    }
    if (result.timeMissing)
        Complain(path + QStringLiteral(": rows without a time were left out of the span"));
    if (result.first < 0) {
        Complain(path + QStringLiteral(": no records in the span (the file holds %1)").arg(result.report.rows));
        return kExitInput;
    }

    const bool hex = h.content.hex;
    std::vector<NoiseStats> stats;
    for (const auto& c : result.channels)
        stats.push_back(c->Stats());

    if (histogram) {
        QByteArray out = "channel,lower,center,count\n";
        for (size_t k = 0; k < result.channels.size(); ++k) {
            if (result.channels[k]->HistogramOverflow())
                Complain(path + QStringLiteral(": %1: more than %2 distinct values, no histogram; choose a shorter span")
                                    .arg(result.ChannelName(int(k))).arg(kMaxDistinctValues));
            const QByteArray name = result.ChannelName(int(k)).toLatin1();
            for (const HistogramBin& b : result.channels[k]->ComputedHistogram().bins)
                out += name + ',' + QByteArray::number(b.lower, 'g', 12) + ',' + QByteArray::number(b.center, 'g', 12)
                       + ',' + QByteArray::number(b.count) + '\n';
        }
        WriteOut(out);
        std::fflush(stdout);
        return kExitOk;
    }
    std::vector<Spectrum> spectra;
    for (const auto& c : result.channels)
        spectra.push_back(c->ComputedSpectrum());
    if (spectrum) {
        QByteArray out = "channel,frequency_hz,density_db\n";
        for (size_t k = 0; k < spectra.size(); ++k) {
            const QByteArray name = result.ChannelName(int(k)).toLatin1();
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
        figures.push_back({result.ChannelName(int(k)), stats[k], spectra[k], result.channels[k]->ComputedAllan()});
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
        QJsonObject span{{QStringLiteral("from"), double(result.first)}, {QStringLiteral("to"), double(result.last + 1)},
                         {QStringLiteral("records"), double(result.last + 1 - result.first)},
                         {QStringLiteral("fileRecords"), double(result.report.rows)}};
        if (result.firstTime != kNoTime)
            span[QStringLiteral("fromTime")] = LocalTimeText(result.firstTime);
        if (result.lastTime != kNoTime)
            span[QStringLiteral("lastTime")] = LocalTimeText(result.lastTime);
        j[QStringLiteral("span")] = span;
        j[QStringLiteral("findings")] = QJsonArray::fromStringList(findings);
        PrintFigures(ppLine, figures, hex, rate, true, PrintLine, j);
        std::fflush(stdout);
        return kExitOk;
    }

    PrintFigures(ppLine, figures, hex, rate, false, PrintLine);
    QString span = QStringLiteral("span: records %1 to %2 (%3 of %4)")
                       .arg(result.first)
                       .arg(result.last)
                       .arg(result.last + 1 - result.first)
                       .arg(result.report.rows);
    if (result.firstTime != kNoTime && result.lastTime != kNoTime)
        span += QStringLiteral(", ") + LocalTimeText(result.firstTime) + QStringLiteral(" to ") + LocalTimeText(result.lastTime);
    PrintLine(span);
    std::fflush(stdout);
    return kExitOk;
}
