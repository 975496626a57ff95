#pragma once
// The arithmetic of the zoomable graph view, without a window: ranges on one
// axis, zooming around a point, panning inside the block, the sample under a
// pixel and the min/max envelope of the visible samples per pixel column.
//
// Horizontal ranges are in sample indices (0 .. count-1, fractional), the
// vertical ones in sample values; pixels count from the left / top edge.

#include <vector>

// One wheel notch (or one + / - key) zooms by this factor, in the graph and
// in the live view alike.
constexpr double kZoomStep = 1.25;
// Arrow keys move the picture by this part of its width or height.
constexpr double kKeyPanPart = 0.1;

struct AxisRange {
    double lo = 0, hi = 0;
    double span() const { return hi - lo; }
    bool operator==(const AxisRange& o) const { return lo == o.lo && hi == o.hi; }
    bool operator!=(const AxisRange& o) const { return !(*this == o); }
};

// Narrows (factor > 1) or widens (factor < 1) `view` so that the value at
// `anchor` (0 = lo edge, 1 = hi edge of the view) stays where it is. The span
// stays between minSpan (or the full span, if smaller) and the full span, the
// view inside `full`; a view as wide as `full` is `full` exactly.
AxisRange ZoomAxis(AxisRange view, AxisRange full, double anchor, double factor, double minSpan);

// The narrowest value axis a zoom gives: four codes, or four units of the
// last millivolt decimal shown at gain `gainIndex`.
double MinValueSpan(bool hex, int gainIndex);

// Moves `view` by `delta` (in the axis' own unit) and keeps it inside `full`.
AxisRange PanAxis(AxisRange view, AxisRange full, double delta);

// Position of sample `i` in a view `width` pixels wide, and back: the nearest
// sample to pixel position x (a half-way position takes the later sample),
// limited to 0 .. count-1.
double PixelOfSample(AxisRange view, double i, double width);
int SampleAtPixel(AxisRange view, double x, double width, int count);

// Vertical position of a value in a view `height` pixels high (hi at the top
// edge, lo at the bottom); a view without height puts every value at half
// height.
double PixelOfValue(AxisRange values, double v, double height);

// One pixel column of the envelope: the first and last sample value that falls
// into it and the extremes between; `used` is false for a column no sample
// falls into.
struct ColumnEnvelope {
    double first = 0, last = 0, lo = 0, hi = 0;
    bool used = false;
};

// Column c of `columns` covers sample positions [view.lo + c*k, view.lo +
// (c+1)*k) with k = view.span() / columns; each sample of values[0 .. count-1]
// inside the view goes to its column. NaN stands for a missing value and
// falls into no column.
std::vector<ColumnEnvelope> EnvelopeColumns(const double* values, int count, AxisRange view,
                                            int columns);
