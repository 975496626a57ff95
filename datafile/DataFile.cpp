#include "datafile/DataFile.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <cstring>

#include "app/NumberReading.h"

namespace {

const QLatin1String kCrLf("\r\n");

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

bool breaksLine(char16_t u)
{
    return u < 0x20 || u == 0x7F;
}

// Appends a header value; a control character (a typed or noisy CR/LF) would
// split the line, so it becomes "?".
void appendField(QString& out, const QString& text)
{
    for (QChar c : text)
        out.append(breaksLine(c.unicode()) ? QChar(u'?') : c);
}

// threeDecimalsFast takes integer parts of at most this many digits (after
// leading zeros), so that what it writes fits kFastMaxChars characters.
constexpr int kFastDigits = 15;
constexpr int kFastMaxChars = kFastDigits + 6; // sign, carry digit, point, 3 decimals

// Three decimals straight from the digits of a plain decimal text (blanks,
// sign, digits, point; no exponent), rounded once, from the decimal digits as
// written: the fourth decimal decides, halves away from zero. A negative
// number keeps its sign when it rounds to zero ("-0.0004" gives "-0.000"), a
// negative zero ("-0.000") does not. Writes at most intDigits + 6 characters
// to `dest` and returns their number, or -1 for any other text or an integer
// part of more than `maxIntDigits` digits; the caller then takes the general
// road.
template <typename Ch>
int threeDecimalsFast(const Ch* p, const Ch* e, char16_t* dest, qsizetype maxIntDigits = kFastDigits)
{
    auto blank = [](Ch c) { return c == Ch(' ') || c == Ch('\t') || c == Ch('\n'); };
    auto digit = [](Ch c) { return c >= Ch('0') && c <= Ch('9'); };
    while (p < e && blank(*p))
        ++p;
    while (e > p && blank(e[-1]))
        --e;
    bool negative = false;
    if (p < e && (*p == Ch('+') || *p == Ch('-')))
        negative = *p++ == Ch('-');
    const Ch* intStart = p;
    while (p < e && digit(*p))
        ++p;
    const Ch* intEnd = p;
    const Ch* fracStart = p;
    const Ch* fracEnd = p;
    if (p < e && *p == Ch('.')) {
        fracStart = ++p;
        while (p < e && digit(*p))
            ++p;
        fracEnd = p;
    }
    if (p != e || (intStart == intEnd && fracStart == fracEnd))
        return -1; // exponent, stray character, or no digits at all
    while (intStart < intEnd && *intStart == Ch('0'))
        ++intStart;
    if (intEnd - intStart > maxIntDigits)
        return -1;
    bool nonZero = intStart < intEnd;
    for (const Ch* f = fracStart; f < fracEnd && !nonZero; ++f)
        nonZero = *f != Ch('0');

    // Digits go to dest + 2, leaving room for a sign and a carry digit.
    char16_t* const start = dest + 2;
    char16_t* q = start;
    if (intStart == intEnd)
        *q++ = u'0';
    for (const Ch* d = intStart; d < intEnd; ++d)
        *q++ = char16_t(*d);
    char16_t* const point = q;
    *q++ = u'.';
    for (int k = 0; k < 3; ++k)
        *q++ = fracStart + k < fracEnd ? char16_t(fracStart[k]) : u'0';
    char16_t* first = start;
    // Half away from zero: the fourth decimal decides.
    if (fracEnd - fracStart > 3 && fracStart[3] >= Ch('5')) {
        char16_t* d = q - 1;
        for (;;) {
            if (d == point) {
                --d;
                continue;
            }
            if (d < start) {
                *--first = u'1';
                break;
            }
            if (*d == u'9') {
                *d-- = u'0';
                continue;
            }
            ++*d;
            break;
        }
    }
    if (negative && nonZero)
        *--first = u'-';
    const int n = int(q - first);
    if (first != dest)
        std::memmove(dest, first, size_t(n) * sizeof(char16_t));
    return n;
}

int threeDecimalsFast(QStringView text, char16_t* dest)
{
    return threeDecimalsFast(text.utf16(), text.utf16() + text.size(), dest);
}

// Writes the rows straight into a string's buffer, growing it as needed:
// a full block has 131070 cells, and appending each piece separately costs
// more than the formatting itself.
class RowWriter {
public:
    explicit RowWriter(QString& out, qsizetype expected)
        : out_(out), pos_(out.size())
    {
        out_.resize(pos_ + expected);
        p_ = reinterpret_cast<char16_t*>(out_.data());
    }
    ~RowWriter() { out_.resize(pos_); }

