#include "map/Pyramid.h"

#include <algorithm>
#include <cmath>

namespace meridane {

TPyramidChoice ChooseTiles(const TMapView& view, int zoom, const TTileRect& source, long long maxTiles) {
  TPyramidChoice choice;
  choice.Zoom = zoom;
  choice.Scale = std::exp2(view.Zoom() - zoom);
  // The screen's corners in pixels of the source's zoom.
  const double toSource = 1 / choice.Scale;
  const TWorldPoint nw = view.ScreenToPixel(0, 0);
  const TWorldPoint se = view.ScreenToPixel(view.Width(), view.Height());
  const auto first = [&](double p) { return static_cast<long long>(std::floor(p * toSource / TileSide)); };
  // A pixel edge on a tile's edge belongs to the tile before it.
  const auto last = [&](double p) { return static_cast<long long>(std::ceil(p * toSource / TileSide)) - 1; };
  choice.Tiles.MinX = static_cast<int>(std::max<long long>(first(nw.X), source.MinX));
  choice.Tiles.MinY = static_cast<int>(std::max<long long>(first(nw.Y), source.MinY));
  choice.Tiles.MaxX = static_cast<int>(std::min<long long>(last(se.X), source.MaxX));
  choice.Tiles.MaxY = static_cast<int>(std::min<long long>(last(se.Y), source.MaxY));
  if (choice.Tiles.Empty()) choice.Tiles = {};
  choice.Overview = choice.Tiles.Count() > maxTiles;
  return choice;
}

TTileRect LevelRect(const TTileRect& source, int level) {
  if (source.Empty()) return source;
  // Tile numbers are never negative: a shift divides rounding down.
  return {source.MinX >> level, source.MinY >> level, source.MaxX >> level, source.MaxY >> level};
}

TPyramidChoice ChooseLevel(const TMapView& view, int zoom, const TTileRect& source, long long maxTiles) {
  const double below = zoom - view.Zoom();
  // A little slack so a view fitted to exactly half size keeps the source's tiles.
  int level = below < 1 - 1e-9 ? 0 : std::min(static_cast<int>(std::floor(below + 1e-9)), zoom);
  for (;; ++level) {
    TPyramidChoice choice = ChooseTiles(view, zoom - level, LevelRect(source, level), maxTiles);
    choice.Level = level;
    if (!choice.Overview || level == zoom) return choice;
  }
}

std::vector<TTileKey> LoadOrder(const TMapView& view, const TPyramidChoice& choice) {
  std::vector<TTileKey> tiles;
  if (choice.Overview || choice.Tiles.Empty()) return tiles;
  tiles.reserve(static_cast<std::size_t>(choice.Tiles.Count()));
  for (int y = choice.Tiles.MinY; y <= choice.Tiles.MaxY; ++y)
    for (int x = choice.Tiles.MinX; x <= choice.Tiles.MaxX; ++x) tiles.push_back({choice.Zoom, x, y});
  const TWorldPoint centre = view.ScreenToPixel(view.Width() / 2.0, view.Height() / 2.0);
  const double cx = centre.X / choice.Scale / TileSide - 0.5, cy = centre.Y / choice.Scale / TileSide - 0.5;
  const auto distance = [cx, cy](const TTileKey& t) { return (t.X - cx) * (t.X - cx) + (t.Y - cy) * (t.Y - cy); };
  std::stable_sort(tiles.begin(), tiles.end(),
                   [&](const TTileKey& a, const TTileKey& b) { return distance(a) < distance(b); });
  return tiles;
}

}  // namespace meridane
