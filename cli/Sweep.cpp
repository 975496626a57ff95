// vexlo-cli sweep: for every chosen data rate and gain, set both as the
// buttons do (each read back), start one block, drop the records the
// converter's filter needs to settle after the change, and compute the
// analysis library's noise figures from the rest. A cell that fails says so
// in its place and the sweep goes on; Ctrl-C ends it with the cells done.

#include "cli/Sweep.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/NoiseStats.h"
#include "board/BoardLists.h"
#include "cli/BoardSession.h"
#include "cli/CliCommon.h"
#include "cli/Measure.h"
#include "cli/Progress.h"
#include "measure/SampleBlock.h"

namespace {

// Host time per cell besides its records (settings, read-back, start), for
// the estimate printed before the sweep starts.
constexpr double kCellOverheadS = 0.05;
// Full scale the board computes its millivolts with, used for the codes of
// a millivolt block when no --vref is given.
constexpr double kBoardVrefV = 2.5;

enum class CellState { NotDone, Ok, Refused, StartRefused, NoData, Lost };

const char* stateText(CellState s)
{
    switch (s) {
    case CellState::NotDone: return "-";
    case CellState::Ok: return "ok";
    case CellState::Refused: return "refused";
    case CellState::StartRefused: return "NG";
    case CellState::NoData: return "no data";
    case CellState::Lost: return "lost";
    }
    return "";
}

// The figures of one channel of one cell.
enum Figure { kRmsCodes, kPpCodes, kRmsUv, kPpUv, kEffectiveBits, kNoiseFreeBits, kFigures };

struct FigureInfo {
    const char* title;
    const char* key;
    int decimals;
};

constexpr FigureInfo kFigureInfo[kFigures] = {
    {"RMS noise [codes]", "rmsCodes", 2},
    {"Peak-to-peak noise [codes]", "peakToPeakCodes", 0},
    {"RMS noise [uV]", "rmsMicrovolts", 3},
    {"Peak-to-peak noise [uV]", "peakToPeakMicrovolts", 3},
    {"Effective resolution [bits]", "effectiveBits", 1},
    {"Noise-free resolution [bits]", "noiseFreeBits", 1},
};

struct Cell {
    int rate = 0, gain = 0;
    int records = 0;    // measured, after the settling ones
    CellState state = CellState::NotDone;
    double figures[2][kFigures] = {};
};

struct Plan {
    QList<int> rates, gains;
    QStringList rateNames, gainNames;
    QList<int> channels;            // 0 and/or 1
    bool hex = true;
    bool microvolts = false;        // µV figures shown
    double vrefV = kBoardVrefV;
    int settle = 0;
    std::optional<qint64> count;    // records per cell, or from seconds
    std::optional<double> seconds;

