// acquire and log: start the board's stream as the window does, cut it into
// records with the window's CutRecords, and write the window's data file
// (DataFileContent, EncodeDataFile). acquire keeps one block in memory and
// replaces the target file when done; log appends rows as they arrive and
// corrects the count line at the end.

#include "cli/Measure.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

#include "board/BoardLists.h"
#include "cli/BoardSession.h"
#include "cli/Progress.h"
#include "cli/SignalWatch.h"
#include "datafile/DataFile.h"
#include "datafile/DataFileWriter.h"
#include "measure/Reception.h"
#include "measure/SampleBlock.h"

// Stats.cpp: prints the figures (--stats); the exit code for --strict.
int PrintBlockStats(const SampleBlock& block, const CliOptions& o, int gainCode, const QString& rateText, int count);

namespace {

const char16_t kSaveFailed[] = u"データファイルを保存出来ませんでした";

// Samples per second of each rate code.
constexpr double kRates[] = {5, 10, 20, 50, 60, 100, 200, 400, 800, 960, 1200};

// How long a stream may stay silent before the board counts as not answering:
// a few sample periods on top of a generous start-up allowance.
qint64 stallLimitMs(int rateCode)
{
    const double sps = rateCode >= 0 && rateCode < 11 ? kRates[rateCode] : 5;
    return 5000 + qint64(3000 / sps);
}

// The header of the file as the window writes it for the board's state.
DataFileContent headerContent(const BoardInfo& info, int rateEntries, int channel, bool hex)
{
    const QStringList& channels = ChannelListEntries();
    DataFileContent c;
    c.title = QStringLiteral("データ");
    c.dateTime = DataFileDateTimeText(QDateTime::currentDateTime());
    c.gainEntry = GainListEntries().value(info.gainCode);
    c.filterCaption = info.status.label;
    c.rateEntry = RateListEntries(rateEntries).value(info.rateCode);
    c.channelEntry = channels.value(channel);
    c.channelList0 = channels.value(0);
    c.channelList1 = channels.value(1);
    c.shownChannel = channels.value(channel);
    c.channelMode = channel;
    c.hex = hex;
    return c;
}

bool refused(const QString& buffer)
{
    return buffer.startsWith(QLatin1String("NG"));
}

} // namespace

int ApplySettings(BoardSession& s, const CliOptions& o, bool report)
{
    if (o.rateCode) {
        if (*o.rateCode >= s.RateEntries()) {
            Complain(QStringLiteral("データレート設定できませんでした"));
            return kExitUsage;
        }
        if (const int rc = s.SetRate(*o.rateCode, true))
            return rc;
        if (report)
            PrintLine(QStringLiteral("rate: ") + RateListEntries(s.RateEntries()).value(*o.rateCode));
    }
    if (o.gainCode) {
        if (const int rc = s.SetGain(*o.gainCode, true))
            return rc;
        if (report)
            PrintLine(QStringLiteral("gain: ") + GainListEntries().value(*o.gainCode));
    }
    return kExitOk;
}

