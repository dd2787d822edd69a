#include "tiles/TileSource.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "task/MapTypes.h"
#include "task/ProjectFile.h"
#include "tiles/Projection.h"

namespace meridane {

namespace fs = std::filesystem;

std::string TTileSource::FileName(int x, int y) const {
  const long long row = FromSouth ? FlipRow(y, Set.Zoom) : y;
  return Prefix + "_" + std::to_string(x) + "_" + std::to_string(row) + "_" + std::to_string(Set.Zoom) + "." +
         Set.Format;
}

TTileSource TaskSource(const fs::path& project, const TStartConfig& config) {
  try {
    const TTaskParams params = OpenTaskReadOnly(project, config);
    const TTileGrid grid(params);
    TTileSource source;
    source.Set = TileSetOf(grid, params.TaskName);
    source.Folder = grid.TileFolder();
    source.Prefix = std::string(MapTypeOf(grid.MapsType()).Prefix);
    source.FromSouth = grid.FromSouth() == 1;
    return source;
  } catch (const std::runtime_error& e) {
    throw ETileSourceError(*e.what() ? e.what() : CreateTaskFailureMessage);
  }
}

namespace {

// What a folder holds of one zoom.
struct TZoomTiles {
  long long Count = 0;
  int MinX = 0, MaxX = -1, MinY = 0, MaxY = -1;
  std::set<std::string> Prefixes;
  std::string Prefix, Format;  // of the first tile of the last map type found
};

}  // namespace

TTileSource FolderSource(const fs::path& folder, std::optional<int> zoom) {
  const std::string where = folder.string();
  if (zoom && (*zoom < 0 || *zoom > MaxZoom)) throw ETileSourceError("The zoom level must be 0 to 30.");
  std::error_code ec;
  fs::directory_iterator entries(folder, ec);
  if (ec) throw ETileSourceError(CannotOpenMessage(folder));
  std::map<int, TZoomTiles> zooms;
  for (const fs::directory_entry& entry : entries) {
    const auto tile = ParseTileFileName(entry.path().filename().string());
    if (!tile || (zoom && tile->Zoom != *zoom) || tile->Zoom > MaxZoom) continue;
    const long long size = GridSize(tile->Zoom);
    if (tile->X >= size || tile->Y >= size) continue;
    TZoomTiles& z = zooms[tile->Zoom];
    if (z.Prefixes.insert(tile->Prefix).second) {
      z.Prefix = tile->Prefix;
      z.Format = tile->Extension;
    }
    z.MinX = z.MaxX < z.MinX ? tile->X : std::min(z.MinX, tile->X);
    z.MaxX = std::max(z.MaxX, tile->X);
    z.MinY = z.MaxY < z.MinY ? tile->Y : std::min(z.MinY, tile->Y);
    z.MaxY = std::max(z.MaxY, tile->Y);
    ++z.Count;
  }
  if (zooms.empty())
    throw ETileSourceError(zoom ? "No tiles of zoom " + std::to_string(*zoom) + " in " + where
                                  : "No tiles in folder " + where);
  // The first of the zooms with the most tiles.
  auto chosen = zooms.begin();
  for (auto it = zooms.begin(); it != zooms.end(); ++it)
    if (it->second.Count > chosen->second.Count) chosen = it;
  const int at = chosen->first;
  TZoomTiles& z = chosen->second;
  TTileSource source;
  source.Prefix = z.Prefix;
  if (z.Prefixes.size() > 1) {
    std::string names;
    for (const std::string& prefix : z.Prefixes) names += (names.empty() ? "" : ", ") + prefix;
    throw ETileSourceError(where + " holds tiles of more than one map type at zoom " + std::to_string(at) +
                             ": " + names);
  }
  for (int type = 0; !MapTypeOf(type).Prefix.empty(); ++type)
    if (MapTypeOf(type).Prefix == source.Prefix) source.FromSouth = MapTypeOf(type).FromSouth == 1;
  if (source.FromSouth)
    std::tie(z.MinY, z.MaxY) = std::pair(static_cast<int>(FlipRow(z.MaxY, at)), static_cast<int>(FlipRow(z.MinY, at)));
  source.Set = TileSetOfRange(at, z.MinX, z.MinY, z.MaxX, z.MaxY);
  source.Set.Format = z.Format;
  source.Set.Name = folder.filename().empty() ? folder.parent_path().filename().string() : folder.filename().string();
  source.Folder = where;
  if (!source.Folder.ends_with(fs::path::preferred_separator)) source.Folder += fs::path::preferred_separator;
  return source;
}

}  // namespace meridane
