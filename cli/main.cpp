// vexlo-cli: the board without the window. Subcommands ports, info, set,
// acquire, log, sweep and analyze (a data file, no board); see Usage() and
// cli/README.md.

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "app/BuildProfile.h"
#include "board/BoardLists.h"
#include "cli/Analyze.h"
#include "cli/BoardSession.h"
#include "cli/CliCommon.h"
#include "cli/Measure.h"
#include "cli/SignalWatch.h"
#include "cli/Sweep.h"
#include "mqtt/MqttPublisher.h"
#include "serial/QtCommPort.h"

#ifndef VEXLO_CLI_VERSION
#define VEXLO_CLI_VERSION "1.00"
#endif

void Complain(const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

namespace {
// The reason of the first failed write to standard output: by the time the
// program ends, errno has long moved on (a text longer than the stream's
// buffer fails inside fwrite, not at the closing flush).
int stdoutErrno = 0;
}

void WriteOut(const QByteArray& bytes)
{
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) && stdoutErrno == 0)
        stdoutErrno = errno;
}

void PrintLine(const QString& text)
{
    WriteOut(text.toUtf8() + '\n');
}

QString CliBoardName()
{
    // The two-model program's name for the board in its messages.
    return QString::fromUtf8(kVexloDemoProfile.boardName);
}

