#include "tiles/Archive.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "tiles/MbtilesReader.h"
#include "tiles/PmtilesReader.h"
#include "tiles/Projection.h"

namespace meridane {

namespace {

std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::vector<double> ParseNumbers(const std::string& text) {
  std::vector<double> numbers;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const auto number = ParseNumber(std::string_view(text).substr(start, comma - start));
    if (!number) return {};
    numbers.push_back(*number);
    start = comma + 1;
  }
  return numbers;
}

// Tile coordinates of a longitude and latitude, as fractions: the one
// projection, its latitude held within the square.
TWorldPoint TileOf(double lon, double lat, int zoom) {
  const TWorldPoint pixel = LonLatToPixel({lon, lat}, zoom);
  return {pixel.X / TileSide, pixel.Y / TileSide};
}

// The tiles a range of fractional coordinates covers. Edges read back from text
// may miss the tile edge by a rounding step, which must not add a tile.
std::pair<int, int> Covered(double low, double high, int zoom) {
  constexpr double Slack = 1e-3;
  const double last = static_cast<double>(GridSize(zoom) - 1);
  const double first = std::clamp(std::floor(low + Slack), 0.0, last);
  const double end = std::clamp(std::ceil(high - Slack) - 1, first, last);
  return {static_cast<int>(first), static_cast<int>(end)};
}

}  // namespace

std::string NumberText(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

TTileSet TileSetFromMetadata(const std::map<std::string, std::string>& metadata, TTileSet set) {
  const auto text = [&](const char* key) -> const std::string* {
    const auto found = metadata.find(key);
    return found == metadata.end() ? nullptr : &found->second;
  };
  if (const std::string* name = text("name")) set.Name = *name;
  if (const std::string* format = text("format")) set.Format = *format;
  if (const std::string* description = text("description")) set.Description = *description;
  // An archive of several zooms is shown at its deepest.
  // Numbers no map has are refused: they would become tile numbers out of range.
  if (const std::string* zoom = text("maxzoom")) {
    const auto value = ParseNumber(*zoom);
    if (!value || *value < 0 || *value > MaxZoom || *value != std::floor(*value))
      throw std::invalid_argument("its zoom \"" + *zoom + "\" is not one of 0 to " + std::to_string(MaxZoom));
    set.Zoom = static_cast<int>(*value);
  }
  if (const std::string* bounds = text("bounds")) {
    const std::vector<double> edges = ParseNumbers(*bounds);
    if (edges.size() != 4) throw std::invalid_argument("its bounds \"" + *bounds + "\" are not four numbers");
    if (const auto fault = BoundsFault(edges[0], edges[1], edges[2], edges[3])) throw std::invalid_argument(*fault);
    set.West = edges[0];
    set.South = edges[1];
    set.East = edges[2];
    set.North = edges[3];
  }
  if (set.Zoom < 0 || set.Zoom > MaxZoom)
    throw std::invalid_argument("its zoom " + std::to_string(set.Zoom) + " is not one of 0 to " +
                                std::to_string(MaxZoom));
  const int zoom = set.Zoom;
  return TileSetAtZoom(std::move(set), zoom);
}

TTileSet TileSetAtZoom(TTileSet set, int zoom) {
  set.Zoom = zoom;
  const TWorldPoint northWest = TileOf(set.West, set.North, set.Zoom);
  const TWorldPoint southEast = TileOf(set.East, set.South, set.Zoom);
  std::tie(set.MinX, set.MaxX) = Covered(northWest.X, southEast.X, set.Zoom);
  std::tie(set.MinY, set.MaxY) = Covered(northWest.Y, southEast.Y, set.Zoom);
  set.WestMetres = TileEdgeXMetres(set.MinX, set.Zoom);
  set.EastMetres = TileEdgeXMetres(static_cast<long long>(set.MaxX) + 1, set.Zoom);
  set.NorthMetres = TileEdgeYMetres(set.MinY, set.Zoom);
  set.SouthMetres = TileEdgeYMetres(static_cast<long long>(set.MaxY) + 1, set.Zoom);
  return set;
}

std::optional<std::string> BoundsFault(double west, double south, double east, double north) {
  const auto text = [](double value) { return std::isfinite(value) ? NumberText(value) : std::string("not a number"); };
  const std::string bounds = text(west) + "," + text(south) + "," + text(east) + "," + text(north);
  if (!(west >= -180 && east <= 180 && south >= -90 && north <= 90))
    return "its bounds " + bounds + " are outside the world";
  if (!(west < east && south < north)) return "its bounds " + bounds + " enclose nothing";
  return std::nullopt;
}

std::unique_ptr<ITileArchive> OpenTileArchive(const std::filesystem::path& path, std::size_t maxTileBytes) {
  char start[16] = {};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(CannotOpenMessage(path));
  in.read(start, sizeof start);
  const std::string_view first(start, static_cast<std::size_t>(in.gcount()));
  if (first.starts_with(PmtilesMagic)) return std::make_unique<TPmtilesReader>(path, maxTileBytes);
  if (first == std::string_view("SQLite format 3\0", 16)) return std::make_unique<TMbtilesReader>(path, maxTileBytes);
  throw std::runtime_error(CannotOpenMessage(path) + ": not an MBTiles or PMTiles file");
}

}  // namespace meridane
