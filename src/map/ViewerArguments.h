#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "map/MapSource.h"

namespace meridane {

// What the viewer's command line asks for: vistorel [--tms] [FILE].
struct TViewerArguments {
  std::optional<std::filesystem::path> Path;  // to open; none: the newest recent task
  TMapSourceOptions Options;
  bool Help = false;
  // The first argument not understood, said for the user; empty when all were.
  std::string Error;
};

// Reads a command line, the program's name first. An option is known
// anywhere; "--" ends them, for a file whose name starts with "-".
TViewerArguments ReadViewerArguments(const std::vector<std::string>& arguments);

// What --help prints: the options one a line, as the other programs list theirs.
std::string ViewerUsage();

}  // namespace meridane
