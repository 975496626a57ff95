// acquire --stats: the figures of the block just measured, the same ones the
// window shows: its peak-to-peak line, the noise analysis table and the
// spectrum's table (floor, resolution bandwidth, averages, tones, sine test),
// then the Allan deviation of each channel (tau at the nominal rate) and its
// minimum, or all of it as one JSON object with --json. Fields that are not samples of
// the block's format are left out of the figures and counted; with --strict
// such a block ends with its own exit code. analyze prints a data file's
// figures through the same PrintFigures.
#include "cli/Stats.h"


#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>

#include "analysis/NoiseDensityText.h"
#include "cli/CliCommon.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

namespace {

// JSON has no NaN or infinity: such a figure becomes null.
QJsonValue figure(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(); }

QJsonObject channelJson(const QString& name, const NoiseStats& st, const Spectrum& sp,
                        const std::vector<AllanPoint>& allan, bool hex)
{
    QJsonObject c{{"name", name},       {"count", st.count},     {"invalid", st.invalid},
                  {"mean", figure(st.mean)}, {"min", figure(st.minimum)}, {"max", figure(st.maximum)},
                  {"peakToPeak", figure(st.peakToPeak)}, {"rms", figure(st.rms)}};
    if (hex) {
        c["effectiveBits"] = figure(st.effectiveBits);
        c["noiseFreeBits"] = figure(st.noiseFreeBits);
    }
    if (!sp.density.empty()) {
        QJsonArray tones;
        for (const SpectrumPeak& p : sp.peaks)
            tones.append(QJsonObject{{"frequency", figure(p.frequency)}, {"level", figure(p.level)}});
        QJsonObject s{{"floor", figure(sp.floor)},
                      {"resolutionBandwidth", figure(sp.resolutionBandwidth)},
                      {"segmentLength", sp.segmentLength},
                      {"averages", sp.segments},
                      {"tones", tones}};
        if (sp.sine.present)
            s["sine"] = QJsonObject{{"frequency", figure(sp.sine.frequency)}, {"level", figure(sp.sine.level)},
                                    {"snr", figure(sp.sine.snr)},             {"thd", figure(sp.sine.thd)},
                                    {"sinad", figure(sp.sine.sinad)},         {"sfdr", figure(sp.sine.sfdr)},
                                    {"enob", figure(sp.sine.enob)}};
        c["spectrum"] = s;
    }
    QJsonArray points;
    for (const AllanPoint& p : allan)
        points.append(QJsonObject{{"tau", figure(p.tau)}, {"deviation", figure(p.deviation)}});
    c["allan"] = points;
    return c;
}

} // namespace

void PrintFigures(const QString& line, const std::vector<ChannelFigures>& figures, bool hex, double rate, bool json,
                  void (*print)(const QString&), const QJsonObject& extra)
{
    if (json) {
        QJsonArray channels;
        for (const ChannelFigures& c : figures)
            channels.append(channelJson(c.name, c.stats, c.spectrum, c.allan, hex));
        QJsonObject j = extra;
        j["peakToPeak"] = line;
        j["unit"] = hex ? "digit" : "mV";
        j["sampleRate"] = rate > 0 ? QJsonValue(rate) : QJsonValue();
        j["channels"] = channels;
        print(QString::fromUtf8(QJsonDocument(j).toJson(QJsonDocument::Compact)));
        return;
    }
    std::vector<std::pair<QString, NoiseStats>> rows;
    std::vector<std::pair<QString, Spectrum>> spectra;
    for (const ChannelFigures& c : figures) {
        rows.emplace_back(c.name, c.stats);
        spectra.emplace_back(c.name, c.spectrum);
    }
    print(line);
    // Each table ends with a line break; each of its lines is printed alone.
    for (const QString& l : NoiseStatsTable(rows, hex).split(u'\n', Qt::SkipEmptyParts))
        print(l);
    for (const QString& l : SpectrumTable(spectra, hex, rate > 0).split(u'\n', Qt::SkipEmptyParts))
        print(l);
    // The Allan deviation: a τ column, one column per channel, then each
    // channel's minimum and its τ.
    const QString unit = hex ? QStringLiteral("digit") : QStringLiteral("mV");
    QStringList header{QStringLiteral("τ [s]")};
    for (const ChannelFigures& c : figures)
        header << c.name + QStringLiteral(" アラン偏差 [") + unit + u']';
    print(header.join(u'\t'));
    for (size_t i = 0; !figures.empty() && i < figures.front().allan.size(); ++i) {
        QStringList cells{QString::number(figures.front().allan[i].tau, 'g', 6)};
        for (const ChannelFigures& c : figures)
            cells << (i < c.allan.size() ? QString::number(c.allan[i].deviation, 'g', 4) : QStringLiteral("---"));
        print(cells.join(u'\t'));
    }
    for (const ChannelFigures& c : figures)
        print(c.name + u'\t' + AllanMinimumText(c.allan, unit));
}

int PrintBlockStats(const SampleBlock& block, const CliOptions& o, int gainCode, const QString& rateText, int count)
{
    const int mode = o.channel;
    const bool hex = o.hex;
    const bool ch0 = mode == 0 || mode == 2;
    const bool ch1 = mode == 1 || mode == 2;
    const double rate = SampleRateFromText(rateText);

    std::vector<ChannelFigures> figures;
    int malformed = 0;
    for (int ch = 0; ch < 2; ++ch) {
        if (!(ch == 0 ? ch0 : ch1))
            continue;
        const QString name = ch == 0 ? QStringLiteral("CH0") : QStringLiteral("CH1");
        int invalid = 0;
        const std::vector<double> values = ChannelValues(block, ch, count, hex, &invalid);
        malformed += invalid;
        if (invalid > 0)
            Complain(name + QStringLiteral(": 不正値 ") + QString::number(invalid)
                     + QStringLiteral(" (the figures leave these fields out)"));
        if (o.stats)
            figures.push_back({name, ChannelStats(values, invalid, hex), ComputeSpectrum(values, rate, hex),
                               ComputeAllanDeviation(values, rate)});
    }
    const int rc = o.strict && malformed > 0 ? kExitMalformed : kExitOk;
    if (!o.stats)
        return rc;

    const QString line = PeakToPeakText(
        mode, hex, gainCode,
        ch0 ? FindChannelMax(block, 0, count, hex) : 0, ch0 ? FindChannelMin(block, 0, count, hex) : 0,
        ch1 ? FindChannelMax(block, 1, count, hex) : 0, ch1 ? FindChannelMin(block, 1, count, hex) : 0);
    // With the data on standard output the figures go to standard error.
    PrintFigures(line, figures, hex, rate, o.json, o.output == u"-" ? Complain : PrintLine);
    return rc;
}