int RunAcquire(const CliOptions& o, SignalWatch* watch)
{
    const int count = int(o.count.value_or(0));
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;
    if (const int rc = ApplySettings(s, o, false))
        return rc;
    if (const int rc = s.Start(o.hex, o.channel, count))
        return rc;

    const RecordLayout layout = MakeRecordLayout(o.channel, o.hex);
    SampleBlock block;
    qint32 recv = 0;
    QString buffer;
    Progress progress(o.quiet, count);
    QElapsedTimer sinceBytes;
    sinceBytes.start();
    const qint64 stallMs = stallLimitMs(s.Info().rateCode);

    int rc = kExitOk;
    for (;;) {
        const QByteArray in = s.Input();
        if (!in.isEmpty()) {
            // One character per byte: records are cut by the bytes the board sent.
            buffer.append(QLatin1StringView(in));
            sinceBytes.restart();
        }
        if (recv == 0 && refused(buffer)) {
            progress.Finish();
            Complain(QStringLiteral("測定開始エラー... "));
            return kExitRefused;
        }
        CutRecords(buffer, layout, block, recv, count);
        progress.Update(recv);
        if (recv >= count)
            break;
        if (s.PortLost()) {
            progress.Finish();
            Complain(QStringLiteral("COMポートが切断されました"));
            rc = kExitPort;
            break;
        }
        if (s.Interrupted()) {
            s.Stop(o.hex);
            progress.Finish();
            Complain(QStringLiteral("測定停止しました"));
            rc = s.InterruptExit();
            break;
        }
        if (sinceBytes.elapsed() > stallMs) {
            s.Stop(o.hex);
            progress.Finish();
            Complain(NoAnswerText(CliBoardName()));
            rc = kExitNoBoard;
            break;
        }
        s.Wait(250);
    }
    progress.Finish();
    s.Close();

    // Every record that arrived is kept, also after a fault.
    if (recv > 0) {
        DataFileContent content = headerContent(s.Info(), s.RateEntries(), o.channel, o.hex);
        content.samples = &block;
        content.rowCount = recv;
        bool written = false;
        QString reason;
        if (o.output == u"-") {
            written = EncodeDataFile(content, [](const QByteArray& bytes) {
                return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout)
                    == size_t(bytes.size());
            }, &reason) && std::fflush(stdout) == 0;
        } else {
            written = WriteDataFileReplacing(o.output, content, &reason);
        }
        if (!written) {
            Complain(QString::fromUtf16(kSaveFailed) + (reason.isEmpty() ? QString() : u' ' + reason));
            return kExitFile;
        }
        if ((o.stats || o.strict) && rc == kExitOk)
            rc = PrintBlockStats(block, o, s.Info().gainCode,
                                 RateListEntries(s.RateEntries()).value(s.Info().rateCode), recv);
    }
    return rc;
}

namespace {

// The log file: the window's header with the count field padded to a fixed
// width, then rows appended as they arrive; the count is written into its
// field at the end.
class LogFile {
public:
    static constexpr int kCountWidth = 10;

    bool Open(const QString& path, const DataFileContent& header)
    {
        const QFileInfo target(path);
        if (target.exists() && !target.isFile())
            return false;
        file_.setFileName(path);
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        content_ = header;
        content_.samples = nullptr;
        content_.rowCount = 0;
        QByteArray bytes;
        if (!EncodeDataFile(content_, bytes))
            return false;
        // Line 7 ends with the count, " 0" for an empty block.
        const int end7 = lineEnd(bytes, 7);
        if (end7 < 1 || bytes[end7 - 1] != '0')
            return false;
        countPos_ = end7 - 1;
        bytes.replace(countPos_, 1, QByteArray("0").leftJustified(kCountWidth, ' '));
        return write(bytes);
    }

    // Rows 0..n-1 of `block`, rendered as the window renders them.
    bool AppendRows(const SampleBlock& block, int n)
    {
        if (n <= 0)
            return true;
        content_.samples = &block;
        content_.rowCount = n;
        QByteArray bytes;
        const bool ok = EncodeDataFile(content_, bytes);
        content_.samples = nullptr;
        const int start = lineEnd(bytes, 8);
        return ok && start > 0 && write(bytes.mid(start));
    }

    // The count so far goes into its field and everything to the disk, so a
    // run killed outright leaves a file whose count is at most one sync old.
    bool Sync(qint64 total)
    {
        return writeCount(total) && ::fdatasync(file_.handle()) == 0;
    }

    bool Finish(qint64 total)
    {
        const bool ok = Sync(total);
        file_.close();
        return ok;
    }

private:
    // Offset just past the CR LF that ends line `n` (1-based); -1 if missing.
    static int lineEnd(const QByteArray& bytes, int n)
    {
        int pos = 0;
        for (int i = 0; i < n; ++i) {
            const int cr = bytes.indexOf("\r\n", pos);
            if (cr < 0)
                return -1;
            pos = cr + 2;
        }
        return n == 7 ? pos - 2 : pos;
    }

    bool writeCount(qint64 total)
    {
        if (!file_.flush())
            return false;
        const qint64 end = file_.pos();
        return file_.seek(countPos_)
            && write(QByteArray::number(total).leftJustified(kCountWidth, ' ')) && file_.seek(end);
    }

