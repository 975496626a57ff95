#include "measure/Reception.h"

#include "measure/SampleBlock.h"

RecordLayout MakeRecordLayout(int channelMode, bool hex)
{
    RecordLayout l;
    l.channelMode = channelMode;
    l.fieldWidth = hex ? 6 : 9;
    if (channelMode == 0 || channelMode == 1)
        l.recordLength = l.fieldWidth + 1;
    else if (channelMode == 2)
        l.recordLength = 2 * l.fieldWidth + 1;
    return l;
}

CutResult CutRecords(QString& buffer, const RecordLayout& layout, SampleBlock& block,
                     qint32& recvCount, qint32 sampleCount)
{
    CutResult r;
    const int fields = layout.channelMode == 2 ? 2 : 1;
    if (layout.fieldWidth <= 0 || layout.recordLength < fields * layout.fieldWidth
        || layout.channelMode < 0 || layout.channelMode > 2)
        return r;

    const QStringView all(buffer);
    qsizetype offset = 0;
    while (all.size() - offset >= layout.recordLength) {
        if (recvCount >= kSampleCapacity || recvCount < 0)
            break;
        const QStringView first = all.mid(offset, layout.fieldWidth);
        if (layout.channelMode == 0) {
            block.SetCh0(recvCount, first);
        } else if (layout.channelMode == 1) {
            block.SetCh1(recvCount, first);
        } else {
            block.SetCh0(recvCount, first);
            block.SetCh1(recvCount, all.mid(offset + layout.fieldWidth, layout.fieldWidth));
        }
        offset += layout.recordLength;
        ++recvCount;
        ++r.stored;
        if (recvCount == sampleCount) {
            r.complete = true;
            break;
        }
    }
    r.full = !r.complete && (recvCount >= kSampleCapacity || recvCount < 0);
    if (offset > 0)
        buffer.remove(0, offset);
    return r;
}

QString ProgressText(const SampleBlock& block, int channelMode, int i, qint32 number)
{
    QString s = QString::number(number) + QLatin1Char('/');
    if (channelMode == 0)
        s += block.Ch0(i);
    else if (channelMode == 1)
        s += block.Ch1(i);
    else if (channelMode == 2)
        s += block.Ch0(i) + QStringLiteral(", ") + block.Ch1(i);
    return s;
}
