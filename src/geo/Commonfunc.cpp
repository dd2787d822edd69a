#include "geo/Commonfunc.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace meridane {

static_assert(std::numeric_limits<long double>::digits == 64, "the tile arithmetic needs the 80-bit extended format");

namespace {

using Ext = long double;

constexpr double Pi = 3.141592653589793;
// The reciprocals are applied by multiplication; 1/360 rounded to a 64-bit
// significand lies just below 1/360, which decides the column of a longitude
// that falls exactly on a column boundary.
constexpr Ext R360 = 1.0L / 360.0L;
constexpr Ext R180 = 1.0L / 180.0L;

Ext GridSizeExt(int zoom) { return static_cast<Ext>(static_cast<std::int32_t>(1U << zoom)); }

// Toward zero through a 64-bit integer, keeping the low 32 bits.
int Truncate(Ext v) { return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(v))); }

int ProjectionLimitRow(double lat, int zoom, int fromSouth) {
  const int last = static_cast<int>(GridSize(zoom) - 1);
  const bool north = lat > 0;
  return (north == (fromSouth == 1)) ? last : 0;
}

}  // namespace

int LonToTileX(double lon, int zoom) {
  const Ext a = static_cast<Ext>(lon) + 180;
  const Ext b = a * R360;
  return Truncate(b * GridSizeExt(zoom));
}

int LatToTileY(double lat, int zoom, int fromSouth) {
  // The poles have no finite Mercator ordinate; they belong to the row at the
  // projection limit on their side.
  if (lat >= 90 || lat <= -90) return ProjectionLimitRow(lat, zoom, fromSouth);
  const Ext n = GridSizeExt(zoom);
  if (fromSouth == 1) {
    const double u = static_cast<double>(static_cast<Ext>(Pi) * 0.25L + ((R180 * lat) * Pi) * 0.5L);
    const double t = std::tan(u);
    const double m = std::log(t);
    return Truncate((static_cast<Ext>(m) / Pi + 1) * 0.5L * n);
  }
  const double phi = static_cast<double>((static_cast<Ext>(Pi) * lat) * R180);
  const double s = std::sin(phi);
  const double q = static_cast<double>((static_cast<Ext>(s) + 1) / (1 - static_cast<Ext>(s)));
  const double m = static_cast<double>(0.5L * std::log(static_cast<Ext>(q)));
  return Truncate((1 - static_cast<Ext>(m) / Pi) * 0.5L * n);
}

double TileXToLon(double x, int zoom) {
  return static_cast<double>((360 * static_cast<Ext>(x)) / GridSizeExt(zoom) - 180);
}

double TileYToLat(double y, int zoom, int fromSouth) {
  const Ext n = GridSizeExt(zoom);
  if (fromSouth == 1) {
    // The library functions take and give doubles, as for the rows from the north.
    const double t = static_cast<double>(static_cast<Ext>(Pi) * (2 * static_cast<Ext>(y) / n - 1));
    const double a = std::atan(std::exp(t));
    return static_cast<double>(static_cast<Ext>(a) * 360 / Pi - 90);
  }
  // The product 4*pi*y is rounded to double before the division: the published
  // edges were computed that way (row 389 at zoom 10 ends in ...36669; with an
  // extended product it would end in ...36670).
  const double product = 4 * Pi * y;
  const double t = static_cast<double>(2 * static_cast<Ext>(Pi) - static_cast<Ext>(product) / n);
  const double r = std::exp(t);
  const double w = static_cast<double>((static_cast<Ext>(r) - 1) / (static_cast<Ext>(r) + 1));
  return static_cast<double>(static_cast<Ext>(std::asin(w)) * 180 / Pi);
}

}  // namespace meridane
