#include "sim/SimBoard.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace vexlo::sim {

namespace {

const double kRates[] = {5, 10, 20, 50, 60, 100, 200, 400, 800, 960, 1200};
const int kGains[] = {1, 8, 16, 32, 64, 128};
const char kHex[] = "0123456789ABCDEF";

// Value of one upper-case hexadecimal digit, -1 for anything else.
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr int kMaxLine = 32;           // longer command lines are refused whole
constexpr quint32 kMidScale = 0x800000;
constexpr int kChannelOffset[2] = {0x155, -0x2AA}; // CH0 a little above, CH1 a little below mid-scale

} // namespace

int baudRate(Model model) { return model == Model::Tamrix ? 115200 : 38400; }
int rateCodeCount(Model model) { return model == Model::Tamrix ? 11 : 7; }

double samplesPerSecond(int rateCode)
{
    return rateCode >= 0 && rateCode <= 10 ? kRates[rateCode] : 0.0;
}

int gainFactor(int gainCode)
{
    return gainCode >= 0 && gainCode <= 5 ? kGains[gainCode] : 1;
}

bool parseModel(const QString &text, Model *model)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("tamrix"))
        *model = Model::Tamrix;
    else if (t == QLatin1String("selvor"))
        *model = Model::Selvor;
    else
        return false;
    return true;
}

const char *modelName(Model model) { return model == Model::Tamrix ? "Tamrix" : "Selvor"; }

SimBoard::SimBoard(Model model, quint64 seed) : m_model(model), m_rng(seed) {}

void SimBoard::setState(const BoardState &s)
{
    m_state.bufferOn = s.bufferOn;
    m_state.filter = s.filter == 3 ? 3 : 4;
    m_state.gainCode = std::clamp(s.gainCode, 0, 5);
    m_state.rateCode = std::clamp(s.rateCode, 0, rateCodeCount(m_model) - 1);
}

bool parseSineSignal(const QString &text, TestSignal *signal)
{
    const QStringList parts = text.split(u':');
    bool fOk = false, aOk = false;
    if (parts.size() != 3 || parts[0] != QLatin1String("sine"))
        return false;
    const double f = parts[1].toDouble(&fOk), a = parts[2].toDouble(&aOk);
    if (!fOk || !aOk || !(f > 0) || !(a >= 0 && a <= 1))
        return false;
    signal->frequency = f;
    signal->amplitude = a;
    return true;
}

// The test signal's value of the current record in codes around mid-scale.
double SimBoard::testSignal()
{
    const TestSignal &t = m_faults.input;
    constexpr double kTwoPi = 6.283185307179586;
    const double phase = kTwoPi * t.frequency * double(m_streamRecords) / samplesPerSecond(m_state.rateCode);
    const double a = t.amplitude * kMidScale;
    double v = a * std::sin(phase);
    if (t.harmonicsDb != 0) {
        const double h = a * std::pow(10.0, t.harmonicsDb / 20);
        v += h * std::sin(2 * phase) + h * std::sin(3 * phase);
    }
    if (t.noiseCodes > 0) {
        // Box-Muller from two uniform numbers in (0, 1].
        const double u1 = (double(nextRandom() >> 11) + 1) / 9007199254740992.0;
        const double u2 = double(nextRandom() >> 11) / 9007199254740992.0;
        v += t.noiseCodes * std::sqrt(-2 * std::log(u1)) * std::cos(kTwoPi * u2);
    }
    return v;
}

