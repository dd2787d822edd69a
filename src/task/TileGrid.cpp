#include "task/TileGrid.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>

#include "geo/Commonfunc.h"
#include "task/MapTypes.h"

namespace meridane {

namespace {

// The name without its extension.
std::string BaseName(const std::string& taskName) {
  return taskName.substr(0, taskName.size() - FileExtension(taskName).size());
}

// A number as tile names write it: plain decimal of an int, as to_string writes it.
bool ParseTileNumber(std::string_view text, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && std::to_string(value) == text;
}

}  // namespace

std::string FileExtension(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

TTileRange ComputeTileRange(const TTaskParams& params) {
  const int fromSouth = MapTypeOf(params.MapsType).FromSouth;
  const int zoom = params.Zoom;
  if (zoom < 0 || zoom > 30) throw ETaskBuildError("");

  TTileRange r;
  // Columns and rows outside the grid have no tiles: past the antimeridian, or
  // north or south of the projection limit, the range ends at the grid's edge.
  const int last = static_cast<int>(GridSize(zoom) - 1);
  r.MinX = std::clamp(LonToTileX(params.LeftLongitude, zoom), 0, last);
  r.MaxX = std::clamp(LonToTileX(params.RightLongitude, zoom), 0, last);
  const int yBottom = std::clamp(LatToTileY(params.BottomLatitude, zoom, fromSouth), 0, last);
  const int yTop = std::clamp(LatToTileY(params.TopLatitude, zoom, fromSouth), 0, last);
  r.MinY = yBottom;
  r.MaxY = yTop;
  r.LeftEdge = TileXToLon(r.MinX, zoom);
  r.RightEdge = TileXToLon(static_cast<double>(r.MaxX) + 1, zoom);
  if (fromSouth == 1) {
    r.TopEdge = TileYToLat(static_cast<double>(yTop) + 1, zoom, 1);
    r.BottomEdge = TileYToLat(yBottom, zoom, 1);
  } else {
    r.TopEdge = TileYToLat(yTop, zoom, 0);
    r.BottomEdge = TileYToLat(static_cast<double>(yBottom) + 1, zoom, 0);
  }
  if (r.MaxY < r.MinY) std::swap(r.MinY, r.MaxY);

  // Sequence numbers and counts are 32-bit: refuse what they cannot hold.
  const long long count = (static_cast<long long>(r.MaxX) - r.MinX + 1) * (static_cast<long long>(r.MaxY) - r.MinY + 1);
  if (count > std::numeric_limits<int>::max())
    throw ETaskBuildError("Too many images: " + std::to_string(count) +
                          ". Please select a smaller area or a lower zoom level.");
  r.TotalCount = static_cast<int>(std::max(count, 0LL));
  return r;
}

std::optional<TTileName> ParseTileFileName(std::string_view name) {
  // Map types 0.. have a prefix; the first without one is past the table.
  for (int type = 0; !MapTypeOf(type).Prefix.empty(); ++type) {
    const TMapType& map = MapTypeOf(type);
    const std::string head = std::string(map.Prefix) + "_", tail = "." + std::string(map.Extension);
    if (name.size() <= head.size() + tail.size() || !name.starts_with(head) || !name.ends_with(tail)) continue;
    std::string_view numbers = name.substr(head.size(), name.size() - head.size() - tail.size());
    TTileName tile{.Prefix = std::string(map.Prefix), .Extension = std::string(map.Extension)};
    for (int* part : {&tile.X, &tile.Y}) {
      const std::size_t bar = numbers.find('_');
      if (bar == std::string_view::npos || !ParseTileNumber(numbers.substr(0, bar), *part)) return std::nullopt;
      numbers.remove_prefix(bar + 1);
    }
    if (!ParseTileNumber(numbers, tile.Zoom)) return std::nullopt;
    return tile;
  }
  return std::nullopt;
}

TTileGrid::TTileGrid(const TTaskParams& params)
    : TileRange(ComputeTileRange(params)),
      ZoomLevel(params.Zoom),
      MapType(params.MapsType),
      Folder(params.Folder + BaseName(params.TaskName) +
             static_cast<char>(std::filesystem::path::preferred_separator)),
      Hosts(params.Hosts) {
  const std::pair<std::string_view, TPiece> names[] = {{"{host}", TPiece::Host},
                                                       {"{galileo}", TPiece::Galileo},
                                                       {"{x}", TPiece::X},
                                                       {"{y}", TPiece::Y},
                                                       {"{z}", TPiece::Zoom}};
  std::string_view rest = params.UrlTemplate;
  std::string text;
  while (!rest.empty()) {
    bool matched = false;
    for (const auto& [name, piece] : names) {
      if (!rest.starts_with(name)) continue;
      if (!text.empty()) UrlPieces.emplace_back(TPiece::Text, std::move(text));
      text.clear();
      UrlPieces.emplace_back(piece, std::string());
      rest.remove_prefix(name.size());
      matched = true;
      break;
    }
    if (!matched) {
      text += rest.front();
      rest.remove_prefix(1);
    }
  }
  if (!text.empty()) UrlPieces.emplace_back(TPiece::Text, std::move(text));
}

int TTileGrid::FromSouth() const { return MapTypeOf(MapType).FromSouth; }

long long TTileGrid::SequenceOf(int x, int y) const {
  return (static_cast<long long>(x) - TileRange.MinX) * RowCount() + (static_cast<long long>(y) - TileRange.MinY) + 1;
}

std::string GalileoPrefix(int x, int y) {
  static constexpr std::string_view Word = "Galileo";
  const int k = x % 3 == 1 ? 3 : x % 3 == 2 ? 6 : 0;
  const int length = ((x / 3) + k + y) % 8;
  return length <= 0 ? std::string() : std::string(Word.substr(0, static_cast<std::size_t>(length)));
}

std::string TTileGrid::TileUrl(int x, int y) const {
  if (MapType != SatelliteMapType) return {};
  const int server = y % 4;
  std::string url;
  for (const auto& [piece, text] : UrlPieces) {
    switch (piece) {
      case TPiece::Text: url += text; break;
      case TPiece::Host:
        if (server >= 0) url += Hosts[static_cast<std::size_t>(server)];
        break;
      case TPiece::Galileo: url += GalileoPrefix(x, y); break;
      case TPiece::X: url += std::to_string(x); break;
      case TPiece::Y: url += std::to_string(y); break;
      case TPiece::Zoom: url += std::to_string(ZoomLevel); break;
    }
  }
  return url;
}

std::string TTileGrid::FileNameHead(int x) const {
  return std::string(MapTypeOf(MapType).Prefix) + "_" + std::to_string(x) + "_";
}

std::string TTileGrid::FileNameTail(int y) const {
  return std::to_string(y) + "_" + std::to_string(ZoomLevel) + "." + Extension();
}

std::string TTileGrid::Extension() const { return std::string(MapTypeOf(MapType).Extension); }

}  // namespace meridane
