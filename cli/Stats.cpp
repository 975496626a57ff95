// acquire --stats: statistics of the block just measured.

#include <cstdio>

#include "cli/CliCommon.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

void PrintBlockStats(const SampleBlock& block, int channelMode, bool hex, int gainCode, int count,
                     bool toStderr)
{
    // The window's peak-to-peak line, from the same functions.
    const bool ch0 = channelMode == 0 || channelMode == 2;
    const bool ch1 = channelMode == 1 || channelMode == 2;
    const QString line = PeakToPeakText(
        channelMode, hex, gainCode,
        ch0 ? FindChannelMax(block, 0, count, hex) : 0, ch0 ? FindChannelMin(block, 0, count, hex) : 0,
        ch1 ? FindChannelMax(block, 1, count, hex) : 0, ch1 ? FindChannelMin(block, 1, count, hex) : 0);
    // TODO(analysis): once the analysis library is linked, decode each
    // measured channel into a vector (DecodeField) and print
    // NoiseStatsTable({{entry, ComputeNoiseStats(values, hex)}, ...}, hex)
    // here in place of the note below.
    if (toStderr) {
        Complain(line);
        Complain(QStringLiteral("noise statistics: not available in this build"));
    } else {
        PrintLine(line);
        Complain(QStringLiteral("noise statistics: not available in this build"));
    }
}
