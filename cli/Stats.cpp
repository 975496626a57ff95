// acquire --stats: the figures of the block just measured, the same ones the
// window shows: its peak-to-peak line, the noise analysis table and the
// spectrum's table (floor, resolution bandwidth, averages, tones, sine test),
// then the Allan deviation of each channel (tau at the nominal rate) and its
// minimum, or all of it as one JSON object with --json. Fields that are not samples of
// the block's format are left out of the figures and counted; with --strict
// such a block ends with its own exit code.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>

#include "analysis/AllanDeviation.h"
#include "analysis/NoiseDensity.h"
#include "analysis/NoiseStats.h"
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

int PrintBlockStats(const SampleBlock& block, const CliOptions& o, int gainCode, const QString& rateText, int count)
{
    const int mode = o.channel;
    const bool hex = o.hex;
    const bool ch0 = mode == 0 || mode == 2;
    const bool ch1 = mode == 1 || mode == 2;
    const double rate = SampleRateFromText(rateText);

    std::vector<std::pair<QString, NoiseStats>> rows;
    std::vector<std::pair<QString, Spectrum>> spectra;
    std::vector<std::vector<AllanPoint>> allan;
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
        if (o.stats) {
            rows.emplace_back(name, ChannelStats(values, invalid, hex));
            spectra.emplace_back(name, ComputeSpectrum(values, rate, hex));
            allan.push_back(ComputeAllanDeviation(values, rate));
        }
    }
    const int rc = o.strict && malformed > 0 ? kExitMalformed : kExitOk;
    if (!o.stats)
        return rc;

    const QString line = PeakToPeakText(
        mode, hex, gainCode,
        ch0 ? FindChannelMax(block, 0, count, hex) : 0, ch0 ? FindChannelMin(block, 0, count, hex) : 0,
        ch1 ? FindChannelMax(block, 1, count, hex) : 0, ch1 ? FindChannelMin(block, 1, count, hex) : 0);
    // With the data on standard output the figures go to standard error.
    const auto print = o.output == u"-" ? Complain : PrintLine;
    if (o.json) {
        QJsonArray channels;
        for (size_t i = 0; i < rows.size(); ++i)
            channels.append(channelJson(rows[i].first, rows[i].second, spectra[i].second, allan[i], hex));
        const QJsonObject j{{"peakToPeak", line}, {"unit", hex ? "digit" : "mV"},
                            {"sampleRate", rate > 0 ? QJsonValue(rate) : QJsonValue()},
                            {"channels", channels}};
        print(QString::fromUtf8(QJsonDocument(j).toJson(QJsonDocument::Compact)));
        return rc;
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
    for (const auto& row : rows)
        header << row.first + QStringLiteral(" アラン偏差 [") + unit + u']';
    print(header.join(u'\t'));
    for (size_t i = 0; !allan.empty() && i < allan.front().size(); ++i) {
        QStringList cells{QString::number(allan.front()[i].tau, 'g', 6)};
        for (const auto& points : allan)
            cells << QString::number(points[i].deviation, 'g', 4);
        print(cells.join(u'\t'));
    }
    for (size_t i = 0; i < rows.size(); ++i)
        print(rows[i].first + u'\t' + AllanMinimumText(allan[i], unit));
    return rc;
}
