#pragma once

// Conversions between degrees and tile indices of the spherical Mercator grid.
// The exact rounding of every step is part of the contract: tile boundaries and
// the edges written to the image list depend on it, so keep the arithmetic as is.

namespace meridane {

// Rows are counted from the north (0) unless fromSouth is 1.
int LonToTileX(double lon, int zoom);
int LatToTileY(double lat, int zoom, int fromSouth);
double TileXToLon(double x, int zoom);
double TileYToLat(double y, int zoom, int fromSouth);

// Number of columns (and rows) of the grid at a zoom level.
inline long long GridSize(int zoom) { return 1LL << zoom; }

}  // namespace meridane
