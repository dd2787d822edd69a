#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

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
  // The main window's list of recent tasks, which the window starts on (empty: none).
  std::filesystem::path RecentTasks{};
};

// The message that refuses an output one of whose files (a picture's world
// file and .aux.xml too) would replace a file of the input's task or land in
// its tile folder; none when it may be written. input is a project file, a
// tile folder or an archive.
std::optional<std::string> OutputRefusal(const std::filesystem::path& input, const std::filesystem::path& output);

// mosaren with arguments: parses argv, writes the output, prints the summary
// on out and messages on err, and returns the exit status.
int RunCombineConsole(int argc, char** argv, std::ostream& out, std::ostream& err, const TCombineEnvironment& env);

}  // namespace meridane
