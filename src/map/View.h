#pragma once

#include "tiles/Projection.h"

namespace meridane {

// What a map window shows: a centre, a fractional zoom and its size in screen
// pixels. Screen coordinates run from the top left corner.
class TMapView {
 public:
  static constexpr double MinZoom = 0;
  static constexpr double MaxZoom = 24;

  void Resize(int width, int height);
  int Width() const { return ScreenWidth; }
  int Height() const { return ScreenHeight; }

  double Zoom() const { return ZoomLevel; }
  TLonLat Centre() const;
  // The zoom is kept within MinZoom..MaxZoom, the centre within the world.
  void CentreOn(TLonLat centre, double zoom);

  // Moves the map with the pointer: by dx, dy screen pixels.
  void Pan(double dx, double dy);
  // Changes the zoom by delta levels; the world point under (x, y) stays there.
  void ZoomAbout(double x, double y, double delta);
  // The largest zoom (at most maxZoom) that shows the rectangle whole with
  // margin pixels around it, centred.
  void Fit(double west, double south, double east, double north, int margin = 16, double maxZoom = MaxZoom);
  // Follows tiles of zoom whose rows are now read the other way: the centre
  // moves to the same spot of the same tile in its mirrored row, so what was
  // under it stays there; the zoom stays.
  void FlipRows(int zoom);

  // The world pixel at the view's zoom under a screen point, and back.
  TWorldPoint ScreenToPixel(double x, double y) const;
  TWorldPoint PixelToScreen(TWorldPoint pixel) const;
  TLonLat ScreenToLonLat(double x, double y) const;
  TWorldPoint LonLatToScreen(TLonLat point) const;

 private:
  void Clamp();

  int ScreenWidth = 0, ScreenHeight = 0;
  double ZoomLevel = 0;
  // The centre as a fraction of the world's side, 0..1.
  double CentreX = 0.5, CentreY = 0.5;
};

}  // namespace meridane
