#pragma once
// The measuring subcommands of vexlo-cli: one block (acquire) and an
// open-ended log. Both return the exit code.

#include "cli/CliCommon.h"

class BoardSession;
class SignalWatch;

// --rate / --gain of the options, each verified by reading it back; with
// `report` each setting made is printed ("rate: ...", "gain: ...").
int ApplySettings(BoardSession& session, const CliOptions& options, bool report);

int RunAcquire(const CliOptions& options, SignalWatch* watch);
int RunLog(const CliOptions& options, SignalWatch* watch);
