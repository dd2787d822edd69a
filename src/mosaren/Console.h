#pragma once

#include <filesystem>
#include <functional>
#include <ostream>

#include "combine/Combine.h"

namespace meridane {

// Exit statuses of mosaren on the command line.
namespace CombineExit {
inline constexpr int Written = 0;  // the output is complete, whatever tiles were left out of it
inline constexpr int Failed = 1;   // writing failed part way: nothing under the output's name
inline constexpr int InputError = 2;
// Ctrl-C: 128 + the signal that stopped the run, as the shell reports it.
inline constexpr int StoppedByUser = 130;
}  // namespace CombineExit

// What the console takes from the running program; tests give their own.
struct TCombineEnvironment {
  std::filesystem::path ProgramFolder;  // empty: the running program's
  // The signal that asked the run to stop, 0 while none has.
  std::function<int()> StopSignal = [] { return 0; };
  TSinkFactory MakeSink = meridane::MakeSink;
};

// mosaren with arguments: parses argv, writes the output, prints the summary
// on out and messages on err, and returns the exit status.
int RunCombineConsole(int argc, char** argv, std::ostream& out, std::ostream& err, const TCombineEnvironment& env);

}  // namespace meridane
