#pragma once

#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <map>
#include <memory>
#include <tuple>

#include "map/View.h"
#include "ui/BackgroundTiles.h"
#include "ui/MapPickForm.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

// The map of the picking dialog: the cached background tiles, a graticule,
// the outlines of the download folder's tasks and the selection over them.
// The left button draws, moves and resizes the selection; the right or middle
// button pans; the wheel zooms.
class TPickMapCanvas : public QWidget {
 public:
  TPickMapCanvas(TMapPickForm& form, QWidget* parent);
  TMapView View;
  // Runs after every change of the selection.
  std::function<void()> OnSelectionChanged;
  // Tiles come from here once it is set; null: the graticule alone.
  void SetBackground(TBackgroundSource* source, TBackgroundLoader* loader);
  void TileCached(const TBackgroundTile& tile);
  // Shows the whole selection, or the whole world without one.
  void Fit();
  // Where a screen point lies in the world square, and back.
  TMercatorPoint MercatorAtScreen(double x, double y) const;
  QPointF ScreenAt(TMercatorPoint p) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void ViewChanged();
  double GripTolerance() const;
  void PaintTiles(QPainter& painter);
  void PaintGraticule(QPainter& painter);
  void PaintOutlines(QPainter& painter);
  void PaintSelection(QPainter& painter);

  TMapPickForm& Form;
  TBackgroundSource* Source = nullptr;
  TBackgroundLoader* Loader = nullptr;
  std::map<std::tuple<int, int, int>, QPixmap> Tiles;  // a null pixmap: not in the cache
  bool Panning = false;
  QPointF PanFrom;
};

// The dialog "Map..." opens, over TMapPickForm. It fetches the background
// while it is shown.
class TMapPickDialog : public QDialog {
 public:
  TMapPickDialog(TQtToolkit& toolkit, TMapPickForm& form, QWidget* parent);
  ~TMapPickDialog() override;
  TPickMapCanvas* Canvas() const { return Map; }

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void Refresh();
  void StopBackground();

  TQtToolkit& Toolkit;
  TMapPickForm& Form;
  TPickMapCanvas* Map;
  QLabel* Estimate;
  QLabel* Status;
  std::unique_ptr<TBackgroundSource> Source;
  std::unique_ptr<TBackgroundLoader> Loader;
};

}  // namespace meridane
