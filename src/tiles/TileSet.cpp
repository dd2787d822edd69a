#include <cmath>

#include "tiles/TileSet.h"
#include "geo/Commonfunc.h"
#include "task/TileGrid.h"
#include "tiles/Projection.h"

namespace meridane {

double TileEdgeXMetres(long long x, int zoom) {
  return -MercatorHalfWorld + 2 * MercatorHalfWorld * static_cast<double>(x) / static_cast<double>(GridSize(zoom));
}

double TileEdgeYMetres(long long y, int zoom) {
  return MercatorHalfWorld - 2 * MercatorHalfWorld * static_cast<double>(y) / static_cast<double>(GridSize(zoom));
}

TTileSet TileSetOfRange(int zoom, int minX, int minY, int maxX, int maxY) {
  TTileSet set;
  set.Zoom = zoom;
  set.MinX = minX;
  set.MaxX = maxX;
  set.MinY = minY;
  set.MaxY = maxY;
  set.West = TileXToLon(set.MinX, set.Zoom);
  set.East = TileXToLon(static_cast<double>(set.MaxX) + 1, set.Zoom);
  set.North = TileYToLat(set.MinY, set.Zoom, 0);
  set.South = TileYToLat(static_cast<double>(set.MaxY) + 1, set.Zoom, 0);
  set.WestMetres = TileEdgeXMetres(set.MinX, set.Zoom);
  set.EastMetres = TileEdgeXMetres(static_cast<long long>(set.MaxX) + 1, set.Zoom);
  set.NorthMetres = TileEdgeYMetres(set.MinY, set.Zoom);
  set.SouthMetres = TileEdgeYMetres(static_cast<long long>(set.MaxY) + 1, set.Zoom);
  return set;
}

TTileSet TileSetOf(const TTileGrid& grid, const std::string& taskName) {
  const TTileRange& r = grid.Range();
  // Rows counted from the south turn into rows from the north.
  const int zoom = grid.Zoom();
  const bool fromSouth = grid.FromSouth() == 1;
  TTileSet set = TileSetOfRange(zoom, r.MinX, fromSouth ? static_cast<int>(FlipRow(r.MaxY, zoom)) : r.MinY, r.MaxX,
                                fromSouth ? static_cast<int>(FlipRow(r.MinY, zoom)) : r.MaxY);
  set.Format = grid.Extension();
  set.Name = taskName.substr(0, taskName.size() - FileExtension(taskName).size());
  return set;
}

}  // namespace meridane
