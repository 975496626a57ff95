// Reading any bytes as a data file: never a crash or a hang, and what is
// delivered keeps its promises: blocks in index order without gaps, within
// the block size, every cell a sample of the column's unit (hexadecimal
// digits, or one decimal number), no more rows than lines after the header,
// and the report's count of rows equal to what the sink got.
//
// Input: one byte for the block size (1..256 rows), then the file's bytes.
#include <QBuffer>

#include "datafile/DataFileReader.h"
#include "fuzz/FuzzSupport.h"
#include "stream/RecordSink.h"

namespace {

class CheckingSink : public RecordSink {
public:
    bool Begin(const StreamInfo&) override { return ++begins == 1; }
    bool Append(const SampleBlock& b, int count, qint64 first) override
    {
        FUZZ_CHECK(begins == 1 && count >= 1 && count <= blockRows, "block of %d rows", count);
        FUZZ_CHECK(first == next, "block at %lld, %lld expected", qlonglong(first), qlonglong(next));
        const int mode = header->content.channelMode;
        for (int i = 0; i < count; ++i) {
            for (int ch = 0; ch < 2; ++ch) {
                if (mode != 2 && ch != mode)
                    continue;
                const QString t = b.Field(i, ch);
                bool ok = !t.isEmpty();
                for (QChar c : t)
                    ok = ok && (header->content.hex ? QStringLiteral("0123456789ABCDEFabcdef").contains(c)
                                                    : c.unicode() < 0x100);
                ok = ok && (header->content.hex || IsDecimalNumberText(t));
                FUZZ_CHECK(ok, "row %lld: cell \"%s\"", qlonglong(first + i), qPrintable(t));
            }
        }
        next += count;
        return true;
    }
    bool Finish(qint64 total) override
    {
        FUZZ_CHECK(total == next, "finished at %lld of %lld", qlonglong(total), qlonglong(next));
        finished = true;
        return true;
    }
    QString Error() const override { return {}; }
    const DataFileHeader* header = nullptr;
    int blockRows = 0, begins = 0;
    qint64 next = 0;
    bool finished = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const int blockRows = 1 + in.byte();
    QByteArray bytes = in.rest();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    DataFileReader reader;
    if (!reader.Open(&buffer)) {
        FUZZ_CHECK(!reader.Error().isEmpty(), "refused without a reason");
        return 0;
    }
    CheckingSink sink;
    sink.header = &reader.Header();
    sink.blockRows = blockRows;
    FUZZ_CHECK(reader.Header().channels == 1 || reader.Header().channels == 2 || reader.Report().cutShort,
               "%d channels", reader.Header().channels);
    FUZZ_CHECK(reader.ReadRows(sink, blockRows), "reading failed: %s", qPrintable(reader.Error()));
    const DataFileReport& r = reader.Report();
    FUZZ_CHECK(sink.finished && r.rows == sink.next, "report says %lld rows", qlonglong(r.rows));
    FUZZ_CHECK(r.rows + r.blankLines.count + r.malformedRows.count + (r.tornLine ? 1 : 0) + 8 <= r.lines
                   || r.cutShort,
               "%lld rows in %lld lines", qlonglong(r.rows), qlonglong(r.lines));
    return 0;
}