    // Room for `n` more characters.
    void Reserve(qsizetype n)
    {
        if (pos_ + n > out_.size()) {
            out_.resize(qMax(pos_ + n, out_.size() * 2));
            p_ = reinterpret_cast<char16_t*>(out_.data());
        }
    }
    // Callers Reserve() first.
    void Put(char16_t c) { p_[pos_++] = c; }
    char16_t* Cursor() { return p_ + pos_; }
    void Advance(qsizetype n) { pos_ += n; }

    // A sample text with the characters that would break the file as "?".
    void Cell(QStringView text) { Cell(text.utf16(), text.size()); }
    template <typename Ch>
    void Cell(const Ch* text, qsizetype size)
    {
        Reserve(size);
        for (qsizetype k = 0; k < size; ++k) {
            const char16_t u = char16_t(text[k]);
            p_[pos_++] = breaksLine(u) || u == u',' ? u'?' : u;
        }
    }

private:
    QString& out_;
    qsizetype pos_;
    char16_t* p_;
};

} // namespace

bool IsDecimalNumberText(QStringView text)
{
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && isBlank(text.at(i)))
        ++i;
    while (end > i && isBlank(text.at(end - 1)))
        --end;
    if (i < end && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    bool digits = false;
    while (i < end && isDigit(text.at(i))) {
        ++i;
        digits = true;
    }
    if (i < end && text.at(i) == u'.') {
        ++i;
        while (i < end && isDigit(text.at(i))) {
            ++i;
            digits = true;
        }
    }
    if (!digits)
        return false;
    if (i < end) {
        // Exponent: E (or D, which the program's number reading also takes),
        // optional sign, at least one digit.
        const char16_t e = text.at(i).unicode();
        if (e != u'E' && e != u'e' && e != u'D' && e != u'd')
            return false;
        ++i;
        if (i < end && (text.at(i) == u'+' || text.at(i) == u'-'))
            ++i;
        bool expDigits = false;
        while (i < end && isDigit(text.at(i))) {
            ++i;
            expDigits = true;
        }
        if (!expDigits)
            return false;
    }
    return i == end;
}

QString MillivoltCellText(const QString& text)
{
    char16_t fast[kFastMaxChars];
    const int n = threeDecimalsFast(text, fast);
    if (n >= 0)
        return QString(reinterpret_cast<const QChar*>(fast), n);
    if (!IsDecimalNumberText(text))
        return text;
    if (!std::isfinite(ReadNumber(text))) // "1E999": keep what the board sent
        return text;
    // An exponent or a long integer part: the same digits with the point
    // moved by the exponent, rounded by the same rule.
    const QString plain = PlainDecimalText(text);
    QString out(plain.size() + 6, Qt::Uninitialized);
    const int m = threeDecimalsFast(plain.utf16(), plain.utf16() + plain.size(),
                                    reinterpret_cast<char16_t*>(out.data()), plain.size());
    out.truncate(qMax(0, m));
    return out;
}

QString PlainDecimalText(QStringView text)
{
    text = text.trimmed();
    QString sign;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        sign = text.front();
        text = text.mid(1);
    }
    QString digits;
    qsizetype point = -1;
    qsizetype i = 0;
    for (; i < text.size() && (isDigit(text.at(i)) || text.at(i) == u'.'); ++i) {
        if (text.at(i) == u'.')
            point = digits.size();
        else
            digits += text.at(i);
    }
    if (point < 0)
        point = digits.size();
    // Exponent: its sign and digits, held within +/-1000000 (far beyond any
    // finite value's; further only moves zeros).
    qint64 exponent = 0;
    if (i < text.size()) {
        ++i;
        const bool down = i < text.size() && text.at(i) == u'-';
        if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
            ++i;
        for (; i < text.size() && isDigit(text.at(i)); ++i)
            exponent = qMin<qint64>(exponent * 10 + (text.at(i).unicode() - u'0'), 1000000);
        if (down)
            exponent = -exponent;
    }
    if (!digits.contains(QRegularExpression(QStringLiteral("[1-9]"))))
        return sign + u'0';
    point += exponent;
    if (point <= 0) // only zeros move in front: four of them decide the rounding already
        return sign + QStringLiteral("0.") + QString(qMin<qint64>(-point, 4), u'0') + digits;
    if (point >= digits.size())
        return sign + digits + QString(point - digits.size(), u'0');
    return sign + digits.left(point) + u'.' + digits.mid(point);
}

