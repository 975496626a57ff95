// The data file of arbitrary sample texts and header entries: rendering,
// the millivolt cell rule and the Shift-JIS bytes. Whatever the texts hold,
// the file keeps its shape (8 + rows lines, CR LF endings, one comma per
// two-channel row) and the sliced encoder writes exactly the bytes of the
// one-step encoding.
//
// Input: flags, then texts (a length byte 0..31 and that many bytes, read as
// UTF-8): six header entries, then sample fields, Ch0 then Ch1 per row.
#include <QRegularExpression>
#include <cmath>

#include "app/NumberReading.h"
#include "datafile/DataFile.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SampleBlock block; // 1.3 MiB once; entries are overwritten per input
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    auto text = [&in] { return QString::fromUtf8(in.bytes(in.byte() % 32)); };

    DataFileContent c;
    c.title = QStringLiteral("データ");
    c.dateTime = QStringLiteral("2022/05/10 13:45:12");
    c.gainEntry = text();
    c.filterCaption = text();
    c.rateEntry = text();
    c.channelEntry = text();
    c.channelList0 = text();
    c.channelList1 = text();
    c.shownChannel = c.channelEntry;
    c.channelMode = flags % 4;   // 3: refused shape, header only
    c.hex = flags & 4;
    int rows = 0, field = 0;
    while (!in.empty() && rows < 300) {
        const QString t = text();
        block.SetField(rows, field, t);
        if (!c.hex && IsDecimalNumberText(t)) {
            const QString cell = MillivoltCellText(t);
            const double v = ReadNumber(t);
            // A number too large for a double ("1e400") is written as sent,
            // never as a made-up value. Any other is within half a unit of
            // the third decimal of the number read, with three decimals and
            // a minus sign only where the text has one.
            const bool minus = t.trimmed().startsWith(u'-');
            static const QRegularExpression shape(QStringLiteral("^-?[0-9]+\\.[0-9]{3}$"));
            const bool ok = !std::isfinite(v)
                ? cell == t
                : shape.match(cell).hasMatch()
                      && (cell.startsWith(u'-') ? minus : !(minus && v != 0))
                      && std::fabs(ReadNumber(cell) - v) <= 0.0005 + std::fabs(v) * 1e-15 + 1e-12;
            FUZZ_CHECK(ok, "cell %s: %s", qPrintable(t), qPrintable(cell));
        }
        if (++field == 2) {
            field = 0;
            ++rows;
        }
    }
    if (field == 1)
        block.SetField(rows, 1, QString()); // not left from an earlier input
    c.samples = &block;
    c.rowCount = rows + (field ? 1 : 0);

    const QString file = RenderDataFile(c);
    const QStringList lines = file.split(QStringLiteral("\r\n"));
    // A refused channel mode: the seven header lines only.
    const int expectedLines = c.channelMode == 3 ? 7 : 8 + c.rowCount;
    FUZZ_CHECK(lines.size() == expectedLines + 1 && lines.last().isEmpty(), "%d lines, %d expected",
               int(lines.size()) - 1, expectedLines);
    for (int i = 0; i + 1 < lines.size(); ++i) {
        for (QChar ch : lines[i])
            FUZZ_CHECK(ch.unicode() >= 0x20 && ch.unicode() != 0x7F, "control character in line %d", i);
        if (i >= 8 && c.channelMode == 2)
            FUZZ_CHECK(lines[i].count(u',') == 1, "row %d: %s", i - 8, qPrintable(lines[i]));
        if (i >= 8 && c.channelMode < 2)
            FUZZ_CHECK(!lines[i].contains(u','), "row %d: %s", i - 8, qPrintable(lines[i]));
    }

    // The one-step bytes: the header through Shift-JIS, the rows as the bytes
    // received (a character up to U+00FF is that byte, others Shift-JIS).
    QByteArray once, sliced, streamed;
    QString error;
    qsizetype headerEnd = 0;
    for (int k = 0; k < (c.channelMode == 3 ? 7 : 8); ++k)
        headerEnd = file.indexOf(QStringLiteral("\r\n"), headerEnd) + 2;
    if (!EncodeShiftJis(file.left(headerEnd), once, &error))
        return 0; // no Shift-JIS encoder on this platform
    const QStringView rowText = QStringView(file).mid(headerEnd);
    for (qsizetype i = 0, j = 0; i < rowText.size(); i = j) {
        for (j = i; j < rowText.size() && rowText[j].unicode() > 0xFF;)
            ++j;
        if (j == i) {
            once += char(rowText[j++].unicode());
            continue;
        }
        QByteArray other;
        EncodeShiftJis(rowText.mid(i, j - i), other);
        once += other;
    }
    FUZZ_CHECK(EncodeDataFile(c, sliced), "EncodeDataFile failed");
    FUZZ_CHECK(sliced == once, "sliced encoding differs (%d / %d bytes)", int(sliced.size()),
               int(once.size()));
    FUZZ_CHECK(EncodeDataFile(c, [&](const QByteArray& b) { streamed += b; return true; }),
               "EncodeDataFile(sink) failed");
    FUZZ_CHECK(streamed == once, "streamed encoding differs");
    for (qsizetype i = 0; i < once.size(); ++i) {
        const uchar b = uchar(once[i]);
        if (b == '\r')
            FUZZ_CHECK(i + 1 < once.size() && once[i + 1] == '\n', "lone CR at byte %d", int(i));
        else if (b == '\n')
            FUZZ_CHECK(i > 0 && once[i - 1] == '\r', "lone LF at byte %d", int(i));
        else
            FUZZ_CHECK(b >= 0x20 && b != 0x7F, "control byte %02x at %d", b, int(i));
    }
    // A sink that gives up stops the writer at once.
    int calls = 0;
    FUZZ_CHECK(!EncodeDataFile(c, [&](const QByteArray&) { ++calls; return false; }),
               "a refusing sink was not reported");
    FUZZ_CHECK(calls <= 1, "the writer went on after the sink refused");
    return 0;
}
