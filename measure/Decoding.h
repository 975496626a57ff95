#pragma once
// Sample texts to numbers, extremes of a block and the peak-to-peak text.
// Free functions so that tests can call them without a window.
//
// `hex` is the data format the block was measured with: true for converter
// codes (six hexadecimal digits), false for millivolts (decimal text).

#include <QLatin1StringView>
#include <QString>
#include <QStringView>

class SampleBlock;

// Value of one sample text: unsigned hexadecimal (ReadHexNumber) or decimal
// (ReadNumber). Well-formed fields take a short path that gives the same
// result without building a copy of the text.
double DecodeSample(QStringView text, bool hex);
double DecodeSample(QLatin1StringView text, bool hex);
// The short path alone: true, with the value DecodeSample gives, when the
// text is plain -- hexadecimal digits only (up to 13), or [sign] digits
// [. digits] with 1 to 15 digits; false for any other text, which then needs
// DecodeSample. For loops that also need to know the text was plain.
bool DecodePlainSample(QLatin1StringView text, bool hex, double* out);
// Field `channel` (0 = Ch0, 1 = Ch1) of entry i of the block.
double DecodeField(const SampleBlock& block, int i, int channel, bool hex);

// Start values of the searches: largest 0 / -5000000, smallest 16777216 / 5000000.
double SearchMaxStart(bool hex);
double SearchMinStart(bool hex);

// Largest / smallest decoded value of one channel over entries 0..count-1,
// starting from the start values; a value replaces the running one only when
// strictly greater / smaller.
double FindChannelMax(const SampleBlock& block, int channel, int count, bool hex);
double FindChannelMin(const SampleBlock& block, int channel, int count, bool hex);

// The extremes over the channels of a channel mode (0: Ch0, 1: Ch1,
// 2: Ch0 then Ch1 into the same running value; any other mode: none).
double FindModeMax(const SampleBlock& block, int channelMode, int count, bool hex);
double FindModeMin(const SampleBlock& block, int channelMode, int count, bool hex);

// Decimals of the millivolt pattern chosen by the gain code: 0 -> 3
// ("0.000"), above 2 -> 5 ("0.00000"), any other value -> 4 ("0.0000").
int MillivoltDecimals(int gainIndex);
// A value in the millivolt pattern of the gain code.
QString MillivoltText(double value, int gainIndex);
// A whole number as plain digits with a minus sign when negative.
QString IntegerText(double value);

// "[digit pp] CH0=37", "[mV pp] CH0=0.012, CH1=0.016", ... by channel mode.
QString PeakToPeakText(int channelMode, bool hex, int gainIndex, double ch0Max, double ch0Min,
                       double ch1Max, double ch1Min);
