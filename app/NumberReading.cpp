#include "app/NumberReading.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <limits>

namespace {

bool isIgnored(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Copies the text without the characters that the reading rule ignores.
QString compact(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!isIgnored(c))
            out.append(c);
    return out;
}

double readRadix(const QString& s, qsizetype pos, int radix)
{
    double value = 0;
    for (; pos < s.size(); ++pos) {
        const int d = HexDigitValue(s.at(pos));
        if (d < 0 || d >= radix)
            break;
        value = value * radix + d;
    }
    return value;
}

} // namespace

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

double ReadComNumber(QStringView text)
{
    const QString s = compact(text);
    if (s.size() >= 2 && s.at(0) == u'&') {
        const QChar p = s.at(1).toUpper();
        if (p == u'H')
            return readRadix(s, 2, 16);
        if (p == u'O')
            return readRadix(s, 2, 8);
        return 0;
    }
    return ReadNumber(s);
}

double ReadNumber(QStringView text)
{
    const QString s = compact(text);
    // Collect the longest prefix that forms a decimal number, then let the C
    // library convert it in the "C" locale ("." is always the point).
    std::string digits;
    qsizetype i = 0;
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        digits.push_back(char(s.at(i++).unicode()));
    bool mantissa = false;
    while (i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128) {
        digits.push_back(char(s.at(i++).unicode()));
        mantissa = true;
    }
    if (i < s.size() && s.at(i) == u'.') {
        digits.push_back('.');
        ++i;
        while (i < s.size() && s.at(i).unicode() >= u'0' && s.at(i).unicode() <= u'9') {
            digits.push_back(char(s.at(i++).unicode()));
            mantissa = true;
        }
    }
    if (!mantissa)
        return 0;
    if (i < s.size()) {
        const char16_t e = s.at(i).unicode();
        if (e == u'e' || e == u'E' || e == u'd' || e == u'D') {
            std::string exp = "e";
            qsizetype j = i + 1;
            if (j < s.size() && (s.at(j) == u'+' || s.at(j) == u'-'))
                exp.push_back(char(s.at(j++).unicode()));
            bool expDigits = false;
            while (j < s.size() && s.at(j).unicode() >= u'0' && s.at(j).unicode() <= u'9') {
                exp.push_back(char(s.at(j++).unicode()));
                expDigits = true;
            }
            if (expDigits)
                digits += exp;
        }
    }
    // strtod honours the C locale, which a Qt program leaves as "C" for
    // numeric conversion; QByteArray::toDouble would also do, but rejects
    // overflow instead of giving infinity.
    const double v = std::strtod(digits.c_str(), nullptr);
    return std::isnan(v) ? 0 : v;
}

double ReadHexNumber(QStringView text)
{
    const QString s = compact(text);
    return readRadix(s, 0, 16);
}

std::optional<int> RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::nearbyint(value); // default rounding mode: to even
    if (r < double(std::numeric_limits<int>::min()) || r > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(r);
}

double RoundHalfAwayFromZero(double value)
{
    return std::round(value);
}

QString FormatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    // Round the decimal value as a person reads it (15 significant digits, as
    // the number is shown elsewhere), not its binary approximation: 0.0125 is
    // stored slightly off, yet shows as 0.013 with three decimals.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    // buf: d.dddddddddddddde[+-]xx
    std::string mant;
    mant.push_back(buf[0]);
    mant.append(buf + 2, 14);
    const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
    // Digits of the integer  |value| * 10^decimals, as a decimal string with
    // the first digit of `mant` standing for 10^(exp10 + decimals).
    const int keep = exp10 + decimals + 1; // digits of mant before the cut
    std::string whole;
    if (keep <= 0) {
        whole = (keep == 0 && mant[0] >= '5') ? "1" : "0";
    } else {
        if (keep >= int(mant.size())) {
            whole = mant + std::string(keep - mant.size(), '0');
        } else {
            whole = mant.substr(0, keep);
            if (mant[keep] >= '5') {
                int k = int(whole.size()) - 1;
                while (k >= 0 && whole[k] == '9')
                    whole[k--] = '0';
                if (k < 0)
                    whole.insert(whole.begin(), '1');
                else
                    ++whole[k];
            }
        }
    }
    // Place the decimal point.
    if (int(whole.size()) <= decimals)
        whole.insert(0, decimals + 1 - whole.size(), '0');
    std::string text = whole.substr(0, whole.size() - decimals);
    if (decimals > 0)
        text += "." + whole.substr(whole.size() - decimals);
    // A negative value keeps its sign even when it rounds to zero ("-0.000").
    if (value < 0)
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text.c_str());
}
