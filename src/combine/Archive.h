#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "combine/TileSink.h"

namespace meridane {

// A tile archive opened for reading (MBTiles or PMTiles). Rows count from the
// north whatever the file stores. One thread at a time: a reader keeps its
// statement or directory cache between calls.
class ITileArchive {
 public:
  virtual ~ITileArchive() = default;
  // What the file tells of its tiles: zoom, rectangle and edges (from its
  // bounds), format, name, description.
  virtual const TTileSet& TileSet() const = 0;
  // The tile's bytes as stored, or nothing when the archive has no such tile.
  // Throws std::runtime_error when the file cannot be read.
  virtual std::optional<std::string> Get(int zoom, int x, int y) = 0;
};

// Opens an MBTiles or PMTiles file, told apart by its first bytes. Throws
// std::runtime_error with a message for the user when it is neither or damaged.
std::unique_ptr<ITileArchive> OpenTileArchive(const std::filesystem::path& path);

// The metadata both archives store, in this order: name, format, bounds
// (west,south,east,north in degrees), center (longitude,latitude,zoom),
// minzoom, maxzoom, type, version, description. Numbers are written with "."
// and as many digits as read back to the same value.
std::vector<std::pair<std::string, std::string>> ArchiveMetadata(const TTileSet& set);

// The tile set such metadata describes; the rectangle is the tiles the bounds
// cover. Fields the metadata lacks keep the values of fallback.
TTileSet TileSetFromMetadata(const std::map<std::string, std::string>& metadata, TTileSet fallback = {});

// "Cannot create file PATH: REASON", the message of every failed write.
std::string ArchiveWriteMessage(const std::filesystem::path& path, const std::string& reason);

// A failed write of an output, worded by ArchiveWriteMessage. Writers name the
// file they write; the combiner tells the reason again under the name the
// user chose, as its writers only see the partial file.
class EWriteError : public std::runtime_error {
 public:
  EWriteError(const std::filesystem::path& path, std::string reason)
      : std::runtime_error(ArchiveWriteMessage(path, reason)), Reason(std::move(reason)) {}
  std::string Reason;
};
// The reason for an errno of a failed write: a full disk is said plainly.
std::string WriteFailureReason(int error);

}  // namespace meridane
