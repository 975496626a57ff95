#pragma once
// vexlo-cli sweep: the noise table of a board over gains and data rates,
// cell by cell, with the analysis library's figures.

#include <QList>
#include <functional>
#include <QString>
#include <QStringList>
#include <optional>

struct CliOptions;
class SignalWatch;

struct SweepOptions {
    QList<int> gainCodes;             // --gains; empty: all six
    QList<int> rateCodes;             // --rates; empty: every rate of the model
    int settle = 4;                   // --settle: records dropped after each change
    std::optional<double> seconds;    // --seconds: measuring time per cell
    std::optional<double> vref;       // --vref: reference voltage in volts
    bool csv = false, markdown = false;
};

// Takes the sweep option `arg`, its value through `take`: 1 when taken, 0
// when it is not one, -1 with *error when its value is bad or missing.
int TakeSweepOption(const QString& arg, const std::function<bool(QString*)>& take, SweepOptions& sweep,
                    QString* error);

// The long names of the options TakeSweepOption takes ("--gains", ...).
QStringList SweepOptionNames();

// The help text of the command (without the board options).
const char* SweepUsage();

int RunSweep(const CliOptions& options, SignalWatch* watch);
