#pragma once
// vexlo-cli analyze: the noise figures of a data file read back (Analyze.cpp).

#include <QStringList>

// `args` as the program got them (program, "analyze", ...); returns the exit code.
int RunAnalyze(const QStringList& args);