QString DataFileDateTimeText(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

namespace {

bool validChannelMode(const DataFileContent& c)
{
    return c.channelMode >= 0 && c.channelMode <= 2;
}

int rowsOf(const DataFileContent& c)
{
    return (validChannelMode(c) && c.samples) ? qBound(0, c.rowCount, c.samples->size()) : 0;
}

// The seven header lines and, for a valid channel mode, the column header.
void appendHeader(QString& out, const DataFileContent& c)
{
    appendField(out, c.title);
    out += kCrLf;
    appendField(out, c.dateTime);
    out += kCrLf;
    appendField(out, c.gainEntry);
    out += kCrLf;
    out += QStringLiteral("フィルタ : ");
    appendField(out, c.filterCaption);
    out += kCrLf;
    out += QStringLiteral("データレート : ");
    appendField(out, c.rateEntry);
    out += kCrLf;
    out += QStringLiteral("測定ＣＨ : ");
    appendField(out, c.channelEntry);
    out += kCrLf;
    // One blank stands in the place of the sign of a non-negative count.
    out += QStringLiteral("データ個数 : ");
    out += u' ';
    out += QString::number(rowsOf(c));
    out += kCrLf;
    if (!validChannelMode(c))
        return;

    const QString unit = c.hex ? QStringLiteral(" [hex]") : QStringLiteral(" [mV]");
    if (c.channelMode == 2) {
        appendField(out, c.channelList0);
        out += unit;
        out += u',';
        appendField(out, c.channelList1);
        out += unit;
    } else {
        appendField(out, c.shownChannel);
        out += unit;
    }
    out += kCrLf;
}

// Data rows first .. last-1 (within rowsOf(c)).
void appendRows(QString& out, const DataFileContent& c, int first, int last)
{
    RowWriter w(out, qsizetype(last - first) * (c.channelMode == 2 ? 20 : 10));
    // One cell; short texts are read in place as the block keeps them.
    auto cell = [&](int i, int channel) {
        QLatin1StringView latin1;
        if (c.samples->FieldLatin1(i, channel, &latin1)) {
            const uchar* text = reinterpret_cast<const uchar*>(latin1.data());
            if (!c.hex && !latin1.isEmpty()) {
                w.Reserve(kFastMaxChars);
                const int n = threeDecimalsFast(text, text + latin1.size(), w.Cursor());
                if (n >= 0) {
                    w.Advance(n);
                    return;
                }
                w.Cell(MillivoltCellText(QString(latin1)));
                return;
            }
            w.Cell(text, latin1.size());
            return;
        }
        const QString text = c.samples->Field(i, channel);
        w.Cell(c.hex ? text : MillivoltCellText(text));
    };
    for (int i = first; i < last; ++i) {
        if (c.channelMode == 2) {
            cell(i, 0);
            w.Reserve(1);
            w.Put(u',');
            cell(i, 1);
        } else {
            cell(i, c.channelMode);
        }
        w.Reserve(2);
        w.Put(u'\r');
        w.Put(u'\n');
    }
}

// Appends the Shift-JIS bytes of `text` to `out`.
void appendShiftJis(QStringView text, QByteArray& out);

// Appends data rows: a character up to U+00FF is a byte as it was received
// and is written back as that byte; any other character (only a text put in
// the block by other means) goes through Shift-JIS.
void appendRowBytes(QStringView text, QByteArray& out)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        qsizetype j = i;
        while (j < n && text.at(j).unicode() <= 0xFF)
            ++j;
        out += text.mid(i, j - i).toLatin1();
        for (i = j; j < n && text.at(j).unicode() > 0xFF;)
            ++j;
        appendShiftJis(text.mid(i, j - i), out);
        i = j;
    }
}

