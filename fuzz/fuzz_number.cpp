// The number-reading rule on any text: typed COM numbers and sample counts,
// reply digits, sample texts. Checks the promises of app/NumberReading.h.
#include <cmath>

#include "app/NumberReading.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const int decimals = in.byte() % 8;
    const QByteArray raw = in.rest();
    // The same bytes as UTF-8 text (what a typed field holds) and as
    // one-byte characters (what the serial line delivers).
    for (const QString& text : {QString::fromUtf8(raw), QString::fromLatin1(raw)}) {
        const double v = ReadNumber(text);
        FUZZ_CHECK(!std::isnan(v), "ReadNumber gave NaN for %s", raw.toHex().constData());
        FUZZ_CHECK(!std::isnan(ReadComNumber(text)), "ReadComNumber gave NaN for %s", raw.toHex().constData());

        const double h = ReadHexNumber(text);
        FUZZ_CHECK(!std::isnan(h) && h >= 0, "ReadHexNumber gave %g", h);

        for (QChar c : text) {
            const int d = HexDigitValue(c);
            FUZZ_CHECK(d >= -1 && d <= 15, "HexDigitValue gave %d", d);
        }

        const std::optional<int> r = RoundHalfEven(v);
        if (r) {
            FUZZ_CHECK(std::fabs(double(*r) - v) <= 0.5, "RoundHalfEven(%.17g) = %d", v, *r);
        } else {
            FUZZ_CHECK(!std::isfinite(v) || std::fabs(v) > 2147483647.0,
                       "RoundHalfEven refused %.17g", v);
        }

        const double a = RoundHalfAwayFromZero(v);
        FUZZ_CHECK(!std::isnan(a), "RoundHalfAwayFromZero gave NaN");

        const QString f = FormatFixed(v, decimals);
        FUZZ_CHECK(!f.isEmpty(), "FormatFixed gave an empty text");
        if (std::isfinite(v)) {
            // At least one digit before the point, exactly `decimals` after it.
            const qsizetype dot = f.indexOf(u'.');
            if (decimals > 0) {
                FUZZ_CHECK(dot > 0 && f.size() - dot - 1 == decimals, "FormatFixed(%.17g, %d) = %s",
                           v, decimals, qPrintable(f));
            } else {
                FUZZ_CHECK(dot < 0, "FormatFixed(%.17g, 0) = %s", v, qPrintable(f));
            }
            for (QChar c : f)
                FUZZ_CHECK(c.isDigit() || c == u'.' || c == u'-', "FormatFixed gave %s", qPrintable(f));
            FUZZ_CHECK(!f.startsWith(u'-') || v < 0, "FormatFixed(%.17g) = %s", v, qPrintable(f));
        }
    }
    return 0;
}