// splitmix64: small, fast and the same on every platform, so a seed fixes
// every reply and sample.
quint64 SimBoard::nextRandom()
{
    quint64 z = (m_rng += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

QByteArray SimBoard::receive(const QByteArray &bytes, QList<QByteArray> *commands)
{
    QByteArray out;
    for (char c : bytes) {
        if (c == '\n')
            continue; // line feeds are not part of any command
        if (c != '\r') {
            if (m_line.size() < kMaxLine)
                m_line.append(c);
            else
                m_lineOverflow = true;
            continue;
        }
        const QByteArray cmd = m_line;
        const bool overflow = m_lineOverflow;
        m_line.clear();
        m_lineOverflow = false;
        if (commands)
            commands->append(cmd);
        if (overflow) {
            if (!m_faults.silent)
                out += reply("NG");
            continue;
        }
        out += execute(cmd);
    }
    return out;
}

QByteArray SimBoard::execute(const QByteArray &cmd)
{
    if (m_faults.silent || cmd.isEmpty())
        return {};

    if (cmd == "?")
        return reply(QByteArray("VEXLO ") + (m_model == Model::Tamrix ? "TAMRIX" : "SELVOR") + " 1.00");

    if (cmd == "S?") {
        QByteArray buf(1, m_state.bufferOn ? '1' : '0');
        QByteArray filt(1, char('0' + m_state.filter));
        if (m_faults.badCodes) {
            switch (nextRandom() % 3) {
            case 0: buf = QByteArray(1, "29X"[nextRandom() % 3]); break;
            case 1: filt = QByteArray(1, "025X"[nextRandom() % 4]); break;
            default: filt.clear(); break; // reply too short to carry a filter
            }
        }
        return reply("S" + buf + filt);
    }
    if (cmd == "G?") {
        const int code = m_faults.badCodes ? 6 + int(nextRandom() % 10) : m_state.gainCode;
        return reply(QByteArray("G") + kHex[code]);
    }
    if (cmd == "F?") {
        const int code = m_faults.badCodes ? 11 + int(nextRandom() % 5)
                       : m_faults.rateReply >= 0 && m_faults.rateReply < 16 ? m_faults.rateReply : m_state.rateCode;
        return reply(QByteArray("F") + kHex[code]);
    }
    if (cmd.size() == 2 && cmd[0] == 'G') {
        const int code = hexDigit(cmd[1]);
        if (code < 0 || code > 5 || m_faults.refuseSettings)
            return reply("NG");
        m_state.gainCode = code;
        return reply("OK");
    }
    if (cmd.size() == 2 && cmd[0] == 'F') {
        const int code = hexDigit(cmd[1]);
        if (code < 0 || code >= rateCodeCount(m_model) || m_faults.refuseSettings)
            return reply("NG");
        m_state.rateCode = code;
        return reply("OK");
    }
    if (cmd == "AX" || cmd == "MX") {
        m_streaming = false; // either stop ends any stream; no reply
        ++m_streamId;
        return {};
    }
    if (cmd[0] == 'A' || cmd[0] == 'M') {
        // Start: letter, channel digit 0..2, exactly four upper-case hex digits.
        bool ok = cmd.size() == 6 && cmd[1] >= '0' && cmd[1] <= '2';
        int count = 0;
        for (int i = 2; ok && i < 6; ++i) {
            const int d = hexDigit(cmd[i]);
            ok = d >= 0;
            count = count * 16 + d;
        }
        if (!ok || m_faults.refuseStart)
            return reply("NG");
        m_streaming = true;
        m_mv = cmd[0] == 'M';
        m_channel = cmd[1] - '0';
        m_count = count;
        m_streamRecords = 0;
        ++m_streamId;
        return {};
    }
    return reply("NG");
}

QByteArray SimBoard::reply(const QByteArray &text)
{
    QByteArray out;
    if (m_faults.garbage)
        out = randomText(3, 10) + '\r';
    else if (m_faults.bareCr)
        out = "\r";
    else
        out = text + '\r';
    if (m_faults.noCr)
        out.chop(1);
    return out;
}

// Random bytes 0x01..0xFF without the carriage return, so a garbled reply
// still ends where the board meant it to.
QByteArray SimBoard::randomText(int minLen, int maxLen)
{
    const int len = minLen + int(nextRandom() % quint64(maxLen - minLen + 1));
    QByteArray t;
    while (t.size() < len) {
        const char c = char(1 + nextRandom() % 255);
        if (c != '\r')
            t.append(c);
    }
    return t;
}

int SimBoard::recordLength() const
{
    const int width = m_mv ? 9 : 6;
    return (m_channel == 2 ? 2 : 1) * width + 1;
}

// Standard normal value (Box-Muller on two uniform values in (0, 1]).
double SimBoard::gaussian()
{
    const double u1 = double((nextRandom() >> 11) + 1) / 9007199254740992.0;
    const double u2 = double(nextRandom() >> 11) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

quint32 SimBoard::sampleCode(int channel)
{
    if (m_faults.input.frequency > 0)
        return quint32(std::clamp<double>(std::round(kMidScale + testSignal()), 0, 0xFFFFFF));
    double x = kChannelOffset[channel] + noiseRmsCodes(m_state.rateCode, m_state.gainCode) * gaussian();
    if (m_drift.walk > 0) {
        const double sps = std::max(1.0, samplesPerSecond(m_state.rateCode));
        m_walk[channel] = std::clamp(m_walk[channel] + m_drift.walk * gaussian() / std::sqrt(sps),
                                     -double(kMidScale), double(kMidScale));
        x += m_walk[channel];
    }
    if (m_drift.tempco > 0 && m_drift.tempcoPeriodS > 0)
        x += m_drift.tempco * std::sin(2.0 * M_PI * m_boardTime / m_drift.tempcoPeriodS);
    return quint32(std::clamp<double>(std::round(double(kMidScale) + x), 0, 0xFFFFFF));
}

QByteArray SimBoard::nextRecord()
{
    if (!m_streaming)
        return {};
    if (m_count > 0 && m_streamRecords >= m_count) {
        m_streaming = false;
        return {};
    }
    QByteArray rec;
    for (int ch = 0; ch < 2; ++ch) {
        if (m_channel != 2 && m_channel != ch)
            continue;
        const quint32 code = sampleCode(ch);
        QByteArray field = m_mv ? millivoltField(codeToMillivolts(code, m_state.gainCode), m_state.gainCode)
                                : hexField(code);
        if (m_faults.garbageRecords) {
            static const char junk[] = "GHZ-+. #x?%@!q";
            for (char &c : field)
                if (nextRandom() % 2)
                    c = junk[nextRandom() % (sizeof(junk) - 1)];
        }
        rec += field;
    }
    rec += '\r';
    m_boardTime += 1.0 / std::max(1.0, samplesPerSecond(m_state.rateCode));
    if (m_faults.cutAfterRecords >= 0 && m_streamRecords >= m_faults.cutAfterRecords) {
        m_streaming = false;
        return rec.left(rec.size() / 2);
    }
    ++m_streamRecords;
    if (m_count > 0 && m_streamRecords >= m_count)
        m_streaming = false;
    return rec;
}

QByteArray SimBoard::hexField(quint32 code)
{
    QByteArray f(6, '0');
    for (int i = 5; i >= 0; --i, code >>= 4)
        f[i] = kHex[code & 0xF];
    return f;
}

double SimBoard::codeToMillivolts(quint32 code, int gainCode)
{
    return (double(code) - kMidScale) * 2500.0 / kMidScale / gainFactor(gainCode);
}

// Written by hand rather than with printf so that the decimal point is '.'
// whatever locale the process runs in.
QByteArray SimBoard::millivoltField(double mV, int gainCode)
{
    const int decimals = gainCode <= 0 ? 3 : (gainCode <= 2 ? 4 : 5);
    const int digits = 9 - 2; // sign and '.' take two of the nine characters
    qint64 scale = 1, limit = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    for (int i = 0; i < digits; ++i)
        limit *= 10;
    const qint64 n = std::min<qint64>(std::llround(std::fabs(mV) * double(scale)), limit - 1);
    QByteArray num = QByteArray::number(n).rightJustified(digits, '0');
    num.insert(digits - decimals, '.');
    return (mV < 0 && n != 0 ? "-" : "+") + num;
}

} // namespace vexlo::sim