namespace {

const char kCommonOptions[] =
    "Board options:\n"
    "  --model MODEL      tamrix (115200 baud, default) or selvor (38400 baud)\n"
    "  --com N            the port COMN (COM1 to COM16; default COM4), resolved as\n"
    "                     the window does: the link ~/.config/vexlo/ports/COMN, else\n"
    "                     /dev/ttyS(N-1)\n"
    "  --port PATH        the device PATH instead of a COM name\n"
    "  -q, --quiet        no progress line and no closing summary\n"
    "  -h, --help         show this help and exit\n";

const char kExitStatus[] =
    "Exit status:\n"
    "  0    success (log: also when ended by Ctrl-C, SIGTERM, SIGHUP or its limit)\n"
    "  2    usage error: unknown option, an option the command does not take, bad\n"
    "       value, bad COM name\n"
    "  3    the board does not answer, answers badly, refuses a setting or its\n"
    "       stream stalls for more than 5 s\n"
    "  4    the board refused the measurement start (NG)\n"
    "  5    the port cannot be opened (the second line says why: missing, not a\n"
    "       terminal, not permitted, busy) or was lost (hang-up)\n"
    "  6    the data file or standard output cannot be written (the second line\n"
    "       gives the path and the system's reason); a block measured by acquire\n"
    "       then goes to a recovery file whose path is printed\n"
    "  7    acquire --strict: the block holds malformed sample fields\n"
    "  8    log --mqtt: records did not reach the broker (the data file has them;\n"
    "       the spool file keeps the unacknowledged batches)\n"
    "  9    analyze: the file cannot be read, is not a data file or holds no\n"
    "       records in the span\n"
    "  130  acquire interrupted by SIGINT (143: SIGTERM, 129: SIGHUP); the records\n"
    "       received so far are written. A signal during the connection check\n"
    "       ends every command, log too, with these codes\n";

void printUsage(const QString& command)
{
    QByteArray text;
    if (command == u"ports") {
        text = "Usage: vexlo-cli ports\n"
               "List the COM names COM1 to COM16 that lead to a serial device, each with\n"
               "its device, separated by a tab. Devices that are not terminals, and\n"
               "/dev/ttyS nodes with no UART behind them, are left out.\n";
    } else if (command == u"info") {
        text = "Usage: vexlo-cli info [--json] [BOARD OPTIONS]\n"
               "Run the connection check (a lone CR, then ?, S?, G?, F?) and print what the\n"
               "board reports, as plain lines or with --json as one JSON object.\n\n";
        text += kCommonOptions;
    } else if (command == u"set") {
        text = "Usage: vexlo-cli set [--gain G] [--rate R] [BOARD OPTIONS]\n"
               "Set the gain and/or the data rate, each verified by reading it back.\n\n"
               "  --gain G           1, 8, 16, 32, 64 or 128 (also Gain=8)\n"
               "  --rate R           5sps ... 1200sps (Selvor: up to 200sps); the unit may be\n"
               "                     left out\n\n";
        text += kCommonOptions;
    } else if (command == u"acquire") {
        text = "Usage: vexlo-cli acquire --count N -o FILE [OPTIONS] [BOARD OPTIONS]\n"
               "Measure one block of 1 to 65535 samples and write it as the window's data\n"
               "file (Shift-JIS, CR LF); -o - writes it to standard output.\n\n"
               "  --channel C        0, 1 or both (default 0; 2 is the same as both)\n"
               "  --format F         hex (converter codes, default) or mv (millivolts)\n"
               "  --count N          samples, 1 to 65535\n"
               "  --gain G, --rate R set before measuring (see set)\n"
               "  -o, --output FILE  the data file, - for standard output\n"
               "  --stats            print the peak-to-peak line, the noise figures, the\n"
               "                     spectrum's figures and the Allan deviation of the block\n"
               "                     (--json: as one JSON object)\n"
               "  --strict           exit 7 when sample fields are malformed or out of range\n\n";
        text += kCommonOptions;
    } else if (command == u"log") {
        text = "Usage: vexlo-cli log -o FILE [--duration D | --count N] [OPTIONS]\n"
               "Measure continuously, beyond 65535 samples, appending each row to FILE within\n"
               "about a second of its arrival. Ends with Ctrl-C (SIGINT), SIGTERM, --duration\n"
               "or --count; the count line of the header is then corrected. The count field\n"
               "is padded with blanks to ten characters.\n\n"
               "  --channel C        0, 1 or both (default 0; 2 is the same as both)\n"
               "  --format F         hex (default) or mv\n"
               "  --duration D       e.g. 90s, 30m, 8h, 1h30m (a bare number is seconds)\n"
               "  --count N          stop after N samples\n"
               "  --gain G, --rate R set before measuring (see set)\n"
               "  -o, --output FILE  the data file (a file, not standard output)\n"
               "  --time             begin each row with the record's local time,\n"
               "                     2026-01-31T08:15:00.125 (start time + index / data rate),\n"
               "                     and the column header with 時刻,\n\n"
               "Publishing to an MQTT broker (QoS 1, the data file is written all the same):\n"
               "  --mqtt URL         mqtt://HOST[:PORT]/TOPIC or mqtts://HOST[:PORT]/TOPIC;\n"
               "                     batches of records (every 250 ms or 1000 records) go as\n"
               "                     JSON to TOPIC/data, the retained state (online with the\n"
               "                     board's settings, offline) to TOPIC/status\n"
               "  --mqtt-user NAME   log in as NAME\n"
               "  --mqtt-password-file FILE\n"
               "                     the password: the first line of FILE; without it the\n"
               "                     environment variable VEXLO_MQTT_PASSWORD (never on the\n"
               "                     command line)\n"
               "  --cafile FILE      mqtts: the certificate authorities to trust (default:\n"
               "                     the system's)\n"
               "  --spool DIR        where batches wait while the broker is away, beyond\n"
               "                     8 MiB in memory (default: FILE.mqtt-spool beside the data\n"
               "                     file); at most 1 GiB, then new batches are dropped and\n"
               "                     reported\n"
               "  --mqtt-wait S      at the end, wait up to S seconds (default 10) for the\n"
               "                     broker's acknowledgements\n\n";
        text += kCommonOptions;
    } else if (command == u"sweep") {
        text = SweepUsage();
        text += kCommonOptions;
    } else {
        text = "Usage: vexlo-cli COMMAND [OPTION]...\n"
               "Check, set up and measure a Vexlo converter board without the window.\n\n"
               "Commands:\n"
               "  ports      list the COM names that lead to a device\n"
               "  info       run the connection check and print the board's state\n"
               "  set        set gain and/or data rate\n"
               "  acquire    measure one block into a data file\n"
               "  log        measure continuously into a data file\n"
               "  sweep      noise table over gains and data rates\n"
               "  analyze    print the noise figures of a data file, no board (analyze --help)\n\n"
               "Options:\n"
               "  -h, --help         show this help (COMMAND --help: the command's help)\n"
               "  --version          show the version and exit\n\n";
        text += kCommonOptions;
        text += "\nMeasurement options (set, acquire, log):\n"
                "  --gain G           1, 8, 16, 32, 64 or 128 (also Gain=8)\n"
                "  --rate R           5sps ... 1200sps (Selvor: up to 200sps)\n"
                "  --channel C        0, 1 or both (default 0; 2 is the same as both)\n"
                "  --format F         hex (converter codes, default) or mv (millivolts)\n"
                "  --count N          acquire: 1 to 65535 samples; log: stop after N\n"
                "  --duration D       log: stop after D, e.g. 90s, 30m, 8h, 1h30m\n"
                "  -o, --output FILE  the data file; acquire also takes - (standard output)\n"
                "  --stats            acquire: print the peak-to-peak line and the noise figures of the block\n"
                "  --strict           acquire: exit 7 when sample fields are malformed\n"
                "  --json             info, acquire --stats: one JSON object instead of plain lines\n"
                "  --time             log: a first column with each record's local time\n"
                "  --mqtt URL         log: also publish the records to an MQTT broker; with\n"
                "                     --mqtt-user, --mqtt-password-file, --cafile, --spool,\n"
                "                     --mqtt-wait (see vexlo-cli log --help)\n";
        text += "\nAnalysis options (analyze FILE; no board):\n"
                "  --from X, --to X   the span [X, Y): a record index, an offset from the first\n"
                "                     record (90s, 1h30m) or a local time 2026-01-31T08:15:00\n"
                "  --json             the figures as one JSON object\n"
                "  --histogram        the histogram as CSV (channel,lower,center,count)\n"
                "  --spectrum         the spectrum as CSV (channel,frequency_hz,density_db)\n";
        text += "\nMessages go to standard error, data to standard output. The progress line\n"
                "is shown only when standard error is a terminal.\n\n";
        text += kExitStatus;
        text += "\nExamples:\n"
                "  vexlo-cli info --com 4 --json\n"
                "  vexlo-cli acquire --com 4 --channel both --format mv --count 1000 -o block.csv\n"
                "  vexlo-cli log --com 4 --format mv --rate 10sps --duration 8h -o night.csv\n"
                "  vexlo-cli analyze night.csv --from 1h --to 2h\n";
    }
    WriteOut(text);
}

} // namespace