    bool write(const QByteArray& bytes)
    {
        return file_.write(bytes) == bytes.size() && file_.flush();
    }

    QFile file_;
    DataFileContent content_;
    qint64 countPos_ = 0;
};

} // namespace

int RunLog(const CliOptions& o, SignalWatch* watch)
{
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;
    if (const int rc = ApplySettings(s, o, false))
        return rc;

    LogFile file;
    if (!file.Open(o.output, headerContent(s.Info(), s.RateEntries(), o.channel, o.hex))) {
        Complain(QString::fromUtf16(kSaveFailed));
        return kExitFile;
    }
    // Count 0: the board streams until it is stopped.
    if (const int rc = s.Start(o.hex, o.channel, 0))
        return rc;

    const qint64 limit = o.count.value_or(0);
    const qint64 durationMs = o.durationMs.value_or(0);
    const RecordLayout layout = MakeRecordLayout(o.channel, o.hex);
    SampleBlock chunk;
    qint32 fill = 0;
    qint64 total = 0;
    QString buffer;
    Progress progress(o.quiet, limit);
    QElapsedTimer run, sinceBytes, sinceWrite, sinceSync;
    run.start();
    sinceBytes.start();
    sinceWrite.start();
    sinceSync.start();
    const qint64 stallMs = stallLimitMs(s.Info().rateCode);
    constexpr int kWriteMs = 250;
    constexpr int kSyncMs = 1000;

    int rc = kExitOk;
    bool fileFailed = false;
    auto writeRows = [&] {
        if (!file.AppendRows(chunk, fill))
            fileFailed = true;
        total += fill;
        fill = 0;
        sinceWrite.restart();
        return !fileFailed;
    };

    bool done = false;
    while (!done) {
        const QByteArray in = s.Input();
        if (!in.isEmpty()) {
            buffer.append(QLatin1StringView(in));
            sinceBytes.restart();
        }
        if (total == 0 && fill == 0 && refused(buffer)) {
            progress.Finish();
            Complain(QStringLiteral("測定開始エラー... "));
            file.Finish(0);
            return kExitRefused;
        }
        for (;;) {
            const qint32 want = qint32(limit > 0 ? qMin<qint64>(kSampleCapacity, limit - total - 0)
                                                 : kSampleCapacity);
            const CutResult cut = CutRecords(buffer, layout, chunk, fill, want);
            if (!cut.complete)
                break;
            if (!writeRows() || (limit > 0 && total >= limit)) {
                done = true;
                break;
            }
        }
        if (done)
            break;
        if (fill > 0 && sinceWrite.elapsed() >= kWriteMs && !writeRows())
            break;
        if (sinceSync.elapsed() >= kSyncMs) {
            if (!file.Sync(total)) {
                fileFailed = true;
                break;
            }
            sinceSync.restart();
        }
        progress.Update(total + fill);
        if (s.PortLost()) {
            progress.Finish();
            Complain(QStringLiteral("COMポートが切断されました"));
            rc = kExitPort;
            break;
        }
        if (s.Interrupted())
            break; // the usual end of an open-ended log
        if (durationMs > 0 && run.elapsed() >= durationMs)
            break;
        if (sinceBytes.elapsed() > stallMs) {
            progress.Finish();
            Complain(NoAnswerText(CliBoardName()));
            rc = kExitNoBoard;
            break;
        }
        int wait = kWriteMs;
        if (durationMs > 0)
            wait = int(qBound<qint64>(1, durationMs - run.elapsed(), qint64(kWriteMs)));
        s.Wait(wait);
    }
    s.Stop(o.hex);
    progress.Finish();
    s.Close();
    // Records cut but not yet written go to the file now.
    if (!fileFailed)
        writeRows();
    if (!file.Finish(total) || fileFailed) {
        Complain(QString::fromUtf16(kSaveFailed));
        return kExitFile;
    }
    if (!o.quiet)
        Complain(QStringLiteral("%1 records").arg(total));
    return rc;
}
