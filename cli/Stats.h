#pragma once
// The figures acquire --stats and analyze print (Stats.cpp): the window's
// peak-to-peak line, the noise analysis table, the spectrum's table and the
// Allan deviation with its minima, or all of it as one JSON object.

#include <QJsonObject>
#include <QString>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/NoiseDensity.h"
#include "analysis/NoiseStats.h"

class SampleBlock;
struct CliOptions;

struct ChannelFigures {
    QString name;  // "CH0", "CH1"
    NoiseStats stats;
    Spectrum spectrum;
    std::vector<AllanPoint> allan;
};

// Prints the figures line by line through `print` (PrintLine or Complain);
// with `json` one object instead: `extra`'s members, then peakToPeak, unit,
// sampleRate (null when `rate` is unknown) and the channels.
void PrintFigures(const QString& peakToPeakLine, const std::vector<ChannelFigures>& channels, bool hex, double rate,
                  bool json, void (*print)(const QString&), const QJsonObject& extra = {});

// acquire's figures of the block just measured; returns kExitMalformed for a
// --strict block with malformed fields, else kExitOk.
int PrintBlockStats(const SampleBlock& block, const CliOptions& o, int gainCode, const QString& rateText, int count);
