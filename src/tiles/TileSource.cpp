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
  if (Naming == TTileNaming::Tree)
    return std::to_string(Set.Zoom) + "/" + std::to_string(x) + "/" + std::to_string(row) + "." + Set.Format;
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
  std::map<std::string, long long> Extensions;  // a tree's, by their tiles

  void Add(int x, int y) {
    MinX = MaxX < MinX ? x : std::min(MinX, x);
    MaxX = std::max(MaxX, x);
    MinY = MaxY < MinY ? y : std::min(MinY, y);
    MaxY = std::max(MaxY, y);
    ++Count;
  }
};

using TZooms = std::map<int, TZoomTiles>;

// The tiles named as a task names them, by zoom.
TZooms ScanTaskNames(const fs::path& folder, std::optional<int> zoom) {
  std::error_code ec;
  fs::directory_iterator entries(folder, ec);
  if (ec) throw ETileSourceError(CannotOpenMessage(folder));
  TZooms zooms;
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
    z.Add(tile->X, tile->Y);
  }
  return zooms;
}

// A number as a tree writes it: plain decimal, no sign, no leading zero.
std::optional<long long> TreeNumber(std::string_view text) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text.front() == '0')) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool IsTreeExtension(std::string_view extension) {
  return extension == "jpg" || extension == "jpeg" || extension == "png" || extension == "webp";
}

// A real folder of the tree: a link is not followed out of it.
bool IsFolder(const fs::directory_entry& entry) {
  std::error_code ec;
  return entry.symlink_status(ec).type() == fs::file_type::directory;
}

// The tiles of a Z/X/Y tree, by zoom; rows as the files count them.
TZooms ScanTree(const fs::path& folder, std::optional<int> zoom) {
  TZooms zooms;
  std::error_code ec;
  for (const fs::directory_entry& level : fs::directory_iterator(folder, ec)) {
    const auto z = TreeNumber(level.path().filename().string());
    if (!z || *z > MaxZoom || (zoom && *z != *zoom) || !IsFolder(level)) continue;
    const long long size = GridSize(static_cast<int>(*z));
    std::error_code columnError;
    for (const fs::directory_entry& column : fs::directory_iterator(level.path(), columnError)) {
      const auto x = TreeNumber(column.path().filename().string());
      if (!x || *x >= size || !IsFolder(column)) continue;
      std::error_code rowError;
      for (const fs::directory_entry& tile : fs::directory_iterator(column.path(), rowError)) {
        const std::string name = tile.path().filename().string();
        const std::size_t dot = name.find('.');
        if (dot == std::string::npos) continue;
        const auto y = TreeNumber(std::string_view(name).substr(0, dot));
        const std::string extension = name.substr(dot + 1);
        if (!y || *y >= size || !IsTreeExtension(extension)) continue;
        TZoomTiles& tiles = zooms[static_cast<int>(*z)];
        tiles.Add(static_cast<int>(*x), static_cast<int>(*y));
        ++tiles.Extensions[extension];
      }
    }
  }
  return zooms;
}

std::string FolderName(const fs::path& folder) {
  return folder.filename().empty() ? folder.parent_path().filename().string() : folder.filename().string();
}

// The source of one zoom's tiles found in a folder.
TTileSource SourceOf(const fs::path& folder, int at, TZoomTiles z, TTileNaming naming, bool fromSouth) {
  const std::string where = folder.string();
  TTileSource source;
  source.Naming = naming;
  if (naming == TTileNaming::Task) {
    source.Prefix = z.Prefix;
    if (z.Prefixes.size() > 1) {
      std::string names;
      for (const std::string& prefix : z.Prefixes) names += (names.empty() ? "" : ", ") + prefix;
      throw ETileSourceError(where + " holds tiles of more than one map type at zoom " + std::to_string(at) + ": " +
                             names);
    }
    for (int type = 0; !MapTypeOf(type).Prefix.empty(); ++type)
      if (MapTypeOf(type).Prefix == source.Prefix) source.FromSouth = MapTypeOf(type).FromSouth == 1;
  } else {
    // The extension most of the zoom's tiles have.
    long long most = 0;
    for (const auto& [extension, count] : z.Extensions)
      if (count > most) std::tie(most, z.Format) = std::pair(count, extension);
    source.FromSouth = fromSouth;
  }
  if (source.FromSouth)
    std::tie(z.MinY, z.MaxY) = std::pair(static_cast<int>(FlipRow(z.MaxY, at)), static_cast<int>(FlipRow(z.MinY, at)));
  source.Set = TileSetOfRange(at, z.MinX, z.MinY, z.MaxX, z.MaxY);
  source.Set.Format = z.Format;
  source.Set.Name = FolderName(folder);
  source.Folder = where;
  if (!source.Folder.ends_with(fs::path::preferred_separator)) source.Folder += fs::path::preferred_separator;
  return source;
}

void CheckZoom(std::optional<int> zoom) {
  if (zoom && (*zoom < 0 || *zoom > MaxZoom)) throw ETileSourceError("The zoom level must be 0 to 30.");
}

}  // namespace

std::string NoTilesMessage(const fs::path& folder, std::optional<int> zoom) {
  return (zoom ? "No tiles of zoom " + std::to_string(*zoom) + " in " : "No tiles in folder ") + folder.string() +
         " (tiles are looked for as Z/X/Y.png, .jpg, .jpeg or .webp, or named as a task names them, "
         "gs_X_Y_Z.jpg)";
}

TTileSource FolderSource(const fs::path& folder, std::optional<int> zoom) {
  CheckZoom(zoom);
  TZooms zooms = ScanTaskNames(folder, zoom);
  if (zooms.empty()) throw ETileSourceError(NoTilesMessage(folder, zoom));
  // The first of the zooms with the most tiles.
  auto chosen = zooms.begin();
  for (auto it = zooms.begin(); it != zooms.end(); ++it)
    if (it->second.Count > chosen->second.Count) chosen = it;
  return SourceOf(folder, chosen->first, chosen->second, TTileNaming::Task, false);
}

std::vector<TTileSource> FolderSources(const fs::path& folder, std::optional<int> zoom, bool fromSouth) {
  CheckZoom(zoom);
  TZooms named = ScanTaskNames(folder, zoom);
  const TZooms tree = ScanTree(folder, zoom);
  std::vector<TTileSource> sources;
  // A folder that holds both: each zoom from the naming with more of its tiles.
  for (auto& [at, z] : named) {
    const auto other = tree.find(at);
    if (other == tree.end() || other->second.Count <= z.Count)
      sources.push_back(SourceOf(folder, at, z, TTileNaming::Task, false));
  }
  for (const auto& [at, z] : tree) {
    const auto other = named.find(at);
    if (other == named.end() || other->second.Count < z.Count)
      sources.push_back(SourceOf(folder, at, z, TTileNaming::Tree, fromSouth));
  }
  if (sources.empty()) throw ETileSourceError(NoTilesMessage(folder, zoom));
  std::sort(sources.begin(), sources.end(),
            [](const TTileSource& a, const TTileSource& b) { return a.Set.Zoom < b.Set.Zoom; });
  return sources;
}

}  // namespace meridane
