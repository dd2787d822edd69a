#include "map/MapSource.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "config/Config.h"
#include "task/Descriptor.h"
#include "task/ProjectFile.h"
#include "tiles/Archive.h"
#include "tiles/Inputs.h"
#include "tiles/TileReader.h"
#include "tiles/TileSource.h"

namespace meridane {

namespace fs = std::filesystem;

TTileRect IMapSource::Rect() const {
  const TTileSet& set = TileSet();
  return {set.MinX, set.MinY, set.MaxX, set.MaxY};
}

TDecodedTile IMapSource::LoadEighth(int x, int y) {
  TDecodedTile tile = Load(x, y);
  if (tile.Kind == TTileKind::Good) ShrinkToEighth(tile.Pixels);
  return tile;
}

namespace {

TDecodedTile Decoded(std::string_view bytes, bool eighth = false) {
  TDecodedTile tile;
  const bool sound = eighth ? DecodeTileEighth(bytes, tile.Pixels) : DecodeTile(bytes, tile.Pixels);
  // Sorted as the check sorts it: a tile of another size is told apart.
  tile.Kind = sound                                                             ? TTileKind::Good
              : CheckImage(bytes, TileSide, TileSide) == TImageCheck::OtherSize ? TTileKind::OtherSize
                                                                                : TTileKind::NotDecodable;
  if (tile.Kind != TTileKind::Good) tile.Pixels.clear();
  return tile;
}

// The tiles of one zoom, read as every program reads them: files through the
// one bounded reader, an archive one thread at a time while the decoding runs
// in parallel.
class TTilesMapSource : public IMapSource {
 public:
  TTilesMapSource(const TTileSource& source, const fs::path& programFolder, std::size_t maxTileBytes,
                  std::optional<TLonLatBox> requested)
      : Set(source.Set),
        FromArchive(!source.Archive.empty()),
        Tree(!FromArchive && source.Naming == TTileNaming::Tree),
        Tiles(source, programFolder, maxTileBytes),
        Asked(requested) {}

  const TTileSet& TileSet() const override { return Set; }
  std::optional<TLonLatBox> Requested() const override { return Asked; }

  TDecodedTile Load(int x, int y) override { return Read(x, y, false); }
  TDecodedTile LoadEighth(int x, int y) override { return Read(x, y, true); }

  std::optional<TTileKind> Classify(int x, int y) override {
    // The first bytes, as the check's quick pass reads them: an error page or
    // a link is told here, a file that does not decode only when loaded. An
    // archive holds only what was stored: nothing to tell without reading it all.
    if (FromArchive) return std::nullopt;
    return Tiles.Peek(x, y);
  }

  std::optional<std::string> Failure() const override { return Tiles.Failure(); }
  bool IsTree() const override { return Tree; }

 private:
  TDecodedTile Read(int x, int y, bool eighth) {
    std::string bytes;
    const TTileKind kind = Tiles.Read(x, y, bytes);
    if (kind != TTileKind::Good) return {kind, {}};
    return Decoded(bytes, eighth);
  }

  TTileSet Set;
  bool FromArchive;
  bool Tree;
  TSourceTiles Tiles;
  std::optional<TLonLatBox> Asked;
};

// A folder or archive of several zooms: shown as its finest, its lower levels
// drawn where the view is zoomed out to them.
class TLevelsMapSource : public IMapSource {
 public:
  // levels: lowest zoom first.
  // whole: every level holds all there is of its zoom (a cache of every level).
  explicit TLevelsMapSource(std::vector<std::unique_ptr<IMapSource>> levels, bool whole = false)
      : Levels(std::move(levels)), Whole(whole) {}

  const TTileSet& TileSet() const override { return Top().TileSet(); }
  std::optional<TLonLatBox> Requested() const override { return Top().Requested(); }
  TDecodedTile Load(int x, int y) override { return Top().Load(x, y); }
  TDecodedTile LoadEighth(int x, int y) override { return Top().LoadEighth(x, y); }
  std::optional<TTileKind> Classify(int x, int y) override { return Top().Classify(x, y); }
  std::optional<std::string> Failure() const override {
    for (const auto& level : Levels)
      if (auto failure = level->Failure()) return failure;
    return std::nullopt;
  }
  IMapSource* StoredLevel(int zoom) override {
    for (std::size_t i = 0; i + 1 < Levels.size(); ++i)
      if (Levels[i]->TileSet().Zoom >= zoom) return Levels[i].get();
    return nullptr;
  }
  // A folder may hold some zooms as a tree and others under a task's names.
  bool IsTree() const override {
    return std::any_of(Levels.begin(), Levels.end(), [](const auto& level) { return level->IsTree(); });
  }
  bool BuildsWhatLevelsLack() const override { return !Whole; }

 private:
  IMapSource& Top() const { return *Levels.back(); }

  std::vector<std::unique_ptr<IMapSource>> Levels;
  bool Whole;
};

// One zoom of a Z/X/Y tree, the whole world, read anew at each load.
class TTreeLevel : public IMapSource {
 public:
  TTreeLevel(std::shared_ptr<const TTileReader> reader, int zoom, const std::string& extension)
      : Reader(std::move(reader)) {
    const int last = static_cast<int>((1LL << zoom) - 1);
    Names.Set = TileSetOfRange(zoom, 0, 0, last, last);
    Names.Set.Format = extension;
    Names.Naming = TTileNaming::Tree;
  }

