#include "analysis/NoiseStats.h"

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cmath>

#include "measure/Decoding.h"
#include "measure/SampleBlock.h"

QString FixedFigure(double v, int decimals)
{
    if (!std::isfinite(v))
        return QStringLiteral("---");
    QString s = QString::number(v, 'f', decimals);
    if (s == u'-' + QString::number(0.0, 'f', decimals))
        s.remove(0, 1);
    return s;
}

namespace {

QString fixed(double v, int decimals) { return FixedFigure(v, decimals); }

QString unitOf(bool hexCodes) { return hexCodes ? QStringLiteral("digit") : QStringLiteral("mV"); }

} // namespace

NoiseStats ComputeNoiseStats(const std::vector<double>& values, bool hexCodes)
{
    NoiseStats s;
    s.hasResolution = hexCodes;
    s.count = int(values.size());
    if (values.empty()) {
        s.effectiveBits = s.noiseFreeBits = hexCodes ? kConverterBits : 0;
        return s;
    }
    // Two passes: the mean first, then the squared deviations from it. One
    // pass over sums of squares loses the noise of a 24-bit code near 2^23 to
    // cancellation.
    double sum = 0;
    s.minimum = s.maximum = values.front();
    for (double v : values) {
        sum += v;
        s.minimum = std::min(s.minimum, v);
        s.maximum = std::max(s.maximum, v);
    }
    s.mean = sum / double(values.size());
    s.peakToPeak = s.maximum - s.minimum;
    if (values.size() >= 2) {
        double squares = 0;
        for (double v : values)
            squares += (v - s.mean) * (v - s.mean);
        s.rms = std::sqrt(squares / double(values.size() - 1));
    }
    if (hexCodes) {
        s.effectiveBits = ResolutionBits(s.rms);
        s.noiseFreeBits = ResolutionBits(s.peakToPeak);
    }
    return s;
}

double ResolutionBits(double spreadInCodes)
{
    if (!(spreadInCodes > 0))
        return kConverterBits;
    const double bits = kConverterBits - std::log2(spreadInCodes);
    if (!std::isfinite(bits))
        return 0;
    return std::clamp(bits, 0.0, kConverterBits);
}

int MillivoltFigureDecimals(double rms)
{
    if (!(rms > 0) || !std::isfinite(rms))
        return 3;
    const int lead = int(std::floor(std::log10(rms)));  // 0.0042 -> -3
    return std::clamp(2 - lead, 3, 6);
}

QString MillivoltFigure(double v, int decimals)
{
    if (!std::isfinite(v))
        return QStringLiteral("---");
    const double a = std::fabs(v);
    if (a > 0 && a < 1e-3)
        return fixed(v * 1e6, std::max(0, decimals - 6)) + QStringLiteral(" nV");
    if (a > 0 && a < 1)
        return fixed(v * 1e3, std::max(0, decimals - 3)) + QStringLiteral(" µV");
    return fixed(v, decimals) + QStringLiteral(" mV");
}

QStringList NoiseStatsHeaders(bool hexCodes)
{
    QStringList h{QStringLiteral("データ個数"), QStringLiteral("平均"), QStringLiteral("最小"),
                  QStringLiteral("最大"), QStringLiteral("ピークtoピーク"),
                  QStringLiteral("RMSノイズ")};
    if (hexCodes)
        h << QStringLiteral("実効分解能") << QStringLiteral("ノイズフリー分解能");
    h << QStringLiteral("不正値");
    return h;
}

QStringList NoiseStatsCells(const NoiseStats& s, bool hexCodes)
{
    QStringList c{QString::number(s.count)};
    const bool none = s.count == 0;
    auto cell = [&](double v, int decimals) { return none ? QStringLiteral("---") : fixed(v, decimals); };
    if (hexCodes) {
        c << cell(s.mean, 2) << cell(s.minimum, 0) << cell(s.maximum, 0) << cell(s.peakToPeak, 0)
          << cell(s.rms, 2) << cell(s.effectiveBits, 1) << cell(s.noiseFreeBits, 1);
    } else {
        const int d = MillivoltFigureDecimals(s.rms);
        auto mv = [&](double v) { return none ? QStringLiteral("---") : MillivoltFigure(v, d); };
        c << mv(s.mean) << mv(s.minimum) << mv(s.maximum) << mv(s.peakToPeak) << mv(s.rms);
    }
    c << QString::number(s.invalid);
    return c;
}

QString NoiseStatsTable(const std::vector<std::pair<QString, NoiseStats>>& channels, bool hexCodes)
{
    QStringList header{QStringLiteral("CH")};
    const QStringList titles = NoiseStatsHeaders(hexCodes);
    for (int i = 0; i < titles.size(); ++i) {
        if (i == 0 || i == titles.size() - 1 || !hexCodes)  // millivolt cells carry their unit
            header << titles[i];
        else if (hexCodes && i >= 6)
            header << titles[i] + QStringLiteral(" [bit]");
        else
            header << titles[i] + QStringLiteral(" [") + unitOf(hexCodes) + u']';
    }
    QString out = header.join(u'\t') + u'\n';
    for (const auto& [name, stats] : channels)
        out += (QStringList{name} + NoiseStatsCells(stats, hexCodes)).join(u'\t') + u'\n';
    return out;
}

double SampleRateFromText(const QString& rateText)
{
    const QString t = rateText.trimmed();
    int digits = 0;
    while (digits < t.size() && t[digits].isDigit() && t[digits].unicode() < 128)
        ++digits;
    bool ok = false;
    const double rate = t.left(digits).toDouble(&ok);
    return ok && rate > 0 ? rate : 0;
}

bool WellFormedSample(QStringView text, bool hex)
{
    text = text.trimmed();
    if (hex) {
        return text.size() == 6 && std::all_of(text.begin(), text.end(), [](QChar c) {
                   return c.unicode() < 128 && std::isxdigit(c.unicode());
               });
    }
    qsizetype i = 0;
    auto digits = [&] {
        const qsizetype from = i;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9')
            ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype mantissa = digits();
    if (i < text.size() && text[i] == u'.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    if (i != text.size())
        return false;
    const double v = DecodeSample(text, false);
    return std::isfinite(v) && std::fabs(v) < kMaxMillivolts;
}

std::vector<double> ChannelValues(const SampleBlock& block, int channel, int count, bool hex, int* invalid)
{
    count = std::clamp(count, 0, kSampleCapacity);
    std::vector<double> values;
    values.reserve(static_cast<size_t>(count));
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        // A slot's one-byte text is widened on the stack; no string is built.
        QLatin1StringView view;
        bool ok;
        if (block.FieldLatin1(i, channel, &view) && view.size() <= SampleBlock::kSlotChars) {
            char16_t wide[SampleBlock::kSlotChars];
            for (qsizetype k = 0; k < view.size(); ++k)
                wide[k] = char16_t(uchar(view[k].toLatin1()));
            ok = WellFormedSample(QStringView(wide, view.size()), hex);
        } else {
            ok = WellFormedSample(block.Field(i, channel), hex);
        }
        if (ok)
            values.push_back(DecodeField(block, i, channel, hex));
        else
            ++bad;
    }
    if (invalid)
        *invalid = bad;
    return values;
}

NoiseStats ChannelStats(const std::vector<double>& values, int invalid, bool hexCodes)
{
    NoiseStats s = ComputeNoiseStats(values, hexCodes);
    s.invalid = invalid;
    return s;
}

