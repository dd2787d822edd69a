#include "map/MapSource.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "combine/Archive.h"
#include "combine/Source.h"
#include "config/Config.h"
#include "task/Coverage.h"
#include "task/ProjectFile.h"

namespace meridane {

namespace fs = std::filesystem;

TTileRect IMapSource::Rect() const {
  const TTileSet& set = TileSet();
  return {set.MinX, set.MinY, set.MaxX, set.MaxY};
}

TDecodedTile IMapSource::LoadEighth(int x, int y) {
  TDecodedTile tile = Load(x, y);
  if (tile.Kind == TMapTileKind::Good) ShrinkToEighth(tile.Pixels);
  return tile;
}

namespace {

TDecodedTile Decoded(std::string_view bytes, bool eighth = false) {
  TDecodedTile tile;
  const bool sound = eighth ? DecodeTileEighth(bytes, tile.Pixels) : DecodeTile(bytes, tile.Pixels);
  tile.Kind = sound ? TMapTileKind::Good : TMapTileKind::Damaged;
  if (tile.Kind != TMapTileKind::Good) tile.Pixels.clear();
  return tile;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Tiles as files named the way a task names them.
class TFileMapSource : public IMapSource {
 public:
  TFileMapSource(TTileSource source, std::string blank, std::optional<TLonLatBox> requested)
      : Source(std::move(source)), Blank(std::move(blank)), Asked(requested) {}

  const TTileSet& TileSet() const override { return Source.Set; }
  std::optional<TLonLatBox> Requested() const override { return Asked; }

  TDecodedTile Load(int x, int y) override { return Read(x, y, false); }
  TDecodedTile LoadEighth(int x, int y) override { return Read(x, y, true); }

  std::optional<TMapTileKind> Classify(int x, int y) override {
    const std::string path = Source.Folder + Source.FileName(x, y);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_size == 0) return TMapTileKind::Missing;
    // Only a file of the placeholder's size can be it: most tiles are never read.
    if (Blank.empty() || static_cast<std::size_t>(info.st_size) != Blank.size()) return TMapTileKind::Good;
    const std::optional<std::string> bytes = ReadFile(path);
    return bytes && *bytes == Blank ? TMapTileKind::Placeholder : TMapTileKind::Good;
  }

 private:
  TDecodedTile Read(int x, int y, bool eighth) {
    const std::optional<std::string> bytes = ReadFile(Source.Folder + Source.FileName(x, y));
    if (!bytes || bytes->empty()) return {};
    switch (KindOfBytes(*bytes, Blank)) {
      case TTileKind::Placeholder: return {TMapTileKind::Placeholder, {}};
      case TTileKind::Good: return Decoded(*bytes, eighth);
      default: return {TMapTileKind::Damaged, {}};
    }
  }

  TTileSource Source;
  std::string Blank;
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

 private:
  TDecodedTile Read(int x, int y, bool eighth) {
    std::optional<std::string> bytes;
    {
      const std::lock_guard guard(Reading);
      bytes = Archive->Get(TileSet().Zoom, x, y);
    }
    if (!bytes) return {};
    return Decoded(*bytes, eighth);
  }

  std::unique_ptr<ITileArchive> Archive;
  std::mutex Reading;
};

}  // namespace

std::unique_ptr<IMapSource> OpenMapSource(const fs::path& path, const fs::path& programFolder,
                                          const TStartConfig& config) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    TTileSource source = FolderSource(path, std::nullopt);
    std::string blank = PlaceholderBytes(programFolder, source.Set.Format);
    return std::make_unique<TFileMapSource>(std::move(source), std::move(blank), std::nullopt);
  }
  if (path.extension() == ".mrd") {
    TTileSource source = TaskSource(path, config);
    const TTaskParams params = OpenTaskReadOnly(path, config);
    const TLonLatBox asked{params.LeftLongitude, params.BottomLatitude, params.RightLongitude, params.TopLatitude};
    std::string blank = PlaceholderBytes(programFolder, source.Set.Format);
    return std::make_unique<TFileMapSource>(std::move(source), std::move(blank), asked);
  }
  return std::make_unique<TArchiveMapSource>(OpenTileArchive(path));
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
      const TMapTileKind kind = source.Classify(x, y).value_or(TMapTileKind::Good);
      ++counts.Checked;
      counts.Missing += kind == TMapTileKind::Missing;
      counts.Placeholder += kind == TMapTileKind::Placeholder;
      if (kind == TMapTileKind::Missing || kind == TMapTileKind::Placeholder) counts.Found.push_back({x, y, kind});
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

}  // namespace meridane