    double sps(int rate) const { return SampleRateFromText(RateListEntries(11).value(rate)); }
    int records(int rate) const
    {
        const qint64 n = count ? *count : qint64(std::ceil(*seconds * sps(rate)));
        return int(std::clamp<qint64>(n, 1, qint64(kSampleCapacity - settle)));
    }
};

int gainOf(int code)
{
    return GainListEntries().value(code).mid(5).toInt();
}

// µV of one code at a gain: the full scale ±vref / gain over 2^23 codes.
double microvoltsPerCode(const Plan& p, int gain)
{
    return p.vrefV * 1e6 / 8388608.0 / std::max(1, gainOf(gain));
}

void setFigures(const Plan& p, Cell& cell, int channel, const std::vector<double>& values)
{
    const NoiseStats s = ComputeNoiseStats(values, p.hex);
    const double lsb = microvoltsPerCode(p, cell.gain);
    double* f = cell.figures[channel];
    // Millivolt blocks: µV straight from the values, codes through the scale.
    f[kRmsCodes] = p.hex ? s.rms : s.rms * 1000 / lsb;
    f[kPpCodes] = p.hex ? s.peakToPeak : s.peakToPeak * 1000 / lsb;
    f[kRmsUv] = f[kRmsCodes] * lsb;
    f[kPpUv] = f[kPpCodes] * lsb;
    f[kEffectiveBits] = ResolutionBits(f[kRmsCodes]);
    f[kNoiseFreeBits] = ResolutionBits(f[kPpCodes]);
}

// One cell: settings with read-back, one block of settle + N records.
CellState measureCell(BoardSession& s, const Plan& p, const CliOptions& o, Cell& cell, SampleBlock& block,
                      Progress& progress, qint64 doneBefore)
{
    progress.Finish(); // a refusal's message gets a line of its own
    if (s.SetRate(cell.rate, true) || s.SetGain(cell.gain, true))
        return s.PortLost() ? CellState::Lost : s.Interrupted() ? CellState::NotDone : CellState::Refused;
    const int n = p.records(cell.rate);
    const int total = p.settle + n;
    if (const int rc = s.Start(p.hex, o.channel, total))
        return rc == kExitPort ? CellState::Lost : s.Interrupted() ? CellState::NotDone : CellState::Refused;

    qint32 recv = 0;
    switch (ReadBlock(s, o.channel, p.hex, total, block, recv, [&](qint32 r) { progress.Update(doneBefore + r); })) {
    case BlockEnd::Complete:
        break;
    case BlockEnd::Refused:
        return CellState::StartRefused;
    case BlockEnd::PortLost:
        return CellState::Lost;
    case BlockEnd::Interrupted:
        return CellState::NotDone;
    case BlockEnd::Stalled:
        return CellState::NoData;
    }
    cell.records = n;
    for (int ch : p.channels) {
        std::vector<double> values = ChannelValues(block, ch, total, p.hex);
        values.erase(values.begin(), values.begin() + p.settle);
        setFigures(p, cell, ch, values);
    }
    return CellState::Ok;
}

QString clockText(double seconds)
{
    const qint64 s = qint64(std::ceil(seconds));
    return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QList<int> shownFigures(const Plan& p)
{
    QList<int> f{kRmsCodes, kPpCodes};
    if (p.microvolts)
        f << kRmsUv << kPpUv;
    return f << kEffectiveBits << kNoiseFreeBits;
}

QString cellText(const Cell& c, int channel, int figure)
{
    if (c.state != CellState::Ok)
        return QString::fromLatin1(stateText(c.state));
    return QString::number(c.figures[channel][figure], 'f', kFigureInfo[figure].decimals);
}

QString channelName(int ch)
{
    return ch ? QStringLiteral("CH1") : QStringLiteral("CH0");
}

// Text and Markdown: one table per figure (and channel), rows = rates,
// columns = gains.
QString tables(const Plan& p, const QList<Cell>& cells, bool markdown)
{
    QString out;
    for (int ch : p.channels) {
        for (int f : shownFigures(p)) {
            QList<QStringList> rows{QStringList{QStringLiteral("rate")} + p.gainNames};
            for (int r = 0; r < p.rates.size(); ++r) {
                QStringList row{p.rateNames[r]};
                for (int g = 0; g < p.gains.size(); ++g)
                    row << cellText(cells[r * p.gains.size() + g], ch, f);
                rows << row;
            }
            const QString title = QString::fromLatin1(kFigureInfo[f].title) + QStringLiteral(", ") + channelName(ch);
            if (markdown) {
                out += QStringLiteral("### ") + title + QStringLiteral("\n\n");
                for (int i = 0; i < rows.size(); ++i) {
                    out += QStringLiteral("| ") + rows[i].join(QStringLiteral(" | ")) + QStringLiteral(" |\n");
                    if (i == 0)
                        out += QStringLiteral("|---") + QStringLiteral("|---:").repeated(p.gains.size()) + QStringLiteral("|\n");
                }
            } else {
                QList<int> width(rows[0].size(), 0);
                for (const QStringList& row : rows)
                    for (int i = 0; i < row.size(); ++i)
                        width[i] = std::max(width[i], int(row[i].size()));
                out += title + u'\n';
                for (const QStringList& row : rows) {
                    QString line = row[0].leftJustified(width[0]);
                    for (int i = 1; i < row.size(); ++i)
                        line += QStringLiteral("  ") + row[i].rightJustified(width[i]);
                    out += line + u'\n';
                }
            }
            out += u'\n';
        }
    }
    return out;
}

QString csv(const Plan& p, const QList<Cell>& cells)
{
    QStringList header{QStringLiteral("rate"), QStringLiteral("gain"), QStringLiteral("channel"),
                       QStringLiteral("status"), QStringLiteral("records")};
    const QList<int> figures = shownFigures(p);
    for (int f : figures)
        header << QString::fromLatin1(kFigureInfo[f].key);
    QString out = header.join(u',') + u'\n';
    for (const Cell& c : cells)
        for (int ch : p.channels) {
            QStringList row{RateListEntries(11).value(c.rate), GainListEntries().value(c.gain), channelName(ch),
                            QString::fromLatin1(stateText(c.state)), QString::number(c.records)};
            for (int f : figures)
                row << (c.state == CellState::Ok ? cellText(c, ch, f) : QString());
            out += row.join(u',') + u'\n';
        }
    return out;
}

QString json(const Plan& p, const QList<Cell>& cells, const BoardInfo& info, bool complete)
{
    QJsonObject j;
    j[QStringLiteral("board")] = info.identity;
    j[QStringLiteral("filter")] = info.status.label;
    j[QStringLiteral("format")] = p.hex ? QStringLiteral("hex") : QStringLiteral("mv");
    j[QStringLiteral("settle")] = p.settle;
    j[QStringLiteral("vref")] = p.microvolts ? QJsonValue(p.vrefV) : QJsonValue();
    j[QStringLiteral("complete")] = complete;
    j[QStringLiteral("rates")] = QJsonArray::fromStringList(p.rateNames);
    j[QStringLiteral("gains")] = QJsonArray::fromStringList(p.gainNames);
    QJsonArray list;
    for (const Cell& c : cells) {
        QJsonObject o;
        o[QStringLiteral("rate")] = RateListEntries(11).value(c.rate);
        o[QStringLiteral("gain")] = GainListEntries().value(c.gain);
        o[QStringLiteral("status")] = QString::fromLatin1(stateText(c.state));
        o[QStringLiteral("records")] = c.records;
        if (c.state == CellState::Ok) {
            QJsonObject channels;
            for (int ch : p.channels) {
                QJsonObject figures;
                for (int f : shownFigures(p))
                    figures[QString::fromLatin1(kFigureInfo[f].key)] = c.figures[ch][f];
                channels[channelName(ch)] = figures;
            }
            o[QStringLiteral("channels")] = channels;
        }
        list.append(o);
    }
    j[QStringLiteral("cells")] = list;
    return QString::fromUtf8(QJsonDocument(j).toJson(QJsonDocument::Indented));
}

// "1,8,128" or "all" through `code` (a gain or a rate text to its code).
bool codeList(const QString& text, std::optional<int> (*code)(QString), QList<int>& out)
{
    out.clear();
    if (text.trimmed().compare(QStringLiteral("all"), Qt::CaseInsensitive) == 0)
        return true;
    for (const QString& part : text.split(u',')) {
        const std::optional<int> c = code(part);
        if (!c)
            return false;
        if (!out.contains(*c))
            out << *c;
    }
    return !out.isEmpty();
}

} // namespace

int TakeSweepOption(const QString& arg, const std::function<bool(QString*)>& take, SweepOptions& sw,
                    QString* error)
{
    QString v;
    const auto bad = [&](const char* text) {
        *error = QString::fromUtf8(text);
        return -1;
    };
    if (arg == u"--csv") {
        sw.csv = true;
    } else if (arg == u"--markdown") {
        sw.markdown = true;
    } else if (arg == u"--gains") {
        if (!take(&v) || !codeList(v, gainCodeOf, sw.gainCodes))
            return bad("--gains: a list of 1, 8, 16, 32, 64, 128, or all");
    } else if (arg == u"--rates") {
        if (!take(&v) || !codeList(v, rateCodeOf, sw.rateCodes))
            return bad("--rates: a list of 5sps ... 1200sps, or all");
    } else if (arg == u"--settle" || arg == u"--seconds" || arg == u"--vref") {
        // A number inside its range (the lower end excluded but for --settle).
        const bool settle = arg == u"--settle";
        bool ok = false;
        const double n = take(&v) ? v.toDouble(&ok) : -1;
        if (settle && (!ok || n != std::floor(n) || !(n >= 0 && n <= 1000)))
            return bad("--settle: 0 to 1000 records");
        if (arg == u"--seconds" && (!ok || !(n > 0 && n <= 86400)))
            return bad("--seconds: more than 0, at most 86400");
        if (arg == u"--vref" && (!ok || !(n > 0 && n <= 100)))
            return bad("--vref: the reference voltage in volts, e.g. 2.5");
        if (settle)
            sw.settle = int(n);
        else
            (arg == u"--vref" ? sw.vref : sw.seconds) = n;
    } else {
        return 0;
    }
    return 1;
}

QStringList SweepOptionNames()
{
    return {QStringLiteral("--gains"), QStringLiteral("--rates"), QStringLiteral("--settle"), QStringLiteral("--seconds"),
            QStringLiteral("--vref"), QStringLiteral("--csv"), QStringLiteral("--markdown")};
}

const char* SweepUsage()
{
    return "Usage: vexlo-cli sweep [--gains LIST] [--rates LIST] [--count N | --seconds S] [OPTIONS]\n"
           "Measure the noise table of the board: for each data rate and gain, set both\n"
           "(each read back), start a block, drop the first records while the filter\n"
           "settles, and compute RMS and peak-to-peak noise, effective and noise-free\n"
           "resolution of the rest. Prints the expected duration first; a refused setting\n"
           "or a failed cell is shown in its cell and the sweep goes on; Ctrl-C prints\n"
           "the cells done. Tables: rows = data rates, columns = gains, one per figure\n"
           "and channel.\n\n"
           "  --gains LIST       e.g. 1,8,128, or all (default)\n"
           "  --rates LIST       e.g. 10sps,100sps, or all (default: the model's rates)\n"
           "  --channel C        0, 1 or both (default 0)\n"
           "  --format F         hex (codes, default) or mv (millivolts)\n"
           "  --settle N         records dropped after each change (default 4: the\n"
           "                     board's Sinc4 filter settles in four conversions)\n"
           "  --count N          records measured per cell (default 1000)\n"
           "  --seconds S        measure S seconds per cell at the nominal rate instead\n"
           "                     (at most 65535 records a cell, settling ones included)\n"
           "  --vref V           reference voltage in volts: adds the figures in uV for\n"
           "                     hex blocks (mv blocks: uV always; codes use 2.5 V unless given)\n"
           "  --json, --csv, --markdown  output instead of the aligned text tables\n\n"
           "Exit status: 0 every cell measured; 3 a cell was refused or failed; 5 the\n"
           "port was lost; 130/143 interrupted (the cells done are printed).\n\n";
}

int RunSweep(const CliOptions& o, SignalWatch* watch)
{
    const SweepOptions& sw = o.sweep;
    if ((sw.csv + sw.markdown + o.json) > 1 || (sw.seconds && o.count)) {
        Complain(QStringLiteral("sweep: one of --json, --csv, --markdown; --count or --seconds"));
        return kExitUsage;
    }
    if (o.count && *o.count > kSampleCapacity - sw.settle) {
        Complain(QStringLiteral("データ個数が正しくありません"));
        return kExitUsage;
    }
    BoardSession s(o, watch);
    if (const int rc = s.Connect())
        return rc;

    Plan p;
    p.hex = o.hex;
    p.settle = sw.settle;
    p.seconds = sw.seconds;
    if (!sw.seconds)
        p.count = o.count.value_or(1000);
    p.microvolts = !o.hex || sw.vref;
    p.vrefV = sw.vref.value_or(kBoardVrefV);
    p.channels = o.channel == 2 ? QList<int>{0, 1} : QList<int>{o.channel};
    p.gains = sw.gainCodes;
    if (p.gains.isEmpty())
        for (int g = 0; g < GainListEntries().size(); ++g)
            p.gains << g;
    p.rates = sw.rateCodes;
    if (p.rates.isEmpty())
        for (int r = 0; r < s.RateEntries(); ++r)
            p.rates << r;
    for (int g : p.gains)
        p.gainNames << GainListEntries().value(g);
    for (int r : p.rates)
        p.rateNames << RateListEntries(11).value(r);

    QList<Cell> cells;
    qint64 allRecords = 0;
    double seconds = 0;
    for (int r : p.rates)
        for (int g : p.gains) {
            Cell c;
            c.rate = r;
            c.gain = g;
            cells << c;
            allRecords += p.settle + p.records(r);
            seconds += (p.settle + p.records(r)) / p.sps(r) + kCellOverheadS;
        }
    if (!o.quiet)
        Complain(QStringLiteral("sweep: %1 cells (%2 rates x %3 gains), about %4")
                     .arg(cells.size()).arg(p.rates.size()).arg(p.gains.size()).arg(clockText(seconds)));

    Progress progress(o.quiet, allRecords);
    SampleBlock block;
    qint64 done = 0;
    int rc = kExitOk;
    for (int i = 0; i < cells.size(); ++i) {
        Cell& c = cells[i];
        progress.SetLabel(QStringLiteral("%1 %2 (%3/%4) ").arg(p.rateNames[i / p.gains.size()],
                                                              p.gainNames[i % p.gains.size()])
                              .arg(i + 1).arg(cells.size()).toUtf8());
        c.state = measureCell(s, p, o, c, block, progress, done);
        done += p.settle + p.records(c.rate);
        if (c.state == CellState::StartRefused) {
            progress.Finish();
            Complain(QStringLiteral("測定開始エラー... "));
        }
        if (c.state == CellState::Lost) {
            Complain(QStringLiteral("COMポートが切断されました"));
            rc = kExitPort;
            break;
        }
        if (s.Interrupted()) {
            c.state = CellState::NotDone;
            progress.Finish();
            Complain(QStringLiteral("測定停止しました"));
            rc = s.InterruptExit();
            break;
        }
        if (c.state != CellState::Ok && rc == kExitOk)
            rc = kExitNoBoard;
    }
    progress.Finish();
    s.Close();

    QString out;
    if (o.json)
        out = json(p, cells, s.Info(), rc == kExitOk);
    else if (sw.csv)
        out = csv(p, cells);
    else
        out = tables(p, cells, sw.markdown);
    WriteOut(out.toUtf8());
    std::fflush(stdout);
    return rc;
}