std::optional<int> gainCodeOf(QString text)
{
    text = text.trimmed();
    if (!text.startsWith(QStringLiteral("Gain="), Qt::CaseInsensitive))
        text.prepend(QStringLiteral("Gain="));
    else
        text = QStringLiteral("Gain=") + text.mid(5);
    const qsizetype i = GainListEntries().indexOf(text);
    return i < 0 ? std::nullopt : std::optional<int>(int(i));
}

std::optional<int> rateCodeOf(QString text)
{
    text = text.trimmed().toLower();
    if (!text.endsWith(QStringLiteral("sps")))
        text += QStringLiteral("sps");
    const qsizetype i = RateListEntries(kTamrixRateCount).indexOf(text);
    return i < 0 ? std::nullopt : std::optional<int>(int(i));
}

namespace {

std::optional<qint64> durationOf(const QString& text)
{
    static const QRegularExpression whole(QStringLiteral("^(?:\\d+(?:\\.\\d+)?(?:ms|s|m|h|d)?)+$"));
    static const QRegularExpression part(QStringLiteral("(\\d+(?:\\.\\d+)?)(ms|s|m|h|d)?"));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    double ms = 0;
    for (auto it = part.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString unit = m.captured(2);
        const double f = unit == u"ms" ? 1 : unit == u"m" ? 60e3 : unit == u"h" ? 3600e3
                       : unit == u"d" ? 86400e3 : 1e3;
        ms += m.captured(1).toDouble() * f;
    }
    if (!(ms >= 1 && ms < 1e15))
        return std::nullopt;
    return qint64(ms);
}

} // namespace

std::optional<qint64> DurationMs(const QString& text)
{
    return durationOf(text);
}

