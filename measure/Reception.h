#pragma once
// Cutting the sample stream into records. A record is the sample text(s)
// followed by one ending character that is never examined:
//   channel mode 0: Ch0 text, end      (7 / 10 characters, hex / mV)
//   channel mode 1: Ch1 text, end      (7 / 10)
//   channel mode 2: Ch0, Ch1, end      (13 / 19)

#include <QString>
#include <QtGlobal>

class SampleBlock;

struct RecordLayout {
    int channelMode = 0;   // 0, 1 or 2
    int fieldWidth = 0;    // 6 (hex) or 9 (mV)
    int recordLength = 0;  // fields * fieldWidth + 1
};

// The layout of a measurement: `hex` chooses the field width, the channel
// mode the number of fields. Modes outside 0..2 give recordLength 0.
RecordLayout MakeRecordLayout(int channelMode, bool hex);

struct CutResult {
    int stored = 0;         // records stored by this call
    bool complete = false;  // recvCount reached sampleCount
    bool full = false;      // all 65535 entries are used and the block is not complete
};

// Cuts whole records off the front of `buffer` and stores them into `block`
// at recvCount, counting recvCount up. Stops when less than a record is left,
// when recvCount reaches sampleCount (the rest stays in the buffer), or when
// all 65535 entries of the block are used (`full`, only possible when
// sampleCount is 0 or outside the block; nothing is ever stored beyond). The buffer is shortened once, at the end, by what was taken. A
// record length that cannot hold its fields takes nothing.
CutResult CutRecords(QString& buffer, const RecordLayout& layout, SampleBlock& block,
                     qint32& recvCount, qint32 sampleCount);

// The progress line for entry i: "12/0A1B2C", or "12/0A1B2C, 0B1C2D" for two
// channels (`number` is the count shown before the "/").
QString ProgressText(const SampleBlock& block, int channelMode, int i, qint32 number);
