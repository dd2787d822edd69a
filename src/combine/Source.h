#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "combine/TileSink.h"
#include "task/ImageData.h"
#include "tiles/Decode.h"
#include "tiles/TileKind.h"
#include "tiles/TileSource.h"
#include "tiles/TileReader.h"

namespace meridane {

struct TStartConfig;

// The input's errors are the tile source's.
using ECombineInputError = ETileSourceError;

// Tiles by kind: Good ones were handed on, all others left out.
struct TFeedResult : TTileCounts {
  bool Stopped = false;  // Stop answered true before every tile was fed
  // Tiles where two overlapping inputs had sound tiles of different bytes
  // (the earlier input's was fed).
  long long Conflicts = 0;

  long long Fed() const { return Total(); }
};

struct TFeedOptions {
  std::filesystem::path ProgramFolder;  // holds blankimg/, the placeholders
  std::size_t MaxTileBytes = DefaultMaxTileBytes;  // a longer file is no tile
  // The sink decodes tiles into pixels: a GIF tile, which only the archives
  // take as they are, is left out as not decodable.
  bool Pixels = false;
  // Before the first tile, the sink's LeftOutAhead when a tile's file is
  // missing, empty, too long or not a regular file (a look at each file's
  // entry, no read).
  bool LookAhead = false;
  // On the calling thread about every 100 ms: tiles fed so far.
  std::function<void(long long fed)> OnProgress{};
  // Asked before every tile; true ends the feed.
  std::function<bool()> Stop{};
  // Set: called after Add for every good JPEG or PNG tile with its pixels
  // halved (HalveTile), for the zoom below. The feed decodes each good tile
  // once, on its checking threads, for the check and for this alike.
  std::function<void(int x, int y, const TRgba& half, TImageFormat format)> OnHalf{};
};

// The order the feed hands a set's tiles in: row by row from the north, west to
// east, or along the tile ids' curve (PmtilesTileId) for a sink that asks for
// it. The curve's order is a sorted list of the tiles' steps on it, 8 bytes a
// tile (800 MB for 100 million tiles): it is computed once rather than
// searched for tile by tile, and is small beside the tiles themselves.
class TTileOrder {
 public:
  TTileOrder(const TTileSet& set, bool tileIds);
  long long Count() const { return Tiles; }
  // The i-th tile's column and row, 0 <= i < Count().
  std::pair<int, int> At(long long i) const;

 private:
  int Zoom = 0, MinX = 0, MinY = 0;
  long long Columns = 1, Tiles = 0;
  std::vector<std::uint64_t> Steps;  // sorted; empty in row order
};

// Hands sink every tile of the source's set, row by row from the north, west
// to east (along the tile ids when the sink asks for it, WantsTileIdOrder, and
// no OnHalf needs rows for the zooms below), from its files or its archive (and where its Also overlap it, the
// first sound tile of them, in order): a tile's bytes, or nothing for a tile that is missing, empty, not
// an image, the placeholder, not decodable or not 256x256 (every good tile is
// decoded first, so that an archive, which stores bytes as they are, holds no
// tile that would show wrong). A thread reads the files and a few more decode
// them ahead of the sink, a bounded number of them. Does not call Finish. A tile folder that is
// missing holds no tile; one that cannot be opened throws EFileError. An error
// the sink throws reaches the caller.
TFeedResult FeedTiles(const TTileSource& source, ITileSink& sink, const TFeedOptions& options);

// The format of the source's first tile in row order that is not missing, a
// placeholder or no image, from its bytes ("jpg", "png", "webp", "gif"): what
// the outputs that choose their own encoding before the tiles come go by.
// Looks at most at maxTiles tiles (a map mostly missing costs no long scan),
// and answers the set's Format, the files' extension, when none was found.
std::string FirstTileFormat(const TTileSource& source, const TFeedOptions& options, long long maxTiles = 10000);

}  // namespace meridane
