#pragma once

#include <optional>
#include <string_view>

#include "tiles/TileSet.h"

namespace meridane {

// An output of the combiner. Add is called once for every tile of the set, row
// by row from the north, west to east within a row (or in tile id order when
// the sink asks for it and the feed can give it); bytes is the tile's file as
// downloaded, or nothing for a tile left out (missing, damaged, or the
// placeholder). Finish completes the output; a sink destroyed without Finish
// leaves nothing under its target's name (the caller removes its temporary
// file). Errors are thrown as std::runtime_error with a message for the user.
class ITileSink {
 public:
  virtual ~ITileSink() = default;
  virtual void Add(int x, int y, std::optional<std::string_view> bytes) = 0;
  // Before the first Add, at most once: some tile will be left out. Only a
  // feed asked to look ahead says so (a PNG picture then starts RGBA instead
  // of rewriting its rows), and it may miss tiles it cannot tell cheaply.
  virtual void LeftOutAhead() {}
  // Whether the sink would rather have the tiles in the order of their PMTiles
  // tile ids (along a Hilbert curve): it can then write them as they come. It
  // must still take any order.
  virtual bool WantsTileIdOrder() const { return false; }
  virtual void Finish() = 0;
  // Archives of several zooms: whether the sink takes tiles of zooms other than
  // its set's, and one such tile (each once, in any order, before Finish).
  virtual bool TakesLevels() const { return false; }
  virtual void AddLevelTile(int /*zoom*/, int /*x*/, int /*y*/, std::string_view /*bytes*/) {}
};

}  // namespace meridane
