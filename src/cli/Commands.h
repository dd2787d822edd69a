#pragma once

#include <filesystem>
#include <functional>
#include <ostream>

#include "cli/Cli.h"
#include "ui/StopSignals.h"

// The commands of meridane-cli. Each takes the parsed options, the
// configuration file (empty: the one the program finds itself), its output
// (log lines, results) and error streams (messages), and returns the exit status.
namespace meridane {

// The signal that asked a run to stop, 0 while none has; asked on the main thread.
using TStopCheck = std::function<int()>;

// --count: checks the inputs and prints the tile range and count; writes nothing.
int CountCommand(const TCliOptions& options, const std::filesystem::path& config, std::ostream& out, std::ostream& err);

// The task of the fields (those of --open, with the ones beside it winning):
// a new one, or the resume of a stopped one, run to its completion or stop.
int DownloadCommand(const TCliOptions& options, const std::filesystem::path& config, std::ostream& out,
                    std::ostream& err, const TStopCheck& stop = FirstStopSignal);

// --redownload: fetches the tiles of a failed-tile list again.
int RedownloadCommand(const TCliOptions& options, const std::filesystem::path& config, std::ostream& out,
                      std::ostream& err, const TStopCheck& stop = FirstStopSignal);

}  // namespace meridane
