#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "cli/Commands.h"

namespace meridane {

struct TCheckRequest {
  std::string Task;                   // the project file
  std::optional<std::string> Repair;  // where the failed-tile list of the bad tiles goes
  bool Decode = false;
  bool Progress = false;                // a status line instead of the tile lines
  std::filesystem::path Config;         // empty: where the program finds config.ini
  std::filesystem::path ProgramFolder;  // empty: the running program's, with blankimg/
  TStopCheck Stop = FirstStopSignal;    // Ctrl-C
};

// meridane-cli --check: one line per bad tile in walk order ("missing
// gs_843_388_10.jpg"), then the summary. Exit status 0 when every tile is good,
// 1 when one is not, 2 when the task or the repair list cannot be used; 128 +
// the signal when Stop ended it (no repair list then).
int CheckCommand(const TCheckRequest& request, std::ostream& out, std::ostream& err);

}  // namespace meridane
