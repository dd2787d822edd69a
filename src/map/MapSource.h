#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "map/Pyramid.h"
#include "map/TileCache.h"
#include "tiles/TileReader.h"
#include "tiles/TileSet.h"

namespace meridane {

struct TStartConfig;

// The requested rectangle of a task, in degrees.
struct TLonLatBox {
  double West = 0, South = 0, East = 0, North = 0;
};

// Tiles of one zoom a map shows: a task, a tile folder or an archive.
class IMapSource {
 public:
  virtual ~IMapSource() = default;
  // The tiles the source has (or a task asks for): zoom, rectangle, edges.
  virtual const TTileSet& TileSet() const = 0;
  // What a task asked for; nothing for a folder or an archive.
  virtual std::optional<TLonLatBox> Requested() const { return std::nullopt; }
  // Reads and decodes the tile at (x, y) of the set's zoom. Safe to call from
  // several threads at once. Throws std::runtime_error when the source cannot
  // be read at all.
  virtual TDecodedTile Load(int x, int y) = 0;
  // As Load, with EighthSide * EighthSide pixels for a good tile, for
  // pictures of many tiles; sources whose tiles decode faster so say so.
  virtual TDecodedTile LoadEighth(int x, int y);
  // Sorts the tile by its file's first bytes alone, without decoding: Good,
  // Missing, Placeholder, Empty or NotImage. Nothing when the source cannot
  // tell tiles apart this way (an archive holds only good tiles).
  virtual std::optional<TTileKind> Classify(int x, int y) { (void)x, (void)y; return std::nullopt; }
  // Why the source failed to give a tile, the first time it did (a damaged
  // archive); nothing while every read worked. Safe from any thread.
  virtual std::optional<std::string> Failure() const { return std::nullopt; }
  // A source of several zooms (a pyramid) keeps its lower levels: the one to
  // draw tiles of a zoom below this source's from, the nearest stored level at
  // or above that zoom. Nothing when none is stored there: such tiles are
  // then made from this source's own.
  virtual IMapSource* StoredLevel(int zoom) {
    (void)zoom;
    return nullptr;
  }
  // A Z/X/Y tree: its files do not say which way its rows count, so the user
  // says it (TMapSourceOptions). A task's map type and an archive say it.
  virtual bool IsTree() const { return false; }
  // Whether a tile a stored level lacks is made from this source's own tiles
  // (an archive's zoom range is not always filled). A cache that holds every
  // level says no: such a tile is not fetched yet, and the finest tiles
  // around would stand for it only in patches, at many reads' cost.
  virtual bool BuildsWhatLevelsLack() const { return true; }

  TTileRect Rect() const;
};

// How OpenMapSource reads what it opens.
struct TMapSourceOptions {
  bool FromSouth = false;  // a Z/X/Y tree counts its rows from the south (TMS)
};

// Opens what a user gave: a project file (.mrd), a tile folder (a task's
// names or a Z/X/Y tree), or an MBTiles or PMTiles file. A folder or archive of
// several zooms is shown at its finest, with its lower levels kept for the
// views zoomed out. programFolder holds blankimg/, the placeholders. The
// options apply to a Z/X/Y tree only. Throws std::runtime_error with a message
// for the user.
std::unique_ptr<IMapSource> OpenMapSource(const std::filesystem::path& path, const std::filesystem::path& programFolder,
                                          const TStartConfig& config, const TMapSourceOptions& options = {});

// The tiles of a Z/X/Y tree ("Z/X/Y.extension", rows from the north) of the
// whole world at each zoom from 0 to maxZoom: shown at maxZoom, the lower
// zooms its stored levels. Made for a cache folder another thread fills while
// it is shown: a tile is looked for each time it is loaded, through the one
// bounded reader, and there are no placeholders. The folder is opened now: one
// made later holds no tile for this source. Throws std::runtime_error when it
// cannot be opened.
std::unique_ptr<IMapSource> OpenTileTree(const std::filesystem::path& folder, const std::string& extension, int maxZoom,
                                         std::size_t maxTileBytes = DefaultMaxTileBytes);

// A tile that is there but is no sound tile: neither good, missing nor the
// placeholder (an error page, an empty or cut-off file, a link).
inline bool IsDamaged(TTileKind kind) {
  return kind != TTileKind::Good && kind != TTileKind::Missing && kind != TTileKind::Placeholder;
}

// Counts of the tiles a kind scan found.
struct TKindCounts {
  long long Checked = 0, Missing = 0, Placeholder = 0, Damaged = 0;
  bool Done = false;
  // The tiles found missing, placeholders or damaged since the last report,
  // so a view can mark them at any zoom.
  struct TBad {
    int X = 0, Y = 0;
    TTileKind Kind = TTileKind::Missing;
  };
  std::vector<TBad> Found;
};

// The damaged tiles only decoding tells (not decodable, not 256x256), found
// as the loader reads them: each counted once, and kept to be marked while
// there is room.
class TDecodeFindings {
 public:
  explicit TDecodeFindings(std::size_t maxMarks) : MaxMarks(maxMarks) {}
  static bool FoundByDecoding(TTileKind kind) {
    return kind == TTileKind::NotDecodable || kind == TTileKind::OtherSize;
  }
  // True when the tile is one of them and was not found before.
  bool Add(const TTileKey& key, TTileKind kind);
  long long Count() const { return static_cast<long long>(Seen.size()); }
  const std::vector<TKindCounts::TBad>& Marks() const { return Kept; }
  void Clear();

 private:
  std::size_t MaxMarks;
  std::unordered_set<TTileKey, TTileKeyHash> Seen;
  std::vector<TKindCounts::TBad> Kept;
};

// The hole to show after the one at after: the next of the marked tiles in
// row order (from the north, west to east), round to the first again; the
// first when after is none. Nothing when nothing is marked.
std::optional<TKindCounts::TBad> NextHole(const std::vector<TKindCounts::TBad>& scanned,
                                          const std::vector<TKindCounts::TBad>& undecodable,
                                          std::optional<std::pair<int, int>> after);

// Sorts every tile of the source with Classify, row by row, and reports the
// counts about every 100 ms and at the end (on the scan's thread). Stops
// early when stop holds. Nothing is reported for a source that cannot classify.
void ScanKinds(IMapSource& source, const std::function<void(const TKindCounts&)>& report,
               const std::atomic<bool>& stop);

}  // namespace meridane
