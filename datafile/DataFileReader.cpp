#include "datafile/DataFileReader.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cstring>

#include "app/NumberReading.h"
#include "stream/RecordSink.h"

namespace {

// Bytes read from the device at a time, and the longest line kept: a row
// is a few tens of bytes, a header line a few dozen, so anything longer is
// damage and only its first bytes are looked at.
constexpr qint64 kChunk = 1 << 20;
constexpr qsizetype kMaxLine = 4096;
// A cell longer than this is no sample text of either unit.
constexpr qsizetype kMaxCell = 32;

const QString kFilterLabel = QStringLiteral("フィルタ : ");
const QString kRateLabel = QStringLiteral("データレート : ");
const QString kChannelLabel = QStringLiteral("測定ＣＨ : ");
const QString kCountLabel = QStringLiteral("データ個数 : ");
const QString kHexUnit = QStringLiteral(" [hex]");
const QString kMvUnit = QStringLiteral(" [mV]");

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool hasControl(QByteArrayView b)
{
    for (char c : b)
        if (uchar(c) < 0x20 || uchar(c) == 0x7F)
            return true;
    return false;
}

// A cell that holds one sample of the column's unit: hexadecimal digits for
// codes (as many as a field can hold), one decimal number for millivolts.
bool isSampleCell(QByteArrayView cell, bool hex)
{
    if (cell.isEmpty() || cell.size() > kMaxCell)
        return false;
    if (hex) {
        if (cell.size() > SampleBlock::kSlotChars)
            return false;
        for (char c : cell)
            if (!isHexDigit(c))
                return false;
        return true;
    }
    // The usual shape first: optional sign, digits, optional point and digits.
    qsizetype i = cell[0] == '-' || cell[0] == '+' ? 1 : 0;
    bool digits = false;
    while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9')
        ++i, digits = true;
    if (i < cell.size() && cell[i] == '.')
        for (++i; i < cell.size() && cell[i] >= '0' && cell[i] <= '9'; ++i)
            digits = true;
    if (i == cell.size())
        return digits;
    if (hasControl(cell))
        return false;
    char16_t wide[kMaxCell];
    for (qsizetype k = 0; k < cell.size(); ++k)
        wide[k] = uchar(cell[k]);
    return IsDecimalNumberText(QStringView(wide, cell.size()));
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

} // namespace

qint64 LocalTimeFromText(QByteArrayView t)
{
    // yyyy-MM-ddTHH:mm:ss[.z[z[z]]] (a blank in place of the T too)
    auto num = [&](qsizetype at, int n, int* out) {
        if (at + n > t.size())
            return false;
        int v = 0;
        for (int k = 0; k < n; ++k) {
            const char c = t[at + k];
            if (c < '0' || c > '9')
                return false;
            v = v * 10 + (c - '0');
        }
        *out = v;
        return true;
    };
    int y, mo, d, h, mi, s;
    if (t.size() < 19 || !num(0, 4, &y) || t[4] != '-' || !num(5, 2, &mo) || t[7] != '-'
        || !num(8, 2, &d) || (t[10] != 'T' && t[10] != ' ') || !num(11, 2, &h) || t[13] != ':'
        || !num(14, 2, &mi) || t[16] != ':' || !num(17, 2, &s))
        return kNoTime;
    int ms = 0;
    if (t.size() > 19) {
        const qsizetype digits = t.size() - 20;
        if (t[19] != '.' || digits < 1 || digits > 3 || !num(20, int(digits), &ms))
            return kNoTime;
        for (qsizetype k = digits; k < 3; ++k)
            ms *= 10;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return kNoTime;
    return (daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s) * 1000 + ms;
}

QString LocalTimeText(qint64 ms)
{
    if (ms == kNoTime)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"));
}

QStringList DataFileReport::Describe() const
{
    QStringList out;
    if (cutShort)
        out << QStringLiteral("the file ends before its column header (%1 lines)").arg(lines);
    if (blankLines.count)
        out << QStringLiteral("line %1: blank line (%2 in all, skipped)")
                   .arg(blankLines.firstLine).arg(blankLines.count);
    if (malformedRows.count)
        out << QStringLiteral("line %1: malformed row (%2 in all, skipped)")
                   .arg(malformedRows.firstLine).arg(malformedRows.count);
    if (badTimes.count)
        out << QStringLiteral("line %1: unreadable time (%2 in all)")
                   .arg(badTimes.firstLine).arg(badTimes.count);
    if (tornLine)
        out << QStringLiteral("line %1: the last row has no line ending (torn, skipped)").arg(tornLine);
    if (CountDisagrees())
        out << QStringLiteral("line 7: the count says %1, %2 rows were read").arg(declaredCount).arg(rows);
    return out;
}

DataFileReader::DataFileReader() = default;
DataFileReader::~DataFileReader() = default;

bool DataFileReader::Open(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        error_ = path + QStringLiteral(": no such file");
        return false;
    }
    if (!info.isFile()) {
        error_ = path + QStringLiteral(": not a plain file");
        return false;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        error_ = path + QStringLiteral(": ") + file->errorString();
        return false;
    }
    owned_ = std::move(file);
    if (!Open(owned_.get())) {
        error_.prepend(path + QStringLiteral(": "));
        return false;
    }
    return true;
}

bool DataFileReader::Open(QIODevice* device)
{
    dev_ = device;
    pos_ = end_ = 0;
    eof_ = false;
    header_ = DataFileHeader();
    report_ = DataFileReport();
    error_.clear();
    return readHeader();
}

// The next line without its ending (a view into the buffer, valid until the
// next call); `ended` tells whether it had one (false: the device ended
// within the line). False when nothing is left. A line longer than kMaxLine
// keeps its first kMaxLine bytes; the buffer never holds more than those and
// one chunk.
bool DataFileReader::nextLine(QByteArrayView* line, bool* ended)
{
    for (;;) {
        const char* b = buf_.data() + pos_;
        const qsizetype avail = end_ - pos_;
        const char* nl = avail > 0 ? static_cast<const char*>(std::memchr(b, '\n', size_t(avail))) : nullptr;
        if (nl) {
            qsizetype len = nl - b;
            pos_ += len + 1;
            if (len > 0 && b[len - 1] == '\r')
                --len;
            *line = QByteArrayView(b, qMin(len, kMaxLine));
            *ended = true;
            ++report_.lines;
            return true;
        }
        if (eof_) {
            if (avail <= 0)
                return false;
            pos_ = end_;
            *line = QByteArrayView(b, qMin(avail, kMaxLine));
            *ended = false;
            ++report_.lines;
            return true;
        }
        // Move what is left of the line to the front (an overlong line only
        // its start) and fill the rest of the buffer.
        const qsizetype keep = qMin(avail, kMaxLine);
        if (buf_.empty())
            buf_.resize(size_t(kChunk + kMaxLine));
        if (keep > 0)
            std::memmove(buf_.data(), b, size_t(keep));
        pos_ = 0;
        end_ = keep;
        const qint64 got = dev_->read(buf_.data() + end_, kChunk);
        end_ += qMax<qint64>(0, got);
        if (got <= 0)
            eof_ = true;
        if (got < 0 && error_.isEmpty())
            error_ = dev_->errorString();
    }
}

bool DataFileReader::readHeader()
{
    // A file re-saved by an editor may start with the UTF-8 mark.
    QByteArray lines[8];
    bool ended = false;
    int have = 0;
    QByteArrayView view;
    while (have < 8 && nextLine(&view, &ended)) {
        lines[have] = view.toByteArray();
        if (have == 0 && lines[0].startsWith("\xEF\xBB\xBF")) {
            lines[0].remove(0, 3);
            utf8_ = true;
        }
        ++have;
        if (!ended)
            break;
    }
    if (have < 4) {
        error_ = have == 0 ? QStringLiteral("an empty file, not a data file")
                           : QStringLiteral("not a data file (only %1 lines)").arg(have);
        return false;
    }
    if (hasControl(lines[0]) || hasControl(lines[1])) {
        error_ = QStringLiteral("not a data file (line %1 holds control bytes)").arg(hasControl(lines[0]) ? 1 : 2);
        return false;
    }
    auto decode = [&](const QByteArray& b) {
        if (utf8_)
            return QString::fromUtf8(b);
        QStringDecoder dec("Shift_JIS");
        return dec.isValid() ? dec.decode(b) : QString::fromLatin1(b);
    };
    if (!utf8_ && !decode(lines[3]).startsWith(kFilterLabel) && QString::fromUtf8(lines[3]).startsWith(kFilterLabel))
        utf8_ = true;
    QString text[8];
    for (int i = 0; i < have; ++i)
        text[i] = decode(lines[i]);
    const QString* labels[4] = {&kFilterLabel, &kRateLabel, &kChannelLabel, &kCountLabel};
    for (int i = 3; i < qMin(have, 7); ++i) {
        if (!text[i].startsWith(*labels[i - 3])) {
            error_ = QStringLiteral("not a data file (line %1 does not begin with \"%2\")")
                         .arg(i + 1)
                         .arg(labels[i - 3]->trimmed());
            return false;
        }
    }
    DataFileContent& c = header_.content;
    c.title = text[0];
    c.dateTime = text[1];
    c.gainEntry = text[2];
    c.filterCaption = text[3].mid(kFilterLabel.size());
    if (have > 4)
        c.rateEntry = text[4].mid(kRateLabel.size());
    if (have > 5)
        c.channelEntry = text[5].mid(kChannelLabel.size());
    c.shownChannel = c.channelEntry;
    header_.samplesPerSecond = qMax(0.0, ReadNumber(c.rateEntry));
    if (have > 6) {
        const QString count = text[6].mid(kCountLabel.size()).trimmed();
        bool ok = !count.isEmpty();
        for (QChar ch : count)
            ok = ok && ch >= u'0' && ch <= u'9';
        header_.declaredCount = ok ? count.toLongLong(&ok) : -1;
        if (!ok)
            header_.declaredCount = -1;
    }
    report_.declaredCount = header_.declaredCount;
    if (have < 8) {
        report_.cutShort = true;
        return true;
    }

    // Column header: an optional time column, then one or two data columns
    // of one unit.
    QStringList titles = text[7].split(u',');
    if (titles.size() >= 2 && !titles[0].endsWith(kHexUnit) && !titles[0].endsWith(kMvUnit)) {
        header_.timeColumn = true;
        titles.removeFirst();
    }
    const bool hex = !titles.isEmpty() && titles[0].endsWith(kHexUnit);
    const QString& unit = hex ? kHexUnit : kMvUnit;
    bool ok = titles.size() == 1 || titles.size() == 2;
    for (QString& t : titles) {
        ok = ok && t.endsWith(unit);
        t.chop(unit.size());
    }
    if (!ok) {
        error_ = QStringLiteral("not a data file (line 8 is no column header: \"%1\")").arg(text[7].left(80));
        return false;
    }
    c.hex = hex;
    header_.channels = int(titles.size());
    if (titles.size() == 2) {
        c.channelMode = 2;
        c.channelList0 = titles[0];
        c.channelList1 = titles[1];
    } else {
        c.channelMode = titles[0].startsWith(QStringLiteral("CH1")) ? 1 : 0;
        c.shownChannel = titles[0];
    }
    if (!ended)
        report_.cutShort = true; // the column header itself was torn
    return true;
}

void DataFileReader::takeRow(QByteArrayView line, qint64 lineNo)
{
    const bool hex = header_.content.hex;
    const int channels = header_.channels;
    QByteArrayView cells[3];
    int n = 0;
    qsizetype start = 0;
    for (;;) {
        // Cells are a few bytes: a plain loop beats a call to memchr.
        qsizetype comma = start;
        while (comma < line.size() && line[comma] != ',')
            ++comma;
        if (comma == line.size())
            comma = -1;
        if (n == 3) {
            n = 4; // too many
            break;
        }
        cells[n++] = line.sliced(start, (comma < 0 ? line.size() : comma) - start);
        if (comma < 0)
            break;
        start = comma + 1;
    }
    const int first = header_.timeColumn ? 1 : 0;
    bool ok = n == first + channels;
    for (int k = first; ok && k < n; ++k)
        ok = isSampleCell(cells[k], hex);
    if (!ok) {
        report_.malformedRows.Add(lineNo);
        return;
    }
    for (int k = 0; k < channels; ++k) {
        const QByteArrayView cell = cells[first + k];
        const int channel = channels == 2 ? k : header_.content.channelMode;
        block_.SetFieldLatin1(inBlock_, channel, QLatin1StringView(cell.data(), cell.size()));
    }
    if (header_.timeColumn) {
        qint64 t = kNoTime;
        if (!cells[0].isEmpty()) {
            t = LocalTimeFromText(cells[0]);
            if (t == kNoTime)
                report_.badTimes.Add(lineNo);
        }
        times_.push_back(t);
    }
    ++inBlock_;
}

bool DataFileReader::flush(RecordSink& sink)
{
    if (inBlock_ == 0)
        return true;
    const bool ok = sink.Append(block_, inBlock_, delivered_);
    delivered_ += inBlock_;
    report_.rows = delivered_;
    inBlock_ = 0;
    times_.clear();
    return ok;
}

bool DataFileReader::ReadRows(RecordSink& sink, int blockRows)
{
    blockRows = qBound(1, blockRows, kSampleCapacity);
    inBlock_ = 0;
    delivered_ = 0;
    times_.clear();
    bool begun = false;
    auto begin = [&] {
        StreamInfo info;
        info.header = header_.content;
        info.samplesPerSecond = header_.samplesPerSecond;
        if (!times_.empty() && times_.front() != kNoTime) {
            // The wall clock as read, taken as this machine's local time.
            const QDateTime read = QDateTime::fromMSecsSinceEpoch(times_.front(), Qt::UTC);
            info.started = QDateTime(read.date(), read.time());
        } else {
            info.started = QDateTime::fromString(header_.content.dateTime, QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        }
        if (owned_)
            info.port = static_cast<QFile*>(owned_.get())->fileName();
        begun = true;
        return sink.Begin(info);
    };
    if (!report_.cutShort && header_.channels > 0) {
        QByteArrayView line;
        bool ended = false;
        while (nextLine(&line, &ended)) {
            const qint64 lineNo = report_.lines;
            if (!ended) {
                // The device ended inside this line: a torn row, unless the
                // file merely lacks its last line ending after a blank.
                if (!line.isEmpty())
                    report_.tornLine = lineNo;
                break;
            }
            if (line.isEmpty()) {
                report_.blankLines.Add(lineNo);
                continue;
            }
            takeRow(line, lineNo);
            if (inBlock_ == blockRows) {
                if (!begun && !begin())
                    return false;
                if (!flush(sink))
                    return false;
            }
        }
    }
    if (!begun && !begin())
        return false;
    if (!flush(sink))
        return false;
    report_.rows = delivered_;
    if (!sink.Finish(delivered_))
        return false;
    return error_.isEmpty();
}
