#include "tiles/Projection.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace meridane {

double WorldPixels(double zoom) { return TileSide * std::exp2(zoom); }

TWorldPoint LonLatToPixel(TLonLat point, double zoom) {
  const double side = WorldPixels(zoom);
  const double lat = std::clamp(point.Lat, -MercatorMaxLatitude, MercatorMaxLatitude) * std::numbers::pi / 180;
  const double y = 0.5 - std::log(std::tan(std::numbers::pi / 4 + lat / 2)) / (2 * std::numbers::pi);
  return {(point.Lon + 180) / 360 * side, y * side};
}

TLonLat PixelToLonLat(TWorldPoint pixel, double zoom) {
  const double side = WorldPixels(zoom);
  const double n = std::numbers::pi * (1 - 2 * pixel.Y / side);
  return {pixel.X / side * 360 - 180, std::atan(std::sinh(n)) * 180 / std::numbers::pi};
}

TTileKey PixelToTile(TWorldPoint pixel, int zoom) {
  const double last = std::exp2(zoom) - 1;
  const auto index = [last](double p) { return static_cast<int>(std::clamp(std::floor(p / TileSide), 0.0, last)); };
  return {zoom, index(pixel.X), index(pixel.Y)};
}

TWorldPoint TileOrigin(const TTileKey& tile) {
  return {static_cast<double>(TileSide) * tile.X, static_cast<double>(TileSide) * tile.Y};
}

}  // namespace meridane
