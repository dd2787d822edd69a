#pragma once

#include <compare>
#include <cstddef>
#include <functional>

namespace meridane {

// Web Mercator as the tile servers use it: the world is a square of
// 256 * 2^zoom pixels, x from the antimeridian eastward, y from the north.

// The northmost latitude the projection reaches (the square's top edge).
inline constexpr double MercatorMaxLatitude = 85.05112877980659;
// Tiles are this many pixels wide and high.
inline constexpr int TileSide = 256;
// The deepest zoom of any tile: tile numbers still fit an int there.
inline constexpr int MaxZoom = 30;

// The tiles a zoom level has in a row or a column: 2^zoom.
inline constexpr long long TilesAcross(int zoom) { return 1LL << zoom; }
// A row counted from the north as counted from the south (TMS), and back.
inline constexpr long long FlipRow(long long y, int zoom) { return TilesAcross(zoom) - 1 - y; }

struct TLonLat {
  double Lon = 0, Lat = 0;
};

// A point of the world in pixels at some zoom (fractional zooms allowed).
struct TWorldPoint {
  double X = 0, Y = 0;
};

// One tile: rows count from the north.
struct TTileKey {
  int Zoom = 0, X = 0, Y = 0;
  auto operator<=>(const TTileKey&) const = default;
};

struct TTileKeyHash {
  std::size_t operator()(const TTileKey& key) const noexcept {
    return std::hash<long long>()((static_cast<long long>(key.X) << 32) ^ (static_cast<long long>(key.Y) << 5) ^
                                  key.Zoom);
  }
};

// The world's side in pixels at zoom: TileSide * 2^zoom.
double WorldPixels(double zoom);

// The latitude is kept within the projection's limit.
TWorldPoint LonLatToPixel(TLonLat point, double zoom);
TLonLat PixelToLonLat(TWorldPoint pixel, double zoom);

// The tile holding the pixel at the integer zoom, kept within the grid (a
// pixel west of the world is in column 0).
TTileKey PixelToTile(TWorldPoint pixel, int zoom);
// The tile's north-west corner in pixels at its zoom.
TWorldPoint TileOrigin(const TTileKey& tile);

}  // namespace meridane
