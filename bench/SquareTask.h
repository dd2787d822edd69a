#pragma once

#include <cmath>
#include <string>

#include "geo/Commonfunc.h"
#include "task/TaskParams.h"

namespace meridane::bench {

// A request of about `tiles` tiles, as square as can be, at zoom 20 near the
// equator: each edge lies in the middle of its tile, away from any boundary.
inline TTaskParams SquareRequest(long long tiles, const std::string& folder) {
  const int side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(tiles))));
  const int zoom = 20, first = 1 << 19;
  TTaskParams p;
  p.Zoom = zoom;
  p.LeftLongitude = TileXToLon(first + 0.5, zoom);
  p.RightLongitude = TileXToLon(first + side - 0.5, zoom);
  p.TopLatitude = TileYToLat(first - side + 0.5, zoom, 0);
  p.BottomLatitude = TileYToLat(first - 0.5, zoom, 0);
  p.Folder = folder;
  p.TaskName = "bench.mrd";
  return p;
}

}  // namespace meridane::bench
