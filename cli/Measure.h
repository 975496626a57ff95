#pragma once
// The measuring subcommands of vexlo-cli: one block (acquire) and an
// open-ended log. Both return the exit code.

#include "cli/CliCommon.h"

class SignalWatch;

int RunAcquire(const CliOptions& options, SignalWatch* watch);
int RunLog(const CliOptions& options, SignalWatch* watch);
