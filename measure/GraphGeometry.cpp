#include "measure/GraphGeometry.h"

#include <cmath>

#include "app/NumberReading.h"
#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

quint32 GraphChannelColor(int channel)
{
    switch (channel) {
    case 1:
        return 0xFF0000u;
    case 2:
        return 0x0000FFu;
    default:
        return 0;
    }
}

GraphScale ComputeGraphScale(double top0, double bottom0, bool hex, int gainIndex)
{
    GraphScale s;
    if (hex) {
        const double range = top0 - bottom0;
        s.mid = RoundHalfAwayFromZero((top0 + bottom0) / 2);
        s.top = range > 6 ? top0 + RoundHalfAwayFromZero(range / 4) : top0 + 2;
        s.bottom = s.top - 2 * (s.top - s.mid);
        s.topText = IntegerText(s.top);
        s.midText = IntegerText(s.mid);
        s.bottomText = IntegerText(s.bottom);
    } else {
        s.mid = (top0 + bottom0) / 2;
        const double h = (top0 - bottom0) / 2;
        s.top = top0 + h;
        s.bottom = bottom0 - h;
        s.topText = MillivoltText(s.top, gainIndex);
        s.midText = MillivoltText(s.mid, gainIndex);
        s.bottomText = MillivoltText(s.bottom, gainIndex);
    }
    return s;
}

bool GraphY(double v, double top, double bottom, int height, int* y)
{
    const double H = height;
    const std::optional<int> r = RoundHalfEven(H - (v - bottom) * H / (top - bottom));
    if (!r)
        return false;
    *y = *r;
    return true;
}

float GraphXStep(int width, int sampleCount)
{
    return float(width) / float(sampleCount - 1);
}

int GraphX(float xstep, int i)
{
    const float x = xstep * float(i) + 0.5f;
    return int(x);
}

GraphPlan ComputeGraph(const SampleBlock& block, int sampleCount, int channelMode, bool hex,
                       int gainIndex, int width, int height)
{
    GraphPlan plan;
    const int count = sampleCount < 0 ? 0 : (sampleCount > kSampleCapacity ? kSampleCapacity
                                                                          : sampleCount);
    struct Drawn {
        int field;
        int colorChannel;
        std::vector<double> values;
    };
    std::vector<Drawn> drawn;
    if (channelMode == 0 || channelMode == 2)
        drawn.push_back({0, 1, {}});
    if (channelMode == 1 || channelMode == 2)
        drawn.push_back({1, 2, {}});

    // Each text is decoded once; the extremes are those of FindModeMax /
    // FindModeMin (same start values, same strict comparisons, same order).
    double top0 = SearchMaxStart(hex), bottom0 = SearchMinStart(hex);
    for (Drawn& d : drawn) {
        d.values.resize(size_t(count));
        for (int i = 0; i < count; ++i) {
            const double v = DecodeField(block, i, d.field, hex);
            d.values[size_t(i)] = v;
            if (v > top0)
                top0 = v;
            if (v < bottom0)
                bottom0 = v;
        }
    }
    plan.scale = ComputeGraphScale(top0, bottom0, hex, gainIndex);
    if (count < 2)
        return plan;

    const float xstep = GraphXStep(width, count);
    const double top = plan.scale.top, bottom = plan.scale.bottom;
    // All values equal (only millivolt data can get here, the code scale
    // always has a margin): the line lies at half height.
    const bool flat = top == bottom;

    plan.lines.reserve(drawn.size() * size_t(count - 1));
    std::vector<int> xs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        xs[size_t(i)] = GraphX(xstep, i);

    for (const Drawn& d : drawn) {
        const quint32 color = GraphChannelColor(d.colorChannel);
        auto yOf = [&](int i, int* y) {
            if (flat)
                return GraphY(0.0, 1.0, -1.0, height, y);  // half height
            return GraphY(d.values[size_t(i)], top, bottom, height, y);
        };
        int yPrev;
        if (!yOf(0, &yPrev)) {
            plan.complete = false;
            return plan;
        }
        for (int i = 0; i + 1 < count; ++i) {
            int yNext;
            if (!yOf(i + 1, &yNext)) {
                plan.complete = false;
                return plan;
            }
            plan.lines.push_back({xs[size_t(i)], yPrev, xs[size_t(i + 1)], yNext, color});
            yPrev = yNext;
        }
    }
    return plan;
}
