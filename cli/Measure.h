#pragma once
// The measuring subcommands of vexlo-cli: one block (acquire) and an
// open-ended log. Both return the exit code.

#include <QtGlobal>
#include <functional>

#include "cli/CliCommon.h"

class BoardSession;
class SampleBlock;
class SignalWatch;

// How the stream of one block ended.
enum class BlockEnd { Complete, Refused, PortLost, Interrupted, Stalled };

// Reads the started stream into `block` (counting `recv` up) until `count`
// records are in, the board refuses the start ("NG"), the port is lost, a
// signal comes or the stream stays silent longer than 5 s plus three sample
// periods; the last two stop the board. `progress` sees the records so far.
BlockEnd ReadBlock(BoardSession& session, int channel, bool hex, int count, SampleBlock& block,
                   qint32& recv, const std::function<void(qint32)>& progress);

// --rate / --gain of the options, each verified by reading it back; with
// `report` each setting made is printed ("rate: ...", "gain: ...").
int ApplySettings(BoardSession& session, const CliOptions& options, bool report);

int RunAcquire(const CliOptions& options, SignalWatch* watch);
int RunLog(const CliOptions& options, SignalWatch* watch);
