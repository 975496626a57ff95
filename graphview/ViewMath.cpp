#include "graphview/ViewMath.h"

#include <algorithm>
#include <cmath>

#include "measure/Decoding.h"

namespace {

// Spans this close to the full one count as the full view (repeated zooming
// in and out by the same factor does not land on it exactly).
constexpr double kFullTolerance = 1e-9;

AxisRange keepInside(AxisRange view, AxisRange full)
{
    const double span = view.span();
    if (span >= full.span() * (1 - kFullTolerance))
        return full;
    if (view.lo < full.lo)
        return {full.lo, full.lo + span};
    if (view.hi > full.hi)
        return {full.hi - span, full.hi};
    return view;
}

} // namespace

AxisRange ZoomAxis(AxisRange view, AxisRange full, double anchor, double factor, double minSpan)
{
    if (!(factor > 0) || !std::isfinite(factor) || !(full.span() > 0))
        return full.span() > 0 ? view : full;
    const double span = std::clamp(view.span() / factor, std::min(minSpan, full.span()),
                                   full.span());
    const double at = view.lo + anchor * view.span();
    const double lo = at - anchor * span;
    return keepInside({lo, lo + span}, full);
}

AxisRange PanAxis(AxisRange view, AxisRange full, double delta)
{
    if (!std::isfinite(delta))
        return view;
    return keepInside({view.lo + delta, view.hi + delta}, full);
}

double PixelOfSample(AxisRange view, double i, double width)
{
    if (!(view.span() > 0))
        return 0;
    return (i - view.lo) * width / view.span();
}

int SampleAtPixel(AxisRange view, double x, double width, int count)
{
    if (count <= 0)
        return -1;
    const double at = width > 0 ? view.lo + x * view.span() / width : view.lo;
    const double nearest = std::floor(at + 0.5);
    if (!(nearest >= 0))
        return 0;
    return nearest >= count - 1 ? count - 1 : int(nearest);
}

double PixelOfValue(AxisRange values, double v, double height)
{
    if (!(values.span() > 0))
        return height / 2;
    return height - (v - values.lo) * height / values.span();
}

std::vector<ColumnEnvelope> EnvelopeColumns(const double* values, int count, AxisRange view,
                                            int columns)
{
    std::vector<ColumnEnvelope> out(size_t(std::max(columns, 0)));
    if (columns <= 0 || count <= 0 || !(view.span() > 0))
        return out;
    const double perColumn = view.span() / columns;
    const int first = std::max(0, int(std::ceil(view.lo)));
    const int last = std::min(count - 1, int(std::floor(view.hi)));
    for (int i = first; i <= last; ++i) {
        const double v = values[i];
        if (std::isnan(v))
            continue;  // a record without a value (a stream's malformed one)
        const int c = std::min(columns - 1, int((i - view.lo) / perColumn));
        ColumnEnvelope& col = out[size_t(c)];
        if (!col.used) {
            col = {v, v, v, v, true};
            continue;
        }
        col.last = v;
        col.lo = std::min(col.lo, v);
        col.hi = std::max(col.hi, v);
    }
    return out;
}

double MinValueSpan(bool hex, int gainIndex)
{
    return hex ? 4 : 4 * std::pow(10.0, -MillivoltDecimals(gainIndex));
}