const char* const kCodec = "Shift_JIS";

bool haveShiftJis(QString* error)
{
    static const bool available = QStringEncoder(kCodec).isValid();
    if (available)
        return true;
    if (error)
        *error = QStringLiteral("This Qt build has no Shift_JIS encoder.");
    return false;
}

} // namespace

QString RenderDataFile(const DataFileContent& c)
{
    QString out;
    const int rows = rowsOf(c);
    appendHeader(out, c);
    appendRows(out, c, 0, rows);
    return out;
}

bool EncodeDataFile(const DataFileContent& c, const std::function<bool(const QByteArray&)>& sink,
                    QString* error)
{
    if (!haveShiftJis(error))
        return false;
    // Rows are rendered and encoded a slice at a time, so the text of a large
    // block never exists whole and the buffers stay small.
    const int rows = rowsOf(c);
    QString slice;
    QByteArray bytes;
    appendHeader(slice, c);
    appendShiftJis(slice, bytes);
    constexpr int kSliceRows = 2048;
    for (int first = 0; first < rows; first += kSliceRows) {
        slice.resize(0); // keeps the capacity
        appendRows(slice, c, first, qMin(rows, first + kSliceRows));
        appendRowBytes(slice, bytes);
        if (!sink(bytes)) {
            if (error)
                error->clear();
            return false;
        }
        bytes.resize(0);
    }
    if (!bytes.isEmpty() && !sink(bytes)) {
        if (error)
            error->clear();
        return false;
    }
    return true;
}

bool EncodeDataFile(const DataFileContent& c, QByteArray& out, QString* error)
{
    out.clear();
    return EncodeDataFile(c, [&out](const QByteArray& bytes) {
        out += bytes;
        return true;
    }, error);
}

namespace {

void appendShiftJis(QStringView text, QByteArray& out)
{
    // Opening a converter costs far more than a character, so the bytes of
    // every character met are kept for the next texts of this thread, up to
    // a bound (arbitrary texts could name a million code points).
    thread_local QHash<char32_t, QByteArray> cache;
    if (cache.size() > 8192)
        cache.clear();
    // Almost everything is ASCII and is copied as it is. Each other character is
    // encoded on its own by a fresh encoder and kept only when the encoder
    // reports no error and the bytes decode back to the same character: Qt's
    // encoder writes a substitute (not "?") for what it cannot map, and some
    // characters map one way only.
    const qsizetype n = text.size();
    // Every character gives at least one byte; the output grows only when a
    // character needs two.
    qsizetype pos = out.size();
    out.resize(pos + n);
    char* p = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text.at(i).unicode();
        if (u < 0x80) {
            p[pos++] = char(u);
            continue;
        }
        qsizetype len = 1;
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(u, text.at(i + 1).unicode());
            len = 2;
        }
        auto hit = cache.constFind(cp);
        if (hit == cache.constEnd()) {
            const QStringView one = text.mid(i, len);
            QByteArray bytes;
            if (!QChar::isSurrogate(u) || len == 2) {
                QStringEncoder encoder(kCodec);
                bytes = encoder.encode(one);
                bool ok = !encoder.hasError() && !bytes.isEmpty();
                if (ok) {
                    QStringDecoder decoder(kCodec);
                    const QString back = decoder.decode(bytes);
                    ok = !decoder.hasError() && back == one;
                }
                if (!ok)
                    bytes.clear();
            }
            if (bytes.isEmpty())
                bytes = QByteArrayLiteral("?");
            hit = cache.insert(cp, bytes);
        }
        const QByteArray& bytes = *hit;
        i += len - 1;
        const qsizetype need = pos + bytes.size() + (n - i - 1);
        if (need > out.size()) {
            out.resize(need + n / 8 + 16);
            p = out.data();
        }
        std::memcpy(p + pos, bytes.constData(), size_t(bytes.size()));
        pos += bytes.size();
    }
    out.resize(pos);
}

} // namespace

bool EncodeShiftJis(QStringView text, QByteArray& out, QString* error)
{
    out.clear();
    if (!haveShiftJis(error))
        return false;
    appendShiftJis(text, out);
    return true;
}
