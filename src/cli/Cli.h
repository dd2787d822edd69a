#pragma once

#include <ostream>

namespace meridane {

// Exit statuses of meridane-cli.
namespace ExitStatus {
inline constexpr int AllSaved = 0;
inline constexpr int SomeFailed = 1;
inline constexpr int InputError = 2;
// Ctrl-C; a run that another stop signal ended gives 128 + its number too, as
// the shell reports a program the signal ended: 129 for SIGHUP, 143 for SIGTERM.
inline constexpr int StoppedByUser = 130;
}  // namespace ExitStatus

// Ctrl-C, SIGTERM and SIGHUP press Stop: the task saves what it has and the
// program ends. A second Ctrl-C or SIGTERM ends the program at once; a closed
// terminal may hang up more than once, so SIGHUP never does. SIGPIPE is
// ignored: a closed standard output stops the lines on it, not the task.
void InstallStopSignals();

// The whole command line: parses argv, runs the task, the count or the
// re-download, and returns the exit status.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace meridane
