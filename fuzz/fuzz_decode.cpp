// Sample decoding, the extremes and peak-to-peak text, and the graph geometry
// on blocks of arbitrary sample texts. The short decoding path for one-byte
// texts must give exactly what the general path gives, and the graph must
// stay inside the picture.
//
// Input: flags, gain, width, height (one byte each), then texts: a length byte
// (0..15) and that many bytes, filling Ch0 then Ch1 of each entry in turn.
#include <cmath>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "measure/Decoding.h"
#include "measure/GraphGeometry.h"
#include "measure/SampleBlock.h"

namespace {

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SampleBlock block; // 1.3 MiB once; entries are overwritten per input
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    const bool hex = flags & 1;
    const bool utf8 = flags & 2;         // texts as UTF-8 (some kept aside)
    const int mode = (flags >> 2) % 4;   // 3: no channel
    const int gain = int(in.byte() % 8) - 1;
    const int width = 1 + in.byte() * 32;
    const int height = 1 + in.byte() * 16;

    int entries = 0, field = 0;
    while (!in.empty() && entries < 512) {
        const QByteArray raw = in.bytes(in.byte() % 16);
        const QString text = utf8 ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
        block.SetField(entries, field, text);
        FUZZ_CHECK(block.Field(entries, field) == text, "the block changed a text");

        const double v = DecodeSample(QStringView(text), hex);
        if (!utf8) {
            const double v1 = DecodeSample(QLatin1StringView(raw), hex);
            FUZZ_CHECK(same(v, v1), "decoders differ on %s: %.17g / %.17g",
                       raw.toHex().constData(), v, v1);
        }
        FUZZ_CHECK(!std::isnan(v), "NaN from %s", raw.toHex().constData());
        if (hex)
            FUZZ_CHECK(v >= 0, "negative code from %s", raw.toHex().constData());
        FUZZ_CHECK(same(DecodeField(block, entries, field, hex), v), "DecodeField differs");

        if (++field == 2) {
            field = 0;
            ++entries;
        }
    }
    if (field == 1)
        block.SetField(entries, 1, QString()); // not left from an earlier input
    const int count = entries + (field ? 1 : 0);

    double mx[2], mn[2];
    for (int ch = 0; ch < 2; ++ch) {
        mx[ch] = FindChannelMax(block, ch, count, hex);
        mn[ch] = FindChannelMin(block, ch, count, hex);
        FUZZ_CHECK(mx[ch] >= SearchMaxStart(hex) && mn[ch] <= SearchMinStart(hex), "extremes");
    }
    const QString pp = PeakToPeakText(mode, hex, gain, mx[0], mn[0], mx[1], mn[1]);
    if (mode < 3)
        FUZZ_CHECK(pp.startsWith(hex ? QStringLiteral("[digit pp] CH") : QStringLiteral("[mV pp] CH")),
                   "pp text %s", qPrintable(pp));

    const GraphPlan plan = ComputeGraph(block, count, mode, hex, gain, width, height);
    const size_t drawn = mode == 2 ? 2 : (mode == 3 ? 0 : 1);
    FUZZ_CHECK(plan.lines.size() <= drawn * size_t(count > 1 ? count - 1 : 0), "%zu lines",
               plan.lines.size());
    for (const RecordedLine& l : plan.lines) {
        FUZZ_CHECK(l.x1 >= 0 && l.x1 <= width && l.x2 >= l.x1 && l.x2 <= width, "x %d..%d of %d",
                   l.x1, l.x2, width);
        FUZZ_CHECK(l.y1 >= 0 && l.y1 <= height && l.y2 >= 0 && l.y2 <= height, "y %d, %d of %d",
                   l.y1, l.y2, height);
    }
    if (count >= 2 && mode < 3 && plan.complete)
        FUZZ_CHECK(plan.lines.size() == drawn * size_t(count - 1), "a complete graph lacks lines");

    // The scale alone, from any two extremes the input names.
    int y = 0;
    const GraphScale s = ComputeGraphScale(mx[0], mn[1], hex, gain);
    if (GraphY(mx[0], s.top, s.bottom, height, &y))
        FUZZ_CHECK(std::isfinite(s.top) && std::isfinite(s.bottom), "position from a broken scale");
    return 0;
}
