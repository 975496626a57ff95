// vexlo-board-sim: serves a simulated Vexlo board on a pseudo-terminal and
// links it as a COM name for the host program. See README.md for the options.
#include "sim/PtyBoard.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <ctime>

using namespace vexlo::sim;

namespace {

int failUsage(const QString &message)
{
    std::fprintf(stderr, "vexlo-board-sim: %s\n(try --help)\n", qPrintable(message));
    return 2;
}

// Reads an integer option; false with a message when it is not a whole
// number inside [low, high].
bool intOption(const QCommandLineParser &p, const QString &name, int low, int high, int *out, QString *error)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const int v = p.value(name).trimmed().toInt(&ok);
    if (!ok || v < low || v > high) {
        *error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                     .arg(name).arg(low).arg(high).arg(p.value(name));
        return false;
    }
    *out = v;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // The signals that end the program (and SIGUSR1, hang up) are taken by
    // sigtimedwait below; block them before any thread exists.
    sigset_t handled;
    sigemptyset(&handled);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&handled, s);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vexlo-board-sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated Vexlo board on a pseudo-terminal, linked as\n"
        "${XDG_CONFIG_HOME:-$HOME/.config}/vexlo/ports/COM<n>.\n"
        "SIGINT/SIGTERM end it and remove the link; SIGUSR1 hangs up at once."));
    p.addHelpOption();
    const QList<QCommandLineOption> options = {
        {QStringLiteral("model"), QStringLiteral("Board model: tamrix (115200 baud, rate codes 0..10) or selvor (38400 baud, 0..6)."), QStringLiteral("model")},
        {QStringLiteral("com"), QStringLiteral("COM number of the link, 1..255 (default 4); 0 makes no link."), QStringLiteral("n"), QStringLiteral("4")},
        {QStringLiteral("rate-mode"), QStringLiteral("paced (records at the data rate, at most the line rate; default), flood (as fast as the pty takes them) or line (back to back at baud/10 bytes a second)."), QStringLiteral("mode"), QStringLiteral("paced")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the pseudo-random noise and faults (default 1)."), QStringLiteral("s"), QStringLiteral("1")},
        {QStringLiteral("buffer"), QStringLiteral("Input buffer at start: on (default) or off."), QStringLiteral("on|off")},
        {QStringLiteral("filter"), QStringLiteral("Digital filter at start: 3 or 4 (default 4)."), QStringLiteral("3|4")},
        {QStringLiteral("gain"), QStringLiteral("Gain code at start, 0..5 (default 0)."), QStringLiteral("code")},
        {QStringLiteral("rate"), QStringLiteral("Data-rate code at start (default 5, 100 sps)."), QStringLiteral("code")},
        {QStringLiteral("drift"), QStringLiteral("Random walk of the readings: spreads by this many codes per square root of a second (default 0: none)."), QStringLiteral("codes")},
        {QStringLiteral("tempco"), QStringLiteral("Slow sine on the readings, this many codes in amplitude (default 0: none)."), QStringLiteral("codes")},
        {QStringLiteral("tempco-period"), QStringLiteral("Period of the --tempco sine in seconds of readings at the nominal rate (default 600)."), QStringLiteral("s")},
        {QStringLiteral("signal"), QStringLiteral("Test input instead of the board's noise: sine:F:A, a sine of F Hz and amplitude A (0..1 of full scale) on both inputs."), QStringLiteral("sine:F:A")},
        {QStringLiteral("harmonics"), QStringLiteral("With --signal: harmonics 2 and 3, each this many dB below the sine (e.g. -80)."), QStringLiteral("dB")},
        {QStringLiteral("noise"), QStringLiteral("With --signal: Gaussian noise of this RMS in codes."), QStringLiteral("codes")},
        {QStringLiteral("print-ready"), QStringLiteral("Print the line \"READY <pty path>\" once serving.")},
        {QStringLiteral("silent"), QStringLiteral("Fault: never answer and never stream.")},
        {QStringLiteral("late"), QStringLiteral("Fault: send every reply this many ms after its command."), QStringLiteral("ms")},
        {QStringLiteral("late-only"), QStringLiteral("With --late: only replies to commands that begin with this text are late (e.g. G)."), QStringLiteral("text")},
        {QStringLiteral("bare-cr"), QStringLiteral("Fault: every reply is a lone carriage return.")},
        {QStringLiteral("no-cr"), QStringLiteral("Fault: replies lack their ending carriage return.")},
        {QStringLiteral("crlf"), QStringLiteral("Fault: a line feed follows each reply's carriage return, in a write of its own.")},
        {QStringLiteral("late-byte"), QStringLiteral("Fault: one stray byte '#' follows each reply, in a write of its own.")},
        {QStringLiteral("tail-gap"), QStringLiteral("Time between a reply and the bytes --crlf and --late-byte add after it, ms (default 0)."), QStringLiteral("ms")},
        {QStringLiteral("garbage"), QStringLiteral("Fault: replies are random bytes ended by a carriage return.")},
        {QStringLiteral("garbage-records"), QStringLiteral("Fault: stream records carry random characters in their sample fields.")},
        {QStringLiteral("split"), QStringLiteral("Fault: send everything one byte at a time.")},
        {QStringLiteral("split-gap"), QStringLiteral("Gap between bytes with --split, ms (default 2)."), QStringLiteral("ms")},
        {QStringLiteral("bad-codes"), QStringLiteral("Fault: G? answers codes 6..F, F? answers B..F, S? answers invalid buffer/filter characters.")},
        {QStringLiteral("refuse-start"), QStringLiteral("Fault: answer every start command with NG.")},
        {QStringLiteral("rate-reply"), QStringLiteral("Fault: F? answers code n (0..15), even one the model lacks."), QStringLiteral("n")},
        {QStringLiteral("refuse-settings"), QStringLiteral("Fault: answer every gain and rate setting with NG, valid ones too.")},
        {QStringLiteral("cut-after"), QStringLiteral("Fault: a stream ends halfway through the record after the first n."), QStringLiteral("n")},
        {QStringLiteral("hangup-after-records"), QStringLiteral("Fault: close the pty once a stream has sent n records."), QStringLiteral("n")},
        {QStringLiteral("hangup-after-commands"), QStringLiteral("Fault: close the pty once n commands (lone CRs included) are answered."), QStringLiteral("n")},
    };
    p.addOptions(options);
    p.process(app); // --help and unknown options end here

    PtyOptions o;
    if (!p.isSet(QStringLiteral("model")))
        return failUsage(QStringLiteral("--model tamrix|selvor is required"));
    if (!parseModel(p.value(QStringLiteral("model")), &o.model))
        return failUsage(QStringLiteral("unknown model \"%1\"; use tamrix or selvor").arg(p.value(QStringLiteral("model"))));
    if (!parseRateMode(p.value(QStringLiteral("rate-mode")), &o.rateMode))
        return failUsage(QStringLiteral("unknown rate mode \"%1\"; use paced, flood or line").arg(p.value(QStringLiteral("rate-mode"))));
    bool seedOk = false;
    o.seed = p.value(QStringLiteral("seed")).trimmed().toULongLong(&seedOk);
    if (!seedOk)
        return failUsage(QStringLiteral("--seed wants a whole number, not \"%1\"").arg(p.value(QStringLiteral("seed"))));
    if (p.isSet(QStringLiteral("buffer"))) {
        const QString b = p.value(QStringLiteral("buffer")).trimmed().toLower();
        if (b != QLatin1String("on") && b != QLatin1String("off"))
            return failUsage(QStringLiteral("--buffer wants on or off, not \"%1\"").arg(b));
        o.state.bufferOn = b == QLatin1String("on");
    }

    if (p.isSet(QStringLiteral("signal"))) {
        TestSignal &t = o.faults.input;
        if (!parseSineSignal(p.value(QStringLiteral("signal")), &t))
            return failUsage(QStringLiteral("--signal wants sine:F:A (F > 0 Hz, A 0..1), not \"%1\"").arg(p.value(QStringLiteral("signal"))));
        bool ok = true;
        if (p.isSet(QStringLiteral("harmonics")))
            t.harmonicsDb = p.value(QStringLiteral("harmonics")).toDouble(&ok);
        if (ok && p.isSet(QStringLiteral("noise")))
            t.noiseCodes = p.value(QStringLiteral("noise")).toDouble(&ok);
        if (!ok || !(t.harmonicsDb <= 0) || !(t.noiseCodes >= 0 && t.noiseCodes < 1e7))
            return failUsage(QStringLiteral("--harmonics wants dB at or below 0, --noise codes from 0"));
    } else if (p.isSet(QStringLiteral("harmonics")) || p.isSet(QStringLiteral("noise"))) {
        return failUsage(QStringLiteral("--harmonics and --noise need --signal"));
    }

    QString error;
    // Drift figures: finite, not negative, not absurd.
    const auto realOption = [&](const QString &name, double low, double high, double *out) {
        if (!p.isSet(name))
            return true;
        bool ok = false;
        const double v = p.value(name).trimmed().toDouble(&ok);
        if (!ok || !(v >= low && v <= high)) {
            error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"").arg(name).arg(low).arg(high).arg(p.value(name));
            return false;
        }
        *out = v;
        return true;
    };
    Drift drift;
    if (!realOption(QStringLiteral("drift"), 0, 1e6, &drift.walk)
        || !realOption(QStringLiteral("tempco"), 0, 1e7, &drift.tempco)
        || !realOption(QStringLiteral("tempco-period"), 0.001, 1e9, &drift.tempcoPeriodS))
        return failUsage(error);
    Faults &f = o.faults;
    const bool numbersOk =
        intOption(p, QStringLiteral("com"), 0, 255, &o.com, &error)
        && intOption(p, QStringLiteral("filter"), 3, 4, &o.state.filter, &error)
        && intOption(p, QStringLiteral("gain"), 0, 5, &o.state.gainCode, &error)
        && intOption(p, QStringLiteral("rate"), 0, rateCodeCount(o.model) - 1, &o.state.rateCode, &error)
        && intOption(p, QStringLiteral("late"), 0, 60000, &f.lateMs, &error)
        && intOption(p, QStringLiteral("split-gap"), 0, 10000, &f.splitGapMs, &error)
        && intOption(p, QStringLiteral("tail-gap"), 0, 10000, &f.tailGapMs, &error)
        && intOption(p, QStringLiteral("cut-after"), 0, 65535, &f.cutAfterRecords, &error)
        && intOption(p, QStringLiteral("rate-reply"), 0, 15, &f.rateReply, &error)
        && intOption(p, QStringLiteral("hangup-after-records"), 0, 1 << 30, &f.hangupAfterRecords, &error)
        && intOption(p, QStringLiteral("hangup-after-commands"), 0, 1 << 30, &f.hangupAfterCommands, &error);
    if (!numbersOk)
        return failUsage(error);
    f.lateOnly = p.value(QStringLiteral("late-only")).toLatin1();
    f.silent = p.isSet(QStringLiteral("silent"));
    f.bareCr = p.isSet(QStringLiteral("bare-cr"));
    f.noCr = p.isSet(QStringLiteral("no-cr"));
    f.crLf = p.isSet(QStringLiteral("crlf"));
    f.lateByte = p.isSet(QStringLiteral("late-byte"));
    f.garbage = p.isSet(QStringLiteral("garbage"));
    f.garbageRecords = p.isSet(QStringLiteral("garbage-records"));
    f.split = p.isSet(QStringLiteral("split"));
    f.badCodes = p.isSet(QStringLiteral("bad-codes"));
    f.refuseStart = p.isSet(QStringLiteral("refuse-start"));
    f.refuseSettings = p.isSet(QStringLiteral("refuse-settings"));

    PtyBoard board(o);
    board.setDrift(drift);
    if (!board.start(&error)) {
        std::fprintf(stderr, "vexlo-board-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Vexlo %s board simulator at %d baud on %s\n", modelName(o.model), baudRate(o.model),
                qPrintable(board.slavePath()));
    if (!board.linkPath().isEmpty())
        std::printf("Link: %s -> %s\n", qPrintable(board.linkPath()), qPrintable(board.slavePath()));
    if (p.isSet(QStringLiteral("print-ready")))
        std::printf("READY %s\n", qPrintable(board.slavePath()));
    std::fflush(stdout);

    const timespec tick{0, 200 * 1000 * 1000};
    for (;;) {
        const int sig = sigtimedwait(&handled, nullptr, &tick);
        if (sig == SIGUSR1)
            board.hangUp();
        else if (sig > 0)
            break;
        if (board.hungUp()) {
            std::printf("HANGUP\n");
            std::fflush(stdout);
            break;
        }
    }
    board.stop(); // closes the pty and removes the link
    return 0;
}
