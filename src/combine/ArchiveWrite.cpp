#include "combine/ArchiveWrite.h"

#include <cerrno>
#include <cstring>

#include "config/AtomicFile.h"

namespace meridane {

std::vector<std::pair<std::string, std::string>> ArchiveMetadata(const TTileSet& set) {
  return ArchiveMetadata(set, set.Zoom);
}

std::vector<std::pair<std::string, std::string>> ArchiveMetadata(const TTileSet& set, int minZoom) {
  const std::string zoom = std::to_string(set.Zoom);
  return {
      {"name", set.Name},
      {"format", set.Format},
      {"bounds",
       NumberText(set.West) + "," + NumberText(set.South) + "," + NumberText(set.East) + "," + NumberText(set.North)},
      {"center", NumberText((set.West + set.East) / 2) + "," + NumberText((set.South + set.North) / 2) + "," + zoom},
      {"minzoom", std::to_string(minZoom)},
      {"maxzoom", zoom},
      {"type", "baselayer"},
      {"version", "1"},
      {"description", set.Description}};
}

std::string ArchiveWriteMessage(const std::filesystem::path& path, const std::string& reason) {
  return CannotCreateMessage(path) + ": " + reason;
}

std::string WriteFailureReason(int error) {
  if (error == ENOSPC || error == EDQUOT) return "the disk is full";
  return std::strerror(error);
}

}  // namespace meridane
