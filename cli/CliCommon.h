#pragma once
// What the subcommands of vexlo-cli share: the parsed options, the exit
// codes and the message output.

#include <QString>
#include <QtGlobal>
#include <optional>

#include "cli/Sweep.h"

// Exit status of vexlo-cli. Listed in --help and cli/README.md.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,       // bad command line (unknown option, bad value, bad COM name)
    kExitNoBoard = 3,     // the board does not answer, answers badly or refuses a setting
    kExitRefused = 4,     // the board refused the measurement start ("NG")
    kExitPort = 5,        // the port cannot be opened or was lost
    kExitFile = 6,        // the data file cannot be written
    kExitMalformed = 7,   // acquire --strict: the block holds malformed sample fields
    kExitBroker = 8,      // log --mqtt: some records did not reach the broker (the file has them)
    kExitInput = 9,       // analyze: the file cannot be read, is not a data file or has no records in the span
    kExitSignal = 128,    // + signal number: interrupted (acquire; log ends with 0)
};

struct CliOptions {
    QString command;
    bool tamrix = true;                // --model
    QString com;                       // --com (text as given)
    QString devicePath;                // --port
    bool json = false;                 // info --json
    bool quiet = false;                // --quiet
    bool stats = false;                // acquire --stats
    bool strict = false;               // acquire --strict
    std::optional<int> gainCode;       // --gain
    std::optional<int> rateCode;       // --rate
    int channel = 0;                   // --channel: 0, 1 or 2 (both)
    bool hex = true;                   // --format hex|mv
    std::optional<qint64> count;       // --count
    std::optional<qint64> durationMs;  // --duration
    QString output;                    // -o
    bool timeColumn = false;           // log --time
    SweepOptions sweep;                // sweep's own options
    QString mqttUrl;                   // log --mqtt
    QString mqttUser;                  // --mqtt-user
    QString mqttPasswordFile;          // --mqtt-password-file (else $VEXLO_MQTT_PASSWORD)
    QString caFile;                    // --cafile
    QString spoolDir;                  // --spool (else beside the data file)
    int mqttWaitS = 10;                // --mqtt-wait
};

// A duration as --duration takes it ("90s", "1h30m", "250ms"; a bare number
// is seconds) in milliseconds; empty when it is none or under 1 ms.
std::optional<qint64> DurationMs(const QString& text);

// A message for the operator on standard error (UTF-8, one line).
void Complain(const QString& text);
// Bytes on standard output; the first failure's reason is kept for the
// message at the end.
void WriteOut(const QByteArray& bytes);
// A line of data on standard output (UTF-8).
void PrintLine(const QString& text);

// A gain ("8", "Gain=8") or data rate ("10sps", "10") text to its code.
std::optional<int> gainCodeOf(QString text);
std::optional<int> rateCodeOf(QString text);

// The board's name in the board messages ("Vexloが応答しませんでした").
QString CliBoardName();
