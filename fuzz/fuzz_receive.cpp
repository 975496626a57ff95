// The receive path of the real window: arbitrary bytes arriving in arbitrary
// chunks at MSComm1_OnComm, under any set-up - the three programs, hex or
// millivolts, a legal layout or any record length / field width / channel
// mode, counts 0, 1, 65535 or any. A block that completes runs the decoding,
// the peak-to-peak text and the graph as well.
//
// The end of the block (count 65535 completing, count 0 filling all 65535
// entries) is fuzzed on the record cutter itself, starting a few records
// before the end: a window that completes a 65535-entry block decodes and
// draws all of it, far too slow to do for every input.
//
// Input: 6 set-up bytes, then chunks (one length byte 1..64, then its bytes).
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "support/FakeDialogs.h"
#include "app/Dialogs.h"
#include "app/Form1.h"
#include "fuzz/FuzzSupport.h"
#include "measure/PictureBox.h"
#include "measure/Reception.h"
#include "support/FakeCommPort.h"

namespace {

struct Window {
    FakeCommPort* port = nullptr;
    std::unique_ptr<Form1> form;
};

FakeDialogs g_dialogs;
Window g_windows[3];

Window& WindowFor(int program)
{
    Window& w = g_windows[program];
    if (!w.form) {
        const BuildProfile& p = program == 0 ? kVexloDemoProfile
                                             : (program == 1 ? kVexloProfile : kTamrixProfile);
        w.port = new FakeCommPort;
        w.form = std::make_unique<Form1>(p, w.port, &g_dialogs);
        w.port->Open();
    }
    return w;
}

// CutRecords a few records before the end of the block, fed in chunks.
void NearEnd(FuzzInput& in, uint8_t flags, uint8_t modeByte, uint8_t widthByte, uint8_t lengthByte,
             qint32 count)
{
    static SampleBlock block;
    RecordLayout layout = MakeRecordLayout(modeByte % 3, flags & 1);
    if (flags & 2) {
        layout.channelMode = int8_t(modeByte) % 5;
        layout.fieldWidth = widthByte % 41;
        layout.recordLength = lengthByte % 91;
    }
    qint32 recv = kSampleCapacity - 1 - (widthByte % 8);
    QString buffer;
    bool ended = false;
    while (!in.empty() && !ended) {
        buffer += QLatin1StringView(in.bytes(size_t(1 + in.byte() % 64)));
        const qint32 before = recv;
        const qsizetype had = buffer.size();
        const CutResult r = CutRecords(buffer, layout, block, recv, count);
        FUZZ_CHECK(recv == before + r.stored && recv <= kSampleCapacity, "recv %d", int(recv));
        FUZZ_CHECK(had - buffer.size() == qsizetype(r.stored) * layout.recordLength,
                   "took %d characters for %d records", int(had - buffer.size()), r.stored);
        FUZZ_CHECK(!(r.complete && r.full), "complete and full at once");
        if (r.complete)
            FUZZ_CHECK(recv == count, "complete at %d of %d", int(recv), count);
        if (r.full)
            FUZZ_CHECK(recv == kSampleCapacity && count == 0, "full at %d (count %d)", int(recv), count);
        ended = r.complete || r.full;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    new QApplication(qtArgc, qtArgv); // lives for the whole run
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    const uint8_t modeByte = in.byte();
    const uint8_t widthByte = in.byte();
    const uint8_t lengthByte = in.byte();
    const uint8_t countByte = in.byte();
    const uint8_t gainByte = in.byte();

    Window& win = WindowFor((flags >> 2) % 3);
    Form1& w = *win.form;
    FakeCommPort& port = *win.port;
    if (!port.PortOpen())
        port.Open();
    port.writes.clear();
    port.ClearInput();

    const bool hex = flags & 1;
    const bool rawLayout = flags & 2;
    qint32 count;
    switch (countByte % 4) {
    case 0: count = 0; break;
    case 1: count = 65535; break;
    case 2: count = 1; break;
    default: count = 1 + countByte / 4 + (flags >> 5) * 64; break;
    }
    if ((flags & 16) && (count == 0 || count == 65535)) {
        NearEnd(in, flags, modeByte, widthByte, lengthByte, count);
        return 0;
    }

    if (rawLayout) {
        w.ChannelMode = qint16(int8_t(modeByte) % 5);
        w.FieldWidth = qint16(widthByte % 41);
        w.RecordLength = qint16(lengthByte % 91);
    } else {
        w.ChannelMode = qint16(modeByte % 3);
        w.FieldWidth = hex ? 6 : 9;
        w.RecordLength = qint16(w.FieldWidth * (w.ChannelMode == 2 ? 2 : 1) + 1);
    }
    w.GainIndex = qint16(int(gainByte % 8) - 1);
    w.MeasuredHex = hex;
    w.SampleCount = count;
    // The block keeps the texts of earlier inputs, as between two
    // measurements of the program; a completed block has overwritten every
    // entry it reads. (Clearing would reallocate 1.3 MiB per input.)
    w.RecvCount = 0;
    const qint32 startCount = 0;
    w.RecvBuffer.clear();
    w.Measuring = true;
    w.SendB2->setText(QStringLiteral("測定停止"));
    port.SetRThreshold(1);

    while (!in.empty() && w.Measuring) {
        const int n = 1 + in.byte() % 64;
        port.Feed(in.bytes(size_t(n)), false);
        FUZZ_CHECK(w.RecvCount >= startCount && w.RecvCount <= kSampleCapacity, "RecvCount %d",
                   int(w.RecvCount));
        if (count > 0 && startCount <= count)
            FUZZ_CHECK(w.RecvCount <= count, "RecvCount %d beyond count %d", int(w.RecvCount), count);
    }
    if (!w.Measuring && w.Status->text().startsWith(QStringLiteral("測定終了"))) {
        const int drawn = w.ChannelMode == 2 ? 2 : 1;
        FUZZ_CHECK(w.Picture1->Lines().size() <= size_t(drawn) * size_t(qMax(w.SampleCount, 1)),
                   "%zu lines", w.Picture1->Lines().size());
    }
    if (w.Measuring)
        w.SendB2_Click(); // the operator stops
    FUZZ_CHECK(!w.Measuring, "still measuring after the stop");
    return 0;
}
