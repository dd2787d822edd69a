#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "combine/TileSink.h"
#include "task/ImageData.h"
#include "tiles/Decode.h"
#include "tiles/TileKind.h"
#include "tiles/TileReader.h"
#include "tiles/TileSource.h"

namespace meridane {

// The zoom where the sets' area, all of them together, fits in one tile, but
// none above the lowest zoom of a set: how far a pyramid goes down by default.
int LowestZoom(const std::vector<TTileSet>& sets);

// What a good tile's bytes decode to, and its pixels halved (HalveTile) into
// half, empty when it is of a format not decoded here (GIF: pixels set, such a
// tile is NotDecodable, as for a picture; else Good, with no half).
// scratch holds the whole tile's pixels. The one place a tile is decoded for
// the zoom below.
TTileKind DecodeAndHalve(std::string_view bytes, bool pixels, TRgba& scratch, TRgba& half);

// How a built tile is stored, chosen from its children's formats: PNG when
// any child is PNG (lossless, and keeps what no child covers transparent),
// else WebP when any child is WebP (its alpha keeps that part transparent too),
// JPEG otherwise. The one place a built tile's format is chosen.
TImageFormat LevelTileFormat(TImageFormat built, TImageFormat child);
// A built tile's pixels in that format (JPEG or WebP at quality; a JPEG's
// uncovered part white).
std::string EncodeLevelTile(const TRgba& pixels, TImageFormat format, int quality);

// Builds the zooms below a tile set, down to MinZoom, while the set's tiles
// stream through: each tile of a lower zoom is its four children averaged
// (2x2), and handed to the sink's AddLevelTile as soon as its row is complete.
// A level keeps one row of tiles; built tiles are compressed on worker
// threads, a bounded number at a time. Other inputs of zooms below the set's
// give tiles of their own: where one holds a sound tile, that tile is stored
// as it is and is the one the zooms below are built from; elsewhere the
// built tile fills in.
class TLevelBuilder {
 public:
  struct TOptions {
    int MinZoom = 0;
    int Quality = 85;  // of built JPEG tiles
    std::filesystem::path ProgramFolder;  // holds the inputs' placeholders
    std::size_t MaxTileBytes = DefaultMaxTileBytes;
  };

  // base: the set fed through AddHalf; inputs: sources of other zooms, each
  // between MinZoom and base's zoom - 1, one to a zoom. Throws
  // ECombineInputError (ETileSourceError) for inputs it cannot take.
  TLevelBuilder(const TTileSet& base, const std::vector<const TTileSource*>& inputs, const TOptions& options,
                ITileSink& sink);
  ~TLevelBuilder();
  TLevelBuilder(const TLevelBuilder&) = delete;
  TLevelBuilder& operator=(const TLevelBuilder&) = delete;

  // A good tile of the base set, row by row from the north, its pixels halved.
  void AddHalf(int x, int y, const TRgba& half, TImageFormat format);
  // Completes every level: its last rows, and the other inputs' rows beyond
  // the base's area. Call once, before the sink's Finish.
  void Finish();

  // Tiles handed to the sink so far by zoom, built ones and the other inputs'.
  const std::map<int, long long>& Written() const;
  // Of those, the ones built.
  long long Built() const;
  // The other inputs' tiles by kind; Good ones were stored.
  const TTileCounts& InputCounts() const;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

}  // namespace meridane
