#include "map/MapSource.h"

#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "config/Config.h"
#include "task/Descriptor.h"
#include "task/ProjectFile.h"
#include "tiles/Archive.h"
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

// Tiles as files named the way a task names them, read as every program reads
// them: the tile folder is opened once, and a file is read only when it is a
// regular file of that folder and no longer than a tile may be.
class TFileMapSource : public IMapSource {
 public:
  TFileMapSource(TTileSource source, std::string blank, std::size_t maxTileBytes, std::optional<TLonLatBox> requested)
      : Source(std::move(source)),
        Folder(OpenTileFolder(Source.Folder)),
        Reader(Folder.Get(), std::move(blank), maxTileBytes),
        Asked(requested) {}

  const TTileSet& TileSet() const override { return Source.Set; }
  std::optional<TLonLatBox> Requested() const override { return Asked; }

  TDecodedTile Load(int x, int y) override { return Read(x, y, false); }
  TDecodedTile LoadEighth(int x, int y) override { return Read(x, y, true); }

  std::optional<TTileKind> Classify(int x, int y) override {
    // The first bytes, as the check's quick pass reads them: an error page or
    // a link is told here, a file that does not decode only when loaded.
    std::string scratch;
    return Reader.Peek(Source.FileName(x, y).c_str(), scratch);
  }

 private:
  TDecodedTile Read(int x, int y, bool eighth) {
    std::string bytes;
    const TTileKind kind = Reader.Read(Source.FileName(x, y).c_str(), bytes);
    if (kind != TTileKind::Good) return {kind, {}};
    return Decoded(bytes, eighth);
  }

  TTileSource Source;
  TDescriptor Folder;
  TTileReader Reader;
  std::optional<TLonLatBox> Asked;
};

// An MBTiles or PMTiles file: its reader serves one thread at a time, the
// decoding runs in parallel.
class TArchiveMapSource : public IMapSource {
 public:
  explicit TArchiveMapSource(std::unique_ptr<ITileArchive> archive) : Archive(std::move(archive)) {}

  const TTileSet& TileSet() const override { return Archive->TileSet(); }

  TDecodedTile Load(int x, int y) override { return Read(x, y, false); }
  TDecodedTile LoadEighth(int x, int y) override { return Read(x, y, true); }

  std::optional<std::string> Failure() const override {
    const std::lock_guard guard(Reading);
    return FirstFailure;
  }

 private:
  TDecodedTile Read(int x, int y, bool eighth) {
    std::optional<std::string> bytes;
    {
      const std::lock_guard guard(Reading);
      try {
        bytes = Archive->Get(TileSet().Zoom, x, y);
      } catch (const std::runtime_error& error) {
        // Kept for the window to say once; the caller still sees every failure.
        if (!FirstFailure) FirstFailure = error.what();
        throw;
      }
    }
    if (!bytes) return {};
    return Decoded(*bytes, eighth);
  }

  std::unique_ptr<ITileArchive> Archive;
  mutable std::mutex Reading;
  std::optional<std::string> FirstFailure;
};

}  // namespace

std::unique_ptr<IMapSource> OpenMapSource(const fs::path& path, const fs::path& programFolder,
                                          const TStartConfig& config) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    TTileSource source = FolderSource(path, std::nullopt);
    std::string blank = PlaceholderBytes(programFolder, source.Set.Format);
    return std::make_unique<TFileMapSource>(std::move(source), std::move(blank), config.MaxTileBytes, std::nullopt);
  }
  if (path.extension() == ".mrd") {
    TTileSource source = TaskSource(path, config);
    const TTaskParams params = OpenTaskReadOnly(path, config);
    const TLonLatBox asked{params.LeftLongitude, params.BottomLatitude, params.RightLongitude, params.TopLatitude};
    std::string blank = PlaceholderBytes(programFolder, source.Set.Format);
    return std::make_unique<TFileMapSource>(std::move(source), std::move(blank), config.MaxTileBytes, asked);
  }
  return std::make_unique<TArchiveMapSource>(OpenTileArchive(path, config.MaxTileBytes));
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