namespace {

struct ParseResult {
    int exit = -1;  // >= 0: end with this code
    CliOptions options;
};

ParseResult parse(const QStringList& args)
{
    ParseResult r;
    CliOptions& o = r.options;
    bool help = false;
    auto usage = [&r](const QString& text) {
        Complain(text);
        Complain(QStringLiteral("Try 'vexlo-cli --help'."));
        r.exit = kExitUsage;
        return r;
    };
    QStringList given; // the options used, in their long spelling
    for (int i = 1; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        bool hasValue = false;
        if (arg.startsWith(QStringLiteral("--")) && arg.contains(u'=')) {
            value = arg.mid(arg.indexOf(u'=') + 1);
            arg = arg.left(arg.indexOf(u'='));
            hasValue = true;
        }
        auto take = [&](QString* out) {
            if (hasValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        QString v;
        if (arg.startsWith(QStringLiteral("--")))
            given << arg;
        else if (arg == u"-o")
            given << QStringLiteral("--output");
        if (arg == u"-h" || arg == u"--help") {
            help = true;
        } else if (arg == u"--version") {
            PrintLine(QStringLiteral("vexlo-cli " VEXLO_CLI_VERSION));
            r.exit = kExitOk;
            return r;
        } else if (arg == u"-q" || arg == u"--quiet") {
            o.quiet = true;
        } else if (arg == u"--json") {
            o.json = true;
        } else if (arg == u"--stats") {
            o.stats = true;
        } else if (arg == u"--time") {
            o.timeColumn = true;
        } else if (arg == u"--strict") {
            o.strict = true;
        } else if (arg == u"--model") {
            if (!take(&v) || (v.toLower() != u"tamrix" && v.toLower() != u"selvor"))
                return usage(QStringLiteral("--model: tamrix or selvor"));
            o.tamrix = v.toLower() == u"tamrix";
        } else if (arg == u"--com") {
            if (!take(&o.com))
                return usage(QStringLiteral("--com: a COM number is missing"));
        } else if (arg == u"--port") {
            if (!take(&o.devicePath) || o.devicePath.isEmpty())
                return usage(QStringLiteral("--port: a device path is missing"));
        } else if (arg == u"--gain") {
            if (!take(&v) || !(o.gainCode = gainCodeOf(v)))
                return usage(QStringLiteral("--gain: 1, 8, 16, 32, 64 or 128"));
        } else if (arg == u"--rate") {
            if (!take(&v) || !(o.rateCode = rateCodeOf(v)))
                return usage(QStringLiteral("--rate: 5sps, 10sps, 20sps, 50sps, 60sps, 100sps, 200sps, 400sps, 800sps, 960sps or 1200sps"));
        } else if (arg == u"--channel") {
            if (!take(&v))
                return usage(QStringLiteral("チャンネルが正しくありません"));
            v = v.toLower();
            if (v == u"0" || v == u"1" || v == u"2")
                o.channel = v.toInt();
            else if (v == u"both")
                o.channel = 2;
            else
                return usage(QStringLiteral("チャンネルが正しくありません"));
        } else if (arg == u"--format") {
            if (!take(&v) || (v.toLower() != u"hex" && v.toLower() != u"mv"))
                return usage(QStringLiteral("--format: hex or mv"));
            o.hex = v.toLower() == u"hex";
        } else if (arg == u"--count") {
            bool ok = false;
            const qint64 n = take(&v) ? v.toLongLong(&ok) : 0;
            if (!ok || n < 1)
                return usage(QStringLiteral("データ個数が正しくありません"));
            o.count = n;
        } else if (arg == u"--duration") {
            if (!take(&v) || !(o.durationMs = durationOf(v)))
                return usage(QStringLiteral("--duration: e.g. 90s, 30m, 8h or 1h30m"));
        } else if (arg == u"--mqtt") {
            MqttTarget t;
            QString why;
            if (!take(&o.mqttUrl) || !ParseMqttUrl(o.mqttUrl, &t, &why))
                return usage(why.isEmpty() ? QStringLiteral("--mqtt: a URL is missing") : why);
        } else if (arg == u"--mqtt-user") {
            if (!take(&o.mqttUser) || o.mqttUser.isEmpty())
                return usage(QStringLiteral("--mqtt-user: a name is missing"));
        } else if (arg == u"--mqtt-password-file") {
            if (!take(&o.mqttPasswordFile) || !QFileInfo(o.mqttPasswordFile).isReadable())
                return usage(QStringLiteral("--mqtt-password-file: a readable file"));
        } else if (arg == u"--cafile") {
            if (!take(&o.caFile) || !QFileInfo(o.caFile).isReadable())
                return usage(QStringLiteral("--cafile: a readable file"));
        } else if (arg == u"--spool") {
            if (!take(&o.spoolDir) || !QFileInfo(o.spoolDir).isDir())
                return usage(QStringLiteral("--spool: an existing folder"));
        } else if (arg == u"--mqtt-wait") {
            bool ok = false;
            o.mqttWaitS = take(&v) ? v.toInt(&ok) : -1;
            if (!ok || o.mqttWaitS < 0 || o.mqttWaitS > 3600)
                return usage(QStringLiteral("--mqtt-wait: seconds, 0 to 3600"));
        } else if (arg == u"-o" || arg == u"--output") {
            if (!take(&o.output) || o.output.isEmpty())
                return usage(QStringLiteral("-o: a file name is missing"));
        } else if (const int taken = TakeSweepOption(arg, take, o.sweep, &v)) {
            if (taken < 0)
                return usage(v);
        } else if (arg.startsWith(u'-') && arg != u"-") {
            return usage(QStringLiteral("unknown option: ") + arg);
        } else if (o.command.isEmpty()) {
            o.command = arg;
        } else {
            return usage(QStringLiteral("unexpected argument: ") + arg);
        }
    }
    static const QStringList commands{QStringLiteral("ports"), QStringLiteral("info"),
                                      QStringLiteral("set"), QStringLiteral("acquire"),
                                      QStringLiteral("log"), QStringLiteral("sweep")};
    if (help) {
        printUsage(o.command);
        r.exit = kExitOk;
        return r;
    }
    if (o.command.isEmpty())
        return usage(QStringLiteral("a command is missing"));
    if (!commands.contains(o.command))
        return usage(QStringLiteral("unknown command: ") + o.command);
    // An option that the command would silently ignore is a mistake.
    static const QStringList board{QStringLiteral("--model"), QStringLiteral("--com"), QStringLiteral("--port")};
    static const QStringList measuring{QStringLiteral("--gain"), QStringLiteral("--rate"),
                                       QStringLiteral("--channel"), QStringLiteral("--format"),
                                       QStringLiteral("--count"), QStringLiteral("--output")};
    QStringList allowed{QStringLiteral("--quiet")};
    if (o.command != u"ports")
        allowed << board;
    if (o.command == u"info")
        allowed << QStringLiteral("--json");
    else if (o.command == u"set")
        allowed << QStringLiteral("--gain") << QStringLiteral("--rate");
    else if (o.command == u"acquire")
        allowed << measuring << QStringLiteral("--stats") << QStringLiteral("--strict") << QStringLiteral("--json");
    else if (o.command == u"log")
        allowed << measuring << QStringLiteral("--duration") << QStringLiteral("--time") << QStringLiteral("--mqtt")
                << QStringLiteral("--mqtt-user") << QStringLiteral("--mqtt-password-file") << QStringLiteral("--cafile")
                << QStringLiteral("--spool") << QStringLiteral("--mqtt-wait");
    else if (o.command == u"sweep")
        allowed << SweepOptionNames() << QStringLiteral("--json") << QStringLiteral("--channel")
                << QStringLiteral("--format") << QStringLiteral("--count");
    for (const QString& option : given) {
        if (!allowed.contains(option))
            return usage(o.command + QStringLiteral(": ") + option + QStringLiteral(" does not apply"));
    }
    if (o.command == u"set" && !o.gainCode && !o.rateCode)
        return usage(QStringLiteral("set: --gain and/or --rate"));
    if (o.command == u"acquire") {
        if (!o.count || *o.count > 65535)
            return usage(QStringLiteral("データ個数が正しくありません"));
        if (o.output.isEmpty())
            return usage(QStringLiteral("acquire: -o FILE (or -o -)"));
    }
    if (o.command == u"log") {
        if (o.output.isEmpty() || o.output == u"-")
            return usage(QStringLiteral("log: -o FILE (a file)"));
        if (o.count && o.durationMs)
            return usage(QStringLiteral("log: --duration or --count, not both"));
    }
    if (o.mqttUrl.isEmpty() && !(o.mqttUser + o.mqttPasswordFile + o.caFile + o.spoolDir).isEmpty())
        return usage(QStringLiteral("log: --mqtt-user, --mqtt-password-file, --cafile and --spool go with --mqtt"));
    return r;
}

// A character device that is a terminal: what sysfs tells of its class, and
// for a UART its type (0: a /dev/ttyS node with no hardware behind it). A
// device sysfs does not list (a pseudo-terminal) counts when it is a
// character device. Nothing is opened: opening a port can reset a board.
bool isSerialDevice(const QString& device)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const QString sys = QStringLiteral("/sys/dev/char/%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    if (!QFileInfo::exists(sys))
        return true;
    if (QFileInfo(sys + QStringLiteral("/subsystem")).canonicalFilePath() != u"/sys/class/tty")
        return false;
    QFile type(sys + QStringLiteral("/type"));
    return !type.open(QIODevice::ReadOnly) || type.readAll().trimmed() != "0";
}

int runPorts()
{
    for (int n = 1; n <= 16; ++n) {
        const QString device = ResolveComPortName(n);
        if (!device.isEmpty() && isSerialDevice(device))
            PrintLine(QStringLiteral("COM%1\t%2").arg(n).arg(device));
    }
    return kExitOk;
}

// Whatever went to standard output must have arrived: a full disk, a closed
// pipe (EPIPE: SIGPIPE is ignored) is an error like any failed file write.
int checkedStdout(int rc)
{
    errno = 0;
    if ((std::fflush(stdout) == 0 && !std::ferror(stdout)) || rc == kExitFile)
        return rc; // a failed data write to standard output was told already
    const int err = stdoutErrno ? stdoutErrno : errno;
    Complain(QStringLiteral("standard output: ")
             + (err ? QString::fromLocal8Bit(std::strerror(err)) : QStringLiteral("write error")));
    return rc == kExitOk ? kExitFile : rc;
}

int runInfo(const CliOptions& o, SignalWatch* watch)
{
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;
    const BoardInfo& info = s.Info();
    const QString gain = GainListEntries().value(info.gainCode);
    const QString rate = RateListEntries(s.RateEntries()).value(info.rateCode);
    if (o.json) {
        QJsonObject j;
        j[QStringLiteral("port")] = info.portName;
        j[QStringLiteral("device")] = info.device;
        j[QStringLiteral("model")] = o.tamrix ? QStringLiteral("tamrix") : QStringLiteral("selvor");
        j[QStringLiteral("settings")] = info.settings;
        j[QStringLiteral("board")] = info.identity;
        j[QStringLiteral("status")] = info.status.status;
        j[QStringLiteral("filter")] = info.status.label;
        j[QStringLiteral("gainCode")] = info.gainCode;
        j[QStringLiteral("gain")] = gain;
        j[QStringLiteral("rateCode")] = info.rateCode;
        j[QStringLiteral("rate")] = rate;
        WriteOut(QJsonDocument(j).toJson(QJsonDocument::Compact) + '\n');
    } else {
        PrintLine(QStringLiteral("port: %1 (%2)").arg(info.portName, info.device));
        PrintLine(QStringLiteral("settings: ") + info.settings);
        PrintLine(QStringLiteral("board: ") + info.identity);
        PrintLine(QStringLiteral("status: ") + info.status.status);
        PrintLine(QStringLiteral("filter: ") + info.status.label);
        PrintLine(QStringLiteral("gain: ") + gain);
        PrintLine(QStringLiteral("rate: ") + rate);
    }
    return kExitOk;
}

int runSet(const CliOptions& o, SignalWatch* watch)
{
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;
    return ApplySettings(s, o, true);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vexlo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VEXLO_CLI_VERSION));

    // A closed pipe makes a write fail with EPIPE instead of ending the
    // program; a file size limit makes it fail (EFBIG) like a full disk.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    if (QCoreApplication::arguments().value(1) == u"analyze")
        return checkedStdout(RunAnalyze(QCoreApplication::arguments()));
    const ParseResult parsed = parse(QCoreApplication::arguments());
    if (parsed.exit >= 0)
        return checkedStdout(parsed.exit);
    const CliOptions& o = parsed.options;
    SignalWatch watch;
    if (o.command == u"ports")
        return checkedStdout(runPorts());
    if (o.command == u"info")
        return checkedStdout(runInfo(o, &watch));
    if (o.command == u"set")
        return checkedStdout(runSet(o, &watch));
    if (o.command == u"acquire")
        return checkedStdout(RunAcquire(o, &watch));
    if (o.command == u"sweep")
        return checkedStdout(RunSweep(o, &watch));
    return checkedStdout(RunLog(o, &watch));
}
