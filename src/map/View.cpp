#include "map/View.h"

#include <algorithm>
#include <cmath>

namespace meridane {

void TMapView::Resize(int width, int height) {
  ScreenWidth = std::max(width, 0);
  ScreenHeight = std::max(height, 0);
}

TLonLat TMapView::Centre() const { return PixelToLonLat({CentreX, CentreY}, -8); }

void TMapView::CentreOn(TLonLat centre, double zoom) {
  // At zoom -8 the world is one pixel wide: the fractions directly.
  const TWorldPoint fraction = LonLatToPixel(centre, -8);
  CentreX = fraction.X;
  CentreY = fraction.Y;
  ZoomLevel = zoom;
  Clamp();
}

void TMapView::FlipRows(int zoom) {
  const double rows = static_cast<double>(TilesAcross(zoom));
  const double row = std::clamp(std::floor(CentreY * rows), 0.0, rows - 1);
  const double within = CentreY * rows - row;
  CentreY = (rows - 1 - row + within) / rows;
  Clamp();
}

void TMapView::Clamp() {
  ZoomLevel = std::clamp(ZoomLevel, MinZoom, MaxZoom);
  CentreX = std::clamp(CentreX, 0.0, 1.0);
  CentreY = std::clamp(CentreY, 0.0, 1.0);
}

void TMapView::Pan(double dx, double dy) {
  const double side = WorldPixels(ZoomLevel);
  CentreX -= dx / side;
  CentreY -= dy / side;
  Clamp();
}

void TMapView::ZoomAbout(double x, double y, double delta) {
  const TWorldPoint before = ScreenToPixel(x, y);
  const double oldSide = WorldPixels(ZoomLevel);
  ZoomLevel = std::clamp(ZoomLevel + delta, MinZoom, MaxZoom);
  // The same world fraction under (x, y) at the new zoom.
  const double side = WorldPixels(ZoomLevel);
  CentreX = before.X / oldSide - (x - ScreenWidth / 2.0) / side;
  CentreY = before.Y / oldSide - (y - ScreenHeight / 2.0) / side;
  Clamp();
}

void TMapView::Fit(double west, double south, double east, double north, int margin, double maxZoom) {
  const TWorldPoint nw = LonLatToPixel({west, north}, 0);
  const TWorldPoint se = LonLatToPixel({east, south}, 0);
  const double width = std::max(se.X - nw.X, 1e-9);
  const double height = std::max(se.Y - nw.Y, 1e-9);
  const double roomX = std::max(ScreenWidth - 2.0 * margin, 1.0);
  const double roomY = std::max(ScreenHeight - 2.0 * margin, 1.0);
  ZoomLevel = std::min({std::log2(roomX / width), std::log2(roomY / height), maxZoom});
  CentreX = (nw.X + se.X) / 2 / TileSide;
  CentreY = (nw.Y + se.Y) / 2 / TileSide;
  Clamp();
}

TWorldPoint TMapView::ScreenToPixel(double x, double y) const {
  const double side = WorldPixels(ZoomLevel);
  return {CentreX * side + (x - ScreenWidth / 2.0), CentreY * side + (y - ScreenHeight / 2.0)};
}

TWorldPoint TMapView::PixelToScreen(TWorldPoint pixel) const {
  const double side = WorldPixels(ZoomLevel);
  return {pixel.X - CentreX * side + ScreenWidth / 2.0, pixel.Y - CentreY * side + ScreenHeight / 2.0};
}

TLonLat TMapView::ScreenToLonLat(double x, double y) const { return PixelToLonLat(ScreenToPixel(x, y), ZoomLevel); }

TWorldPoint TMapView::LonLatToScreen(TLonLat point) const { return PixelToScreen(LonLatToPixel(point, ZoomLevel)); }

}  // namespace meridane
