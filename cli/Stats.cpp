// acquire --stats: the figures of the block just measured, the same ones the
// window shows: its peak-to-peak line, then the noise analysis table.

#include <cstdio>

#include "analysis/NoiseStats.h"
#include "cli/CliCommon.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

void PrintBlockStats(const SampleBlock& block, int channelMode, bool hex, int gainCode, int count,
                     bool toStderr)
{
    const bool ch0 = channelMode == 0 || channelMode == 2;
    const bool ch1 = channelMode == 1 || channelMode == 2;
    const QString line = PeakToPeakText(
        channelMode, hex, gainCode,
        ch0 ? FindChannelMax(block, 0, count, hex) : 0, ch0 ? FindChannelMin(block, 0, count, hex) : 0,
        ch1 ? FindChannelMax(block, 1, count, hex) : 0, ch1 ? FindChannelMin(block, 1, count, hex) : 0);

    std::vector<std::pair<QString, NoiseStats>> rows;
    if (ch0)
        rows.emplace_back(QStringLiteral("CH0"), ComputeNoiseStats(ChannelValues(block, 0, count, hex), hex));
    if (ch1)
        rows.emplace_back(QStringLiteral("CH1"), ComputeNoiseStats(ChannelValues(block, 1, count, hex), hex));
    // The table ends with a line break; each of its lines is printed alone.
    const QStringList lines = NoiseStatsTable(rows, hex).split(u'\n', Qt::SkipEmptyParts);
    // With the data on standard output the figures go to standard error.
    const auto print = toStderr ? Complain : PrintLine;
    print(line);
    for (const QString& l : lines)
        print(l);
}
