#include "measure/Decoding.h"

#include <cmath>

#include "app/NumberReading.h"
#include "measure/SampleBlock.h"

namespace {

// Exact powers of ten (all representable in a double).
constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Short path for a well-formed field: all hexadecimal digits, or
// [sign] digits [. digits] with at most 15 digits. The decimal result is
// mantissa / 10^decimals, both exact doubles, so the one rounding of the
// division gives the correctly rounded value -- the same double the full
// reading (strtod) produces. Returns false when the text needs the full rule
// (blanks, exponent, trailing characters, empty, ...).
// Inlined into the loops' entry points (DecodeField, DecodePlainSample):
// a call per value costs about as much as the reading.
template <typename Char>
Q_ALWAYS_INLINE bool quickDecode(const Char* p, qsizetype n, bool hex, double* out)
{
    if (n <= 0)
        return false;
    if (hex) {
        if (n > 13)
            return false;
        qint64 v = 0;
        for (qsizetype k = 0; k < n; ++k) {
            const unsigned c = unsigned(p[k]);
            int d;
            if (c >= '0' && c <= '9')
                d = int(c - '0');
            else if (c >= 'A' && c <= 'F')
                d = int(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f')
                d = int(c - 'a' + 10);
            else
                return false;
            v = v * 16 + d;
        }
        *out = double(v);
        return true;
    }
    qsizetype k = 0;
    bool negative = false;
    if (unsigned(p[0]) == '-' || unsigned(p[0]) == '+') {
        negative = unsigned(p[0]) == '-';
        ++k;
    }
    qint64 mantissa = 0;
    int digits = 0, decimals = 0;
    bool point = false;
    for (; k < n; ++k) {
        const unsigned c = unsigned(p[k]);
        if (c >= '0' && c <= '9') {
            if (++digits > 15)
                return false;
            mantissa = mantissa * 10 + int(c - '0');
            if (point)
                ++decimals;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    const double v = double(mantissa) / kPow10[decimals];
    *out = negative ? -v : v;
    return true;
}

} // namespace

double DecodeSample(QStringView text, bool hex)
{
    double v;
    if (quickDecode(text.utf16(), text.size(), hex, &v))
        return v;
    return hex ? ReadHexNumber(text) : ReadNumber(text);
}

double DecodeSample(QLatin1StringView text, bool hex)
{
    double v;
    if (quickDecode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), hex, &v))
        return v;
    const QString s = text.toString();
    return hex ? ReadHexNumber(s) : ReadNumber(s);
}

bool DecodePlainSample(QLatin1StringView text, bool hex, double* out)
{
    return quickDecode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), hex, out);
}

double DecodeField(const SampleBlock& block, int i, int channel, bool hex)
{
    QLatin1StringView view;
    double v;
    if (block.FieldLatin1(i, channel, &view))
        return DecodePlainSample(view, hex, &v) ? v : DecodeSample(view, hex);
    return DecodeSample(QStringView(block.Field(i, channel)), hex);
}

double SearchMaxStart(bool hex) { return hex ? 0.0 : -5000000.0; }
double SearchMinStart(bool hex) { return hex ? 16777216.0 : 5000000.0; }

namespace {

template <typename Better>
double scan(const SampleBlock& block, int channel, int count, bool hex, double running, Better better)
{
    for (int i = 0; i < count && i < kSampleCapacity; ++i) {
        const double v = DecodeField(block, i, channel, hex);
        if (better(v, running))
            running = v;
    }
    return running;
}

bool greater(double a, double b) { return a > b; }
bool smaller(double a, double b) { return a < b; }

} // namespace

double FindChannelMax(const SampleBlock& block, int channel, int count, bool hex)
{
    return scan(block, channel, count, hex, SearchMaxStart(hex), greater);
}

double FindChannelMin(const SampleBlock& block, int channel, int count, bool hex)
{
    return scan(block, channel, count, hex, SearchMinStart(hex), smaller);
}

double FindModeMax(const SampleBlock& block, int channelMode, int count, bool hex)
{
    double v = SearchMaxStart(hex);
    if (channelMode == 0 || channelMode == 2)
        v = scan(block, 0, count, hex, v, greater);
    if (channelMode == 1 || channelMode == 2)
        v = scan(block, 1, count, hex, v, greater);
    return v;
}

double FindModeMin(const SampleBlock& block, int channelMode, int count, bool hex)
{
    double v = SearchMinStart(hex);
    if (channelMode == 0 || channelMode == 2)
        v = scan(block, 0, count, hex, v, smaller);
    if (channelMode == 1 || channelMode == 2)
        v = scan(block, 1, count, hex, v, smaller);
    return v;
}

int MillivoltDecimals(int gainIndex)
{
    if (gainIndex == 0)
        return 3;
    if (gainIndex > 2)
        return 5;
    return 4;
}

QString MillivoltText(double value, int gainIndex)
{
    return FormatFixed(value, MillivoltDecimals(gainIndex));
}

QString IntegerText(double value)
{
    if (std::isfinite(value) && std::fabs(value) < 9.0e15)
        return QString::number(qint64(RoundHalfAwayFromZero(value)));
    return FormatFixed(value, 0);
}

QString PeakToPeakText(int channelMode, bool hex, int gainIndex, double ch0Max, double ch0Min,
                       double ch1Max, double ch1Min)
{
    const double pp0 = ch0Max - ch0Min;
    const double pp1 = ch1Max - ch1Min;
    auto num = [&](double v) { return hex ? IntegerText(v) : MillivoltText(v, gainIndex); };
    const QString head = hex ? QStringLiteral("[digit pp] ") : QStringLiteral("[mV pp] ");
    switch (channelMode) {
    case 0:
        return head + QStringLiteral("CH0=") + num(pp0);
    case 1:
        return head + QStringLiteral("CH1=") + num(pp1);
    case 2:
        return head + QStringLiteral("CH0=") + num(pp0) + QStringLiteral(", CH1=") + num(pp1);
    default:
        return QString();
    }
}
