#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>
#include <QStringListModel>
#include <map>
#include <memory>

#include "ui/BackgroundTiles.h"
#include "ui/MapPickForm.h"
#include "ui/qt/MapWidget.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

// The dialog "Map..." opens, over TMapPickForm: the map widget shows the
// world's land and borders, the cached background tiles, a graticule and the
// outlines of the download folder's tasks, with the selection over them;
// "Find place" goes to a town. The left button draws, moves and resizes the
// selection; the right or middle button pans; the wheel zooms. It
// fetches the background while it is shown.
class TMapPickDialog : public QDialog {
 public:
  TMapPickDialog(TQtToolkit& toolkit, TMapPickForm& form, QWidget* parent);
  ~TMapPickDialog() override;
  TMapWidget* Map() const { return MapView; }

 protected:
  void showEvent(QShowEvent* event) override;
  // Enter in "Find place" goes to the first place found, not to OK.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  void Refresh();
  void StopBackground();
  // Shows the whole selection, or the whole world without one.
  void Fit();
  // Asks the loader for the tiles in sight, the nearest the centre first.
  void WantTiles();
  void TileCached(const TBackgroundTile& tile);
  bool Mouse(TMapWidget::TMouse what, QMouseEvent* event);
  void PaintTiles(QPainter& painter, const TMapView& view);
  void FindPlace(const QString& text);
  void GoToPlace(int item);

  TQtToolkit& Toolkit;
  TMapPickForm& Form;
  TMapWidget* MapView;
  QLabel* Estimate;
  QLabel* Status;
  QLabel* Pointer;
  QLineEdit* Find;
  QSpinBox* Zoom;
  QStringListModel* Found;
  std::unique_ptr<TBackgroundSource> Source;
  std::unique_ptr<TBackgroundLoader> Loader;
  std::map<TBackgroundTile, QPixmap> Tiles;  // a null pixmap: not in the cache
};

}  // namespace meridane
