// acquire and log: start the board's stream as the window does, cut it into
// records with the window's CutRecords, and write the window's data file
// (DataFileContent, EncodeDataFile). acquire keeps one block in memory and
// replaces the target file when done; log appends rows as they arrive and
// corrects the count line at the end.

#include "cli/Measure.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "board/BoardLists.h"
#include "cli/BoardSession.h"
#include "cli/Progress.h"
#include "cli/SignalWatch.h"
#include "datafile/DataFile.h"
#include "datafile/DataFileWriter.h"
#include "measure/Reception.h"
#include "measure/SampleBlock.h"
#include "mqtt/MqttPublisher.h"
#include "stream/LogWriter.h"
#include "cli/Stats.h"

namespace {

const char16_t kSaveFailed[] = u"データファイルを保存出来ませんでした";

// Samples per second of each rate code.
constexpr double kRates[] = {5, 10, 20, 50, 60, 100, 200, 400, 800, 960, 1200};

double samplesPerSecond(int rateCode)
{
    return rateCode >= 0 && rateCode < 11 ? kRates[rateCode] : 0;
}

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

// The window's message, then a line with the path and the reason.
int fileFailed(const QString& path, const QString& reason)
{
    Complain(QString::fromUtf16(kSaveFailed));
    Complain(path + QStringLiteral(": ") + (reason.isEmpty() ? QStringLiteral("cannot be written") : reason));
    return kExitFile;
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

BlockEnd ReadBlock(BoardSession& s, int channel, bool hex, int count, SampleBlock& block, qint32& recv,
                   const std::function<void(qint32)>& progress)
{
    const RecordLayout layout = MakeRecordLayout(channel, hex);
    QString buffer;
    QElapsedTimer sinceBytes;
    sinceBytes.start();
    const qint64 stallMs = stallLimitMs(s.Info().rateCode);
    for (;;) {
        const QByteArray in = s.Input();
        if (!in.isEmpty()) {
            // One character per byte: records are cut by the bytes the board sent.
            buffer.append(QLatin1StringView(in));
            sinceBytes.restart();
        }
        if (recv == 0 && refused(buffer))
            return BlockEnd::Refused;
        CutRecords(buffer, layout, block, recv, count);
        progress(recv);
        if (recv >= count)
            return BlockEnd::Complete;
        if (s.PortLost())
            return BlockEnd::PortLost;
        if (s.Interrupted() || sinceBytes.elapsed() > stallMs) {
            s.Stop(hex);
            return s.Interrupted() ? BlockEnd::Interrupted : BlockEnd::Stalled;
        }
        s.Wait(250);
    }
}

int RunAcquire(const CliOptions& o, SignalWatch* watch)
{
    const int count = int(o.count.value_or(0));
    // A target that cannot be written is found before anything is measured.
    QString reason;
    if (o.output != u"-" && !ProbeDataFileTarget(o.output, &reason))
        return fileFailed(o.output, reason);
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;
    if (const int rc = ApplySettings(s, o, false))
        return rc;
    if (const int rc = s.Start(o.hex, o.channel, count))
        return rc;

    SampleBlock block;
    qint32 recv = 0;
    Progress progress(o.quiet, count);
    const BlockEnd end = ReadBlock(s, o.channel, o.hex, count, block, recv, [&](qint32 n) { progress.Update(n); });
    progress.Finish();
    int rc = kExitOk;
    switch (end) {
    case BlockEnd::Complete:
        break;
    case BlockEnd::Refused:
        Complain(QStringLiteral("測定開始エラー... "));
        return kExitRefused;
    case BlockEnd::PortLost:
        Complain(QStringLiteral("COMポートが切断されました"));
        rc = kExitPort;
        break;
    case BlockEnd::Interrupted:
        Complain(QStringLiteral("測定停止しました"));
        rc = s.InterruptExit();
        break;
    case BlockEnd::Stalled:
        Complain(NoAnswerText(CliBoardName()));
        rc = kExitNoBoard;
        break;
    }
    s.Close();

    // Every record that arrived is kept, also after a fault.
    if (recv > 0) {
        DataFileContent content = headerContent(s.Info(), s.RateEntries(), o.channel, o.hex);
        content.samples = &block;
        content.rowCount = recv;
        bool written = false;
        if (o.output == u"-") {
            errno = 0;
            written = EncodeDataFile(content, [](const QByteArray& bytes) {
                return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout)
                    == size_t(bytes.size());
            }, &reason) && std::fflush(stdout) == 0;
            if (!written && reason.isEmpty())
                reason = errno ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("write error");
        } else {
            written = WriteDataFileReplacing(o.output, content, &reason);
        }
        if (!written) {
            fileFailed(o.output == u"-" ? QStringLiteral("standard output") : o.output, reason);
            // The block measured is never thrown away.
            const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            for (const QString& dir : {QDir::tempPath(), QDir::homePath()}) {
                const QString recovery = QStringLiteral("%1/vexlo-recovery-%2-%3.csv")
                                             .arg(dir, stamp).arg(QCoreApplication::applicationPid());
                if (WriteDataFileReplacing(recovery, content)) {
                    Complain(QStringLiteral("the %1 records measured are in %2").arg(recv).arg(recovery));
                    return kExitFile;
                }
            }
            Complain(QStringLiteral("the %1 records measured could not be saved anywhere").arg(recv));
            return kExitFile;
        }
        if ((o.stats || o.strict) && rc == kExitOk)
            rc = PrintBlockStats(block, o, s.Info().gainCode,
                                 RateListEntries(s.RateEntries()).value(s.Info().rateCode), recv);
    }
    return rc;
}

namespace {

// log --mqtt: the publisher for the options; its spool lies beside the data
// file unless --spool names a folder.
std::unique_ptr<MqttPublisher> makePublisher(const CliOptions& o, const QString& port)
{
    MqttOptions m;
    ParseMqttUrl(o.mqttUrl, &m.target, nullptr);
    m.target.caFile = o.caFile;
    m.target.user = o.mqttUser;
    if (!o.mqttPasswordFile.isEmpty()) {
        QFile f(o.mqttPasswordFile);
        if (f.open(QIODevice::ReadOnly))
            m.target.password = QString::fromUtf8(f.readLine()).remove(u'\n').remove(u'\r');
    } else if (qEnvironmentVariableIsSet("VEXLO_MQTT_PASSWORD")) {
        m.target.password = qEnvironmentVariable("VEXLO_MQTT_PASSWORD");
    }
    m.spoolPath = o.spoolDir.isEmpty()
                      ? o.output + QStringLiteral(".mqtt-spool")
                      : QDir(o.spoolDir).filePath(QStringLiteral("vexlo-%1.mqtt-spool").arg(QFileInfo(port).fileName()));
    m.drainMs = o.mqttWaitS * 1000;
    m.reconnectMaxS = 10;
    m.notice = [](const QString& line) { Complain(line); };
    return std::make_unique<MqttPublisher>(std::move(m));
}

} // namespace

int RunLog(const CliOptions& o, SignalWatch* watch)
{
    // The target is tried before the board is touched; it is replaced only
    // once the first record has arrived (a refused start leaves it as it was).
    LogWriter file(o.output, o.timeColumn);
    const auto logFailed = [&file] {
        Complain(QString::fromUtf16(kSaveFailed));
        Complain(file.Error());
        return kExitFile;
    };
    if (!file.Prepare())
        return logFailed();
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;
    if (const int rc = ApplySettings(s, o, false))
        return rc;

    StreamInfo info;
    info.header = headerContent(s.Info(), s.RateEntries(), o.channel, o.hex);
    info.samplesPerSecond = samplesPerSecond(s.Info().rateCode);
    info.model = o.tamrix ? QStringLiteral("Tamrix") : QStringLiteral("Selvor");
    info.port = s.Info().portName;
    // A second sink beside the file: the broker. It never fails a log; what
    // it could not deliver is reported and ends the run with kExitBroker.
    std::unique_ptr<MqttPublisher> broker = o.mqttUrl.isEmpty() ? nullptr : makePublisher(o, info.port);
    int brokerRc = kExitOk;
    // Count 0: the board streams until it is stopped. Record 0's time is
    // taken as the moment the start command went out.
    if (const int rc = s.Start(o.hex, o.channel, 0))
        return rc;
    info.started = QDateTime::currentDateTime();

    const qint64 limit = o.count.value_or(0);
    const qint64 durationMs = o.durationMs.value_or(0);
    const RecordLayout layout = MakeRecordLayout(o.channel, o.hex);
    SampleBlock chunk;
    qint64 total = 0;
    QString buffer;
    Progress progress(o.quiet, limit);
    QElapsedTimer run, sinceBytes;
    run.start();
    sinceBytes.start();
    const qint64 stallMs = stallLimitMs(s.Info().rateCode);

    int rc = kExitOk;
    bool writeFailed = false;
    for (;;) {
        const QByteArray in = s.Input();
        if (!in.isEmpty()) {
            buffer.append(QLatin1StringView(in));
            sinceBytes.restart();
        }
        if (total == 0 && refused(buffer)) {
            progress.Finish();
            Complain(QStringLiteral("測定開始エラー... "));
            return kExitRefused;
        }
        // Records go to the writer as soon as they are cut; it queues them
        // and writes from its own thread.
        bool done = false;
        for (;;) {
            qint32 fill = 0;
            const qint32 want = qint32(limit > 0 ? qMin<qint64>(kSampleCapacity, limit - total)
                                                 : kSampleCapacity);
            const CutResult cut = CutRecords(buffer, layout, chunk, fill, want);
            if (fill > 0 && total == 0 && !file.Begin(info)) {
                writeFailed = true;
                break;
            }
            if (fill > 0 && total == 0 && broker && !broker->Begin(info)) {
                Complain(broker->Error());
                broker.reset();
                brokerRc = kExitBroker;
            }
            if (fill > 0 && broker)
                broker->Append(chunk, fill, total);
            if (fill > 0 && !file.Append(chunk, fill, total)) {
                writeFailed = true;
                break;
            }
            total += fill;
            if (limit > 0 && total >= limit) {
                done = true;
                break;
            }
            if (!cut.complete)
                break;
        }
        if (done || writeFailed)
            break;
        progress.Update(total);
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
        int wait = 250;
        if (durationMs > 0)
            wait = int(qBound<qint64>(1, durationMs - run.elapsed(), qint64(250)));
        s.Wait(wait);
    }
    s.Stop(o.hex);
    progress.Finish();
    s.Close();
    const bool fileOk = file.Finish(total) && !writeFailed;
    if (broker && total > 0 && !broker->Finish(total)) {
        Complain(broker->Error());
        brokerRc = kExitBroker;
    }
    if (!fileOk)
        return logFailed();
    if (!o.quiet)
        Complain(QStringLiteral("%1 records").arg(file.RowsInFile()));
    return rc == kExitOk ? brokerRc : rc;
}
