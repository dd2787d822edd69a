#pragma once

#include <vector>

#include "tiles/Projection.h"
#include "map/View.h"

namespace meridane {

// An inclusive rectangle of tiles; empty when a Min is above its Max.
struct TTileRect {
  int MinX = 0, MinY = 0, MaxX = -1, MaxY = -1;
  bool Empty() const { return MinX > MaxX || MinY > MaxY; }
  long long Count() const {
    return Empty() ? 0 : (static_cast<long long>(MaxX) - MinX + 1) * (static_cast<long long>(MaxY) - MinY + 1);
  }
  bool Contains(int x, int y) const { return x >= MinX && x <= MaxX && y >= MinY && y <= MaxY; }
};

// The tiles a view draws of a source that has tiles of one zoom.
struct TPyramidChoice {
  int Zoom = 0;       // the zoom of the tiles drawn: the source's, or an overview level's
  TTileRect Tiles;    // those tiles in sight
  double Scale = 1;   // screen pixels per tile pixel: below 1 scaled down, above scaled up
  // 0: the source's own tiles; k: overview tiles of zoom Zoom, each standing
  // for 2^k x 2^k source tiles (ChooseLevel).
  int Level = 0;
  // More tiles in sight than a view loads: it draws those already decoded
  // and a neutral grid for the others, and loads none.
  bool Overview = false;
};

// Default for maxTiles: about four screens' worth of halved tiles, well
// within the default cache.
inline constexpr long long DefaultMaxViewTiles = 768;

// The tiles of the source's rectangle (at zoom) the view shows.
TPyramidChoice ChooseTiles(const TMapView& view, int zoom, const TTileRect& source,
                           long long maxTiles = DefaultMaxViewTiles);

// The source's rectangle in tiles of the overview level (2^level source tiles a side).
TTileRect LevelRect(const TTileRect& source, int level);

// The tiles a view draws when it may use overview tiles: the source's own
// tiles down to half their size, below that the level whose tiles show at
// more than half their size (coarser still while more than maxTiles are in
// sight). Only the source's own tiles can show what each tile is; an
// overview tile shows a picture.
TPyramidChoice ChooseLevel(const TMapView& view, int zoom, const TTileRect& source,
                           long long maxTiles = DefaultMaxViewTiles);

// The choice's tiles, those nearest the view's centre first, for a loader.
std::vector<TTileKey> LoadOrder(const TMapView& view, const TPyramidChoice& choice);

}  // namespace meridane
