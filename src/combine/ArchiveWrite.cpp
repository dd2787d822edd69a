#include "combine/ArchiveWrite.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "config/AtomicFile.h"

namespace meridane {

namespace {

// The shortest text that reads back as the same double, with "." in every locale.
std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ArchiveMetadata(const TTileSet& set) {
  const std::string zoom = std::to_string(set.Zoom);
  return {{"name", set.Name},
          {"format", set.Format},
          {"bounds", Number(set.West) + "," + Number(set.South) + "," + Number(set.East) + "," + Number(set.North)},
          {"center", Number((set.West + set.East) / 2) + "," + Number((set.South + set.North) / 2) + "," + zoom},
          {"minzoom", zoom},
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
