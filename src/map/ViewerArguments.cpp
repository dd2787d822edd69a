#include "map/ViewerArguments.h"

namespace meridane {

TViewerArguments ReadViewerArguments(const std::vector<std::string>& arguments) {
  TViewerArguments read;
  // The first fault is told, but the rest is still read: --help wins over it.
  const auto fault = [&](std::string message) {
    if (read.Error.empty()) read.Error = std::move(message);
  };
  bool options = true;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "--help" || argument == "-h")) {
      read.Help = true;
    } else if (options && argument == "--tms") {
      read.Options.FromSouth = true;
    } else if (options && argument.size() > 1 && argument.front() == '-') {
      fault("Unknown option " + argument);
    } else if (read.Path) {
      // Two files would mean opening one and silently not the other.
      fault("Only one file or folder can be opened at a time: " + argument);
    } else {
      read.Path = argument;
    }
  }
  return read;
}

std::string ViewerUsage() {
  return "vistorel: shows a download task, a tile folder or an MBTiles or PMTiles archive on a map.\n"
         "Usage: vistorel [OPTIONS] [FILE]\n"
         "\n"
         "Positionals:\n"
         "  FILE        the project file (.mrd), tile folder or archive to open (default: the newest recent task)\n"
         "\n"
         "Options:\n"
         "  -h,--help   print this help and exit\n"
         "  --tms       the rows of a Z/X/Y folder count from the south\n";
}

}  // namespace meridane
