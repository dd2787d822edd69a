#pragma once

#include <optional>
#include <ostream>
#include <string>

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

// The command line, parsed: what a command reads.
struct TCliOptions {
  // The main window's fields, as typed; one not given keeps the window's
  // default, or the opened project's value.
  std::optional<std::string> Left, Right, Top, Bottom, Folder, Task, Threads;
  std::optional<int> Zoom;
  // A project file whose fields are loaded before the ones given beside it.
  std::optional<std::string> Open;
  // A failed-tile list to fetch again.
  std::string Redownload;
  // One status line instead of the log lines.
  bool Progress = false;
  // Yes to starting afresh a task whose project file holds other inputs.
  bool Fresh = false;
};

// The whole command line: parses argv, runs the command it names, and returns
// the exit status.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace meridane
