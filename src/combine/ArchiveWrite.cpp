#include "combine/ArchiveWrite.h"

#include <cerrno>
#include <cstring>

#include "config/AtomicFile.h"
#include "tiles/TileKind.h"

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

void TTileFormats::Count(std::string_view bytes) {
  const TImageFormat format = ImageFormatOf(bytes);
  for (auto& [seen, count] : Seen)
    if (seen == format) {
      ++count;
      return;
    }
  Seen.emplace_back(format, 1);
}

std::string TTileFormats::Majority(const std::string& fallback) const {
  const std::pair<TImageFormat, long long>* most = nullptr;
  for (const auto& entry : Seen)
    if (entry.first != TImageFormat::None && (!most || entry.second > most->second)) most = &entry;
  return most ? std::string(TileFormatName(most->first)) : fallback;
}

std::string WriteFailureReason(int error) {
  if (error == ENOSPC || error == EDQUOT) return "the disk is full";
  return std::strerror(error);
}

}  // namespace meridane
