// Board model of the simulator: the command set, the settings it keeps and
// the sample records it streams. No I/O and no clocks: the caller feeds the
// bytes that came down the line and takes back the bytes to send, and asks
// for the next stream record when its time has come (PtyBoard does the
// timing). Not thread-safe by itself; PtyBoard guards it with a mutex.
#pragma once

#include "sim/ConverterNoise.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace vexlo::sim {

enum class Model { Tamrix, Selvor };

// Baud rate the model listens at: 115200 (Tamrix) or 38400 (Selvor).
int baudRate(Model model);
// Number of data-rate codes the model accepts: 11 (Tamrix) or 7 (Selvor).
int rateCodeCount(Model model);
// Samples per second of a rate code 0..10; 0 for any other code.
double samplesPerSecond(int rateCode);
// Gain factor of a gain code 0..5 (1, 8, 16, 32, 64, 128); 1 for any other code.
int gainFactor(int gainCode);
// "tamrix" / "selvor" (case-insensitive) -> model; false when unknown.
bool parseModel(const QString &text, Model *model);
const char *modelName(Model model);

// A test signal on both inputs instead of the board's own noise: a sine of
// `frequency` Hz at the data rate and `amplitude` (fraction of full scale,
// 2^23 codes), its harmonics 2 and 3 each `harmonicsDb` below it, and
// Gaussian noise of `noiseCodes` RMS. Records in millivolts follow from the
// codes as always.
struct TestSignal {
    double frequency = 0;       // 0: no test signal
    double amplitude = 0;
    double harmonicsDb = 0;     // 0: no harmonics; e.g. -80
    double noiseCodes = 0;
};

// "sine:F:A" -> frequency F Hz, amplitude A (0..1 of full scale); false when malformed.
bool parseSineSignal(const QString &text, TestSignal *signal);

// Fault switches. Every field's default is a healthy board. The reply faults
// below act inside the model; crLf, lateByte, lateMs, split and the hang-up
// switches are carried out by the pty front end (PtyBoard), which reads the
// same struct.
struct Faults {
    bool silent = false;        // never answer a command and never stream
    bool bareCr = false;        // every reply is a lone "\r"
    bool noCr = false;          // replies lose their ending "\r"
    bool garbage = false;       // replies are random bytes (ended by "\r")
    bool badCodes = false;      // "G?" -> 6..F, "F?" -> B..F, "S?" -> invalid characters
    bool refuseStart = false;   // every start command is answered "NG\r"
    bool refuseSettings = false;// every gain or rate set (G<n>, F<n>) is answered "NG\r"
    int rateReply = -1;         // 0..15: "F?" answers this code, whatever the model offers
    bool garbageRecords = false;// stream records carry random characters instead of digits
    int cutAfterRecords = -1;   // >= 0: a stream stops halfway through record N+1
    // Front-end faults:
    int lateMs = 0;             // > 0: replies leave this many ms after the command
    QByteArray lateOnly = {};   // not empty: only replies to commands beginning so are late
    bool crLf = false;          // every reply's "\r" is followed by "\n", written separately
    bool lateByte = false;      // every reply is followed by one stray '#', written separately
    int tailGapMs = 0;          // ... this many ms after the reply's last byte
    bool split = false;         // send everything one byte at a time ...
    int splitGapMs = 2;         // ... with this gap between bytes
    int hangupAfterRecords = -1;  // >= 0: close the pty once a stream has sent N records
    int hangupAfterCommands = -1; // >= 0: close the pty once N commands are answered
    // Not a fault: what is on the inputs (default: none, the board's own noise).
    TestSignal input{};
};

struct BoardState {
    bool bufferOn = true; // "S?" character 2: '1' on, '0' off
    int filter = 4;       // "S?" character 3: 3 (Sinc3) or 4 (Sinc4)
    int gainCode = 0;     // 0..5
    int rateCode = 5;     // 0..10 (Tamrix) or 0..6 (Selvor)
};

class SimBoard
{
public:
    explicit SimBoard(Model model, quint64 seed = 1);

    Model model() const { return m_model; }
    BoardState state() const { return m_state; }
    // Values outside the model's ranges are clamped into them.
    void setState(const BoardState &state);
    const Faults &faults() const { return m_faults; }
    void setFaults(const Faults &faults) { m_faults = faults; }
    const Drift &drift() const { return m_drift; }
    void setDrift(const Drift &drift) { m_drift = drift; }

    // Takes received bytes and returns the reply bytes they cause right away
    // (command replies and refusals; stream records come from nextRecord()).
    // Every command completed by a carriage return is appended to *commands
    // (text without the "\r"; a lone CR gives an empty entry).
    QByteArray receive(const QByteArray &bytes, QList<QByteArray> *commands = nullptr);

    // Streaming state.
    bool streaming() const { return m_streaming; }
    bool millivolts() const { return m_mv; }
    int channelMode() const { return m_channel; }
    int requestedCount() const { return m_count; } // 0 = until stopped
    qint64 streamRecords() const { return m_streamRecords; } // records of the current/last stream
    // Changes whenever a start or stop command arrives, so the caller can
    // drop records it queued for a stream that has been stopped or replaced.
    quint64 streamId() const { return m_streamId; }
    int recordLength() const;                   // 7/13 hex, 10/19 mV
    double recordsPerSecond() const { return samplesPerSecond(m_state.rateCode); }
    // Next record of the running stream ("" when none runs). With the cut
    // fault the record after the N-th is returned half and the stream ends.
    QByteArray nextRecord();
    void stopStream() { m_streaming = false; }

    // One sample field as the board formats it: 6 upper-case hex digits, or
    // 9 characters of millivolts (sign, digits, '.', decimals chosen by gain).
    static QByteArray hexField(quint32 code);
    static QByteArray millivoltField(double mV, int gainCode);
    // Millivolts the board computes from a code at a gain code (2.5 V reference).
    static double codeToMillivolts(quint32 code, int gainCode);

private:
    QByteArray execute(const QByteArray &cmd);
    QByteArray reply(const QByteArray &text);
    QByteArray randomText(int minLen, int maxLen);
    quint32 sampleCode(int channel);
    double testSignal();
    quint64 nextRandom();
    double gaussian();

    Model m_model;
    BoardState m_state;
    Faults m_faults;
    quint64 m_rng;
    QByteArray m_line;
    bool m_lineOverflow = false;
    bool m_streaming = false;
    bool m_mv = false;
    int m_channel = 0;
    int m_count = 0;
    qint64 m_streamRecords = 0;
    quint64 m_streamId = 0;
    Drift m_drift;
    double m_walk[2] = {0, 0};  // random-walk offsets of CH0 and CH1, in codes
    double m_boardTime = 0;     // seconds of readings taken, at the nominal rates
};

} // namespace vexlo::sim
