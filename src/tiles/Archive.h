#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tiles/TileReader.h"
#include "tiles/TileSet.h"

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
  // The zooms it holds tiles of, lowest first; the tile set's is the last.
  virtual std::vector<int> Zooms() const { return {TileSet().Zoom}; }
};

// The tile set at another zoom: the same edges in degrees, the tiles they cover there.
TTileSet TileSetAtZoom(TTileSet set, int zoom);

// Opens an MBTiles or PMTiles file, told apart by its first bytes. Throws
// std::runtime_error with a message for the user when it is neither or damaged.
// Get refuses (throws) a tile longer than maxTileBytes.
std::unique_ptr<ITileArchive> OpenTileArchive(const std::filesystem::path& path,
                                              std::size_t maxTileBytes = DefaultMaxTileBytes);

// The tile set such metadata describes; the rectangle is the tiles the bounds
// cover. Fields the metadata lacks keep the values of fallback. Throws
// std::invalid_argument, saying why, for a zoom or bounds that no map has.
TTileSet TileSetFromMetadata(const std::map<std::string, std::string>& metadata, TTileSet fallback = {});

// The shortest text that reads back as the same number, with "." in every
// locale: how archives store their numbers and messages quote them.
std::string NumberText(double value);

// Why bounds in degrees are none a map can have (not finite, outside the
// world, or empty), or nothing for sound ones.
std::optional<std::string> BoundsFault(double west, double south, double east, double north);

}  // namespace meridane
