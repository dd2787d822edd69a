#pragma once

#include <string>

namespace meridane {

class TTileGrid;

// A rectangle of tiles of one zoom, as every reader and writer of tiles sees it. Rows
// count from the north (XYZ): row 0 is the northmost row of the zoom level.
struct TTileSet {
  int Zoom = 0;
  int MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;  // the rectangle of tiles, inclusive
  // The outer edges of that rectangle: degrees, and Web Mercator metres (EPSG:3857).
  double West = 0, South = 0, East = 0, North = 0;
  double WestMetres = 0, SouthMetres = 0, EastMetres = 0, NorthMetres = 0;
  std::string Format;  // the tiles' format: "jpg" or "png"
  std::string Name;    // stored in an archive's metadata
  std::string Description;

  long long Columns() const { return static_cast<long long>(MaxX) - MinX + 1; }
  long long Rows() const { return static_cast<long long>(MaxY) - MinY + 1; }
  long long Count() const { return Columns() * Rows(); }
};

// The tile set of the rectangle of columns minX..maxX and rows minY..maxY
// (from the north) at zoom: its edges; the format and names are left empty.
TTileSet TileSetOfRange(int zoom, int minX, int minY, int maxX, int maxY);

// The tile set of a task: its range with rows from the north, its edges, the
// tiles' format; Name is the task's name without ".mrd".
TTileSet TileSetOf(const TTileGrid& grid, const std::string& taskName);

// Half the circumference of the Web Mercator sphere, in metres.
inline constexpr double MercatorHalfWorld = 20037508.342789244;
// The west or north edge of tile column x or row y (from the north) at zoom, in metres.
double TileEdgeXMetres(long long x, int zoom);
double TileEdgeYMetres(long long y, int zoom);

}  // namespace meridane
