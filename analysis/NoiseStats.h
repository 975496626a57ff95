#pragma once
// Noise figures of one channel of a sample block, as data sheets state them:
// mean, extremes, peak-to-peak, RMS noise (standard deviation with n - 1) and,
// for converter codes, effective and noise-free resolution in bits.
// Pure functions over decoded values; no widgets, no window.

#include <QString>
#include <utility>
#include <vector>

class SampleBlock;

struct NoiseStats {
    int count = 0;
    double mean = 0, minimum = 0, maximum = 0, peakToPeak = 0, rms = 0; // in the block's unit
    bool hasResolution = false;             // true for hexadecimal (code) blocks
    double effectiveBits = 0, noiseFreeBits = 0;
    int invalid = 0;                        // fields left out: malformed or out of range
};

// Bits of the converter: resolution figures never exceed it, and a block
// without noise shows exactly this many bits.
constexpr double kConverterBits = 24.0;

// Figures of `values`. `hexCodes`: the values are converter codes (adds the
// resolution figures). Fewer than two values give an RMS of 0; none give all
// zeros. Never returns NaN or infinity for finite input.
NoiseStats ComputeNoiseStats(const std::vector<double>& values, bool hexCodes);

// log2(2^24 / spread) clamped to 0 .. 24; a spread of 0 (or less) gives 24.
double ResolutionBits(double spreadInCodes);

// Tab-separated table (header row + one row per channel), for the clipboard and the CLI.
QString NoiseStatsTable(const std::vector<std::pair<QString, NoiseStats>>& channels, bool hexCodes);

// Column titles of the table, without units ("データ個数", "平均", ...), and
// the cells of one channel's row as the table and the window show them.
QStringList NoiseStatsHeaders(bool hexCodes);
QStringList NoiseStatsCells(const NoiseStats& stats, bool hexCodes);

// Fixed decimals in the "C" locale; a value that rounds to zero prints
// without a minus sign, and anything not finite prints as "---".
QString FixedFigure(double v, int decimals);

// Decimals used for millivolt figures of a block: enough for three significant
// digits of its RMS noise, at least 3 and at most 6.
int MillivoltFigureDecimals(double rms);

// A millivolt figure with its unit, `decimals` counted in millivolts: below
// 1 mV in µV and below 1 µV in nV ("0.0300 mV" reads "30.0 µV"), with the
// decimals that keep the same resolution; "---" when not finite. The
// millivolt table's cells carry their unit, so its titles do not.
QString MillivoltFigure(double v, int decimals);

// The data rate in samples per second of a rate text: "1200sps" -> 1200,
// "5sps" -> 5. Text without a leading number, or zero, gives 0 (unknown).
double SampleRateFromText(const QString& rateText);

// Largest magnitude of a millivolt sample: the board's 9-character field
// holds at most 9999.999 in fixed notation.
constexpr double kMaxMillivolts = 10000.0;

// True when `text` is a sample field the board can send in the format: six
// hexadecimal digits, or a decimal number (sign, digits, point, optional
// exponent, blanks around it) of magnitude below kMaxMillivolts.
bool WellFormedSample(QStringView text, bool hex);

// The decoded values of one channel (0 = Ch0, 1 = Ch1) of entries 0..count-1
// of a block (count clamped to the block), through the window's decoding.
// Fields that are not WellFormedSample are left out and counted in `invalid`.
std::vector<double> ChannelValues(const SampleBlock& block, int channel, int count, bool hex,
                                  int* invalid = nullptr);

// Figures of one channel of a block: its well-formed values' statistics with
// the number of fields left out.
NoiseStats ChannelStats(const std::vector<double>& values, int invalid, bool hexCodes);