  const TTileSet& TileSet() const override { return Names.Set; }
  TDecodedTile Load(int x, int y) override { return Read(x, y, false); }
  TDecodedTile LoadEighth(int x, int y) override { return Read(x, y, true); }

 private:
  TDecodedTile Read(int x, int y, bool eighth) {
    if (!Rect().Contains(x, y)) return {};
    std::string bytes;
    const TTileKind kind = Reader->Read(Names.FileName(x, y).c_str(), bytes);
    if (kind != TTileKind::Good) return {kind, {}};
    return Decoded(bytes, eighth);
  }

  std::shared_ptr<const TTileReader> Reader;
  TTileSource Names;
};

}  // namespace

std::unique_ptr<IMapSource> OpenTileTree(const fs::path& folder, const std::string& extension, int maxZoom,
                                         std::size_t maxTileBytes) {
  // The reader reads by name in the folder's handle, which lives as long as any level.
  struct TOpenTree {
    TOpenTree(const fs::path& folder, std::size_t maxBytes)
        : Folder(OpenTileFolder(folder.string())), Reader(Folder.Get(), {}, maxBytes) {}
    TDescriptor Folder;
    TTileReader Reader;
  };
  const auto tree = std::make_shared<const TOpenTree>(folder, maxTileBytes);
  const std::shared_ptr<const TTileReader> reader(tree, &tree->Reader);
  std::vector<std::unique_ptr<IMapSource>> levels;
  for (int zoom = 0; zoom <= maxZoom; ++zoom) levels.push_back(std::make_unique<TTreeLevel>(reader, zoom, extension));
  return std::make_unique<TLevelsMapSource>(std::move(levels), true);
}

std::unique_ptr<IMapSource> OpenMapSource(const fs::path& path, const fs::path& programFolder,
                                          const TStartConfig& config, const TMapSourceOptions& options) {
  const auto maxTileBytes = static_cast<std::size_t>(std::max(config.MaxTileBytes, 0));
  if (path.extension() == ".mrd" && !fs::is_directory(path)) {
    const TTileSource source = TaskSource(path, config);
    const TTaskParams params = OpenTaskReadOnly(path, config);
    const TLonLatBox asked{params.LeftLongitude, params.BottomLatitude, params.RightLongitude, params.TopLatitude};
    return std::make_unique<TTilesMapSource>(source, programFolder, maxTileBytes, asked);
  }
  const std::vector<TTileSource> sources =
      InputSources(path, {.Zoom = std::nullopt, .FromSouth = options.FromSouth}, config);
  std::vector<std::unique_ptr<IMapSource>> levels;
  for (const TTileSource& source : sources)
    levels.push_back(std::make_unique<TTilesMapSource>(source, programFolder, maxTileBytes, std::nullopt));
  if (levels.size() == 1) return std::move(levels.front());
  return std::make_unique<TLevelsMapSource>(std::move(levels));
}

bool TDecodeFindings::Add(const TTileKey& key, TTileKind kind) {
  if (!FoundByDecoding(kind) || !Seen.insert(key).second) return false;
  if (Kept.size() < MaxMarks) Kept.push_back({key.X, key.Y, kind});
  return true;
}

void TDecodeFindings::Clear() {
  Seen.clear();
  Kept.clear();
}

void ScanKinds(IMapSource& source, const std::function<void(const TKindCounts&)>& report,
               const std::atomic<bool>& stop) {
  const TTileRect rect = source.Rect();
  if (rect.Empty() || !source.Classify(rect.MinX, rect.MinY)) return;
  TKindCounts counts;
  auto next = std::chrono::steady_clock::now();
  for (int y = rect.MinY; y <= rect.MaxY; ++y) {
    for (int x = rect.MinX; x <= rect.MaxX; ++x) {
      if (stop) return;
      const TTileKind kind = source.Classify(x, y).value_or(TTileKind::Good);
      ++counts.Checked;
      counts.Missing += kind == TTileKind::Missing;
      counts.Placeholder += kind == TTileKind::Placeholder;
      counts.Damaged += IsDamaged(kind);
      if (kind != TTileKind::Good) counts.Found.push_back({x, y, kind});
    }
    if (const auto now = std::chrono::steady_clock::now(); now >= next) {
      report(counts);
      counts.Found.clear();
      next = now + std::chrono::milliseconds(100);
    }
  }
  counts.Done = true;
  report(counts);
}

std::optional<TKindCounts::TBad> NextHole(const std::vector<TKindCounts::TBad>& scanned,
                                          const std::vector<TKindCounts::TBad>& undecodable,
                                          std::optional<std::pair<int, int>> after) {
  // Rows first: (y, x) orders the tiles as they are read.
  std::optional<TKindCounts::TBad> first, next;
  const auto rank = [](const TKindCounts::TBad& bad) { return std::pair(bad.Y, bad.X); };
  for (const auto* list : {&scanned, &undecodable})
    for (const TKindCounts::TBad& bad : *list) {
      if (!first || rank(bad) < rank(*first)) first = bad;
      if (after && rank(bad) > std::pair(after->second, after->first) && (!next || rank(bad) < rank(*next)))
        next = bad;
    }
  return next ? next : first;
}

}  // namespace meridane
