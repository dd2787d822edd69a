#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "task/ImageData.h"
#include "tiles/Archive.h"

namespace meridane {

// What the writers share.

// The metadata both archives store, in this order: name, format, bounds
// (west,south,east,north in degrees), center (longitude,latitude,zoom),
// minzoom, maxzoom, type, version, description. Numbers are written with "."
// and as many digits as read back to the same value.
std::vector<std::pair<std::string, std::string>> ArchiveMetadata(const TTileSet& set);
// The same of an archive of several zooms, from minZoom up to the set's.
std::vector<std::pair<std::string, std::string>> ArchiveMetadata(const TTileSet& set, int minZoom);

// "Cannot create file PATH: REASON", the message of every failed write.
std::string ArchiveWriteMessage(const std::filesystem::path& path, const std::string& reason);
// The reason for an errno of a failed write: a full disk is said plainly.
std::string WriteFailureReason(int error);

// A failed write of an output, worded by ArchiveWriteMessage. Writers name the
// file they write; the combiner tells the reason again under the name the
// user chose, as its writers only see the partial file.
class EWriteError : public std::runtime_error {
 public:
  EWriteError(const std::filesystem::path& path, std::string reason)
      : std::runtime_error(ArchiveWriteMessage(path, reason)), Reason(std::move(reason)) {}
  std::string Reason;
};

// The format an archive's metadata gives its tiles, told from the bytes of the
// tiles written rather than from the map type: the format of most of them,
// and among formats of as many tiles the one written first. So metadata never
// names a format fewer tiles have than another.
class TTileFormats {
 public:
  void Count(std::string_view bytes);
  // "png", "jpg", "webp" or "gif" (TileFormatName); fallback when no tile was counted.
  std::string Majority(const std::string& fallback) const;

 private:
  std::vector<std::pair<TImageFormat, long long>> Seen;  // in the order first written
};

}  // namespace meridane
