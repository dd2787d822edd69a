#pragma once

#include <optional>
#include <string_view>

#include "tiles/TileSet.h"

namespace meridane {

// An output of the combiner. Add is called once for every tile of the set, row
// by row from the north, west to east within a row; bytes is the tile's file as
// downloaded, or nothing for a tile left out (missing, damaged, or the
// placeholder). Finish completes the output; a sink destroyed without Finish
// leaves nothing under its target's name (the caller removes its temporary
// file). Errors are thrown as std::runtime_error with a message for the user.
class ITileSink {
 public:
  virtual ~ITileSink() = default;
  virtual void Add(int x, int y, std::optional<std::string_view> bytes) = 0;
  virtual void Finish() = 0;
  // Archives of several zooms: whether the sink takes tiles of zooms other than
  // its set's, and one such tile (each once, in any order, before Finish).
  virtual bool TakesLevels() const { return false; }
  virtual void AddLevelTile(int /*zoom*/, int /*x*/, int /*y*/, std::string_view /*bytes*/) {}
};

}  // namespace meridane
