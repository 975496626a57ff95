#pragma once
// The spectrum's figures as text, the same in the window, the copied text and
// vexlo-cli: noise floor, resolution bandwidth, segment length, averages, the
// tones and the sine test.

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "analysis/NoiseDensity.h"

// "61.30 Hz -18.1 dBFS, 150.00 Hz -60.2 dBFS" or "なし". `rateKnown`: without a
// rate the frequencies are fractions of the sample rate and carry no unit.
QString ToneListText(const Spectrum& sp, bool hexCodes, bool rateKnown);

// Column titles with units, and one channel's cells ("---" where a figure is
// absent: no spectrum, or no dominant tone for the sine figures).
QStringList SpectrumHeaders(bool hexCodes);
QStringList SpectrumCells(const Spectrum& sp, bool hexCodes, bool rateKnown);

// Tab-separated: "CH" and the headers, then one row per channel.
QString SpectrumTable(const std::vector<std::pair<QString, Spectrum>>& channels, bool hexCodes, bool rateKnown);
