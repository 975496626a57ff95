#pragma once
// The waveform graph as numbers: the vertical scale and its three labels, and
// every line segment in twips, computed without a window so that tests can
// check the geometry and the window only has to draw it.

#include <QString>
#include <vector>

#include "measure/PictureBox.h"  // RecordedLine

class SampleBlock;

// 24-bit line colour of a channel number (1 = CH0 blue FF0000,
// 2 = CH1 red 0000FF, anything else black 0).
quint32 GraphChannelColor(int channel);

struct GraphScale {
    double top = 0, mid = 0, bottom = 0;
    QString topText, midText, bottomText;  // Label3, Label4, Label5
};

// The scale of a block whose values run from bottom0 to top0.
// Codes: mid = (top0 + bottom0) / 2 rounded half away from zero; top = top0 +
// range / 4 (rounded the same way) when the range is above 6, else top0 + 2;
// bottom mirrors top about mid; labels are plain integers.
// Millivolts: top and bottom lie half the range beyond the extremes; labels
// in the gain's millivolt pattern.
GraphScale ComputeGraphScale(double top0, double bottom0, bool hex, int gainIndex);

// Vertical position of a value: H - (v - bottom) * H / (top - bottom),
// rounded to the nearest 32-bit integer with halves to the even neighbour.
// False when it cannot be computed (top equal to bottom, or not a finite
// 32-bit number).
bool GraphY(double v, double top, double bottom, int height, int* y);

// Horizontal position of sample i: the integer part of xstep * i + 0.5 in
// single precision, xstep = width / (count - 1) also single precision.
float GraphXStep(int width, int sampleCount);
int GraphX(float xstep, int i);

struct GraphPlan {
    GraphScale scale;
    std::vector<RecordedLine> lines;
    // False when the drawing stopped early (a position that cannot be
    // computed); `lines` then holds the segments up to that point.
    bool complete = true;
};

// The whole graph of entries 0..sampleCount-1: channel mode 0 draws Ch0 in
// colour 1, mode 1 Ch1 in colour 2, mode 2 first Ch0 then Ch1; one segment
// per pair of neighbouring samples, against the common scale of the drawn
// channels. A millivolt block whose values are all equal (top equal to
// bottom) is drawn as a flat line at half height.
GraphPlan ComputeGraph(const SampleBlock& block, int sampleCount, int channelMode, bool hex,
                       int gainIndex, int width, int height);
