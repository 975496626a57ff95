// acquire --stats: the figures of the block just measured, the same ones the
// window shows: its peak-to-peak line, then the noise analysis table, then
// the Allan deviation of each channel (tau at the nominal rate) and its minimum.

#include <cstdio>

#include "analysis/AllanDeviation.h"
#include "analysis/NoiseStats.h"
#include "board/BoardLists.h"
#include "cli/CliCommon.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

void PrintBlockStats(const SampleBlock& block, int channelMode, bool hex, int gainCode, int count,
                     bool toStderr, int rateCode)
{
    const bool ch0 = channelMode == 0 || channelMode == 2;
    const bool ch1 = channelMode == 1 || channelMode == 2;
    const QString line = PeakToPeakText(
        channelMode, hex, gainCode,
        ch0 ? FindChannelMax(block, 0, count, hex) : 0, ch0 ? FindChannelMin(block, 0, count, hex) : 0,
        ch1 ? FindChannelMax(block, 1, count, hex) : 0, ch1 ? FindChannelMin(block, 1, count, hex) : 0);

    std::vector<std::pair<QString, NoiseStats>> rows;
    const double rate = SampleRateFromText(RateListEntries(11).value(rateCode));
    const QString unit = hex ? QStringLiteral("digit") : QStringLiteral("mV");
    QStringList allanHeader{QStringLiteral("τ [s]")}, minima;
    std::vector<std::vector<AllanPoint>> allan;
    for (int ch = 0; ch < 2; ++ch) {
        if (!(ch ? ch1 : ch0))
            continue;
        const QString name = ch ? QStringLiteral("CH1") : QStringLiteral("CH0");
        const std::vector<double> values = ChannelValues(block, ch, count, hex);
        rows.emplace_back(name, ComputeNoiseStats(values, hex));
        allan.push_back(ComputeAllanDeviation(values, rate));
        allanHeader << name + QStringLiteral(" アラン偏差 [") + unit + u']';
        minima << name + u'\t' + AllanMinimumText(allan.back(), unit);
    }
    // The table ends with a line break; each of its lines is printed alone.
    QStringList lines = NoiseStatsTable(rows, hex).split(u'\n', Qt::SkipEmptyParts);
    lines << allanHeader.join(u'\t');
    for (size_t i = 0; i < allan.front().size(); ++i) {
        QStringList cells{QString::number(allan.front()[i].tau, 'g', 6)};
        for (const auto& points : allan)
            cells << QString::number(points[i].deviation, 'g', 4);
        lines << cells.join(u'\t');
    }
    lines << minima;
    // With the data on standard output the figures go to standard error.
    const auto print = toStderr ? Complain : PrintLine;
    print(line);
    for (const QString& l : lines)
        print(l);
}
