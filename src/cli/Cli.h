#pragma once

#include <ostream>

namespace meridane {

// Exit statuses of meridane-cli.
namespace ExitStatus {
inline constexpr int AllSaved = 0;
inline constexpr int SomeFailed = 1;
inline constexpr int InputError = 2;
inline constexpr int StoppedByUser = 130;
}  // namespace ExitStatus

// Ctrl-C and SIGTERM: the first presses Stop, the second ends the program at once.
void InstallStopSignals();

// The whole command line: parses argv, runs the task, the count or the
// re-download, and returns the exit status.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace meridane
