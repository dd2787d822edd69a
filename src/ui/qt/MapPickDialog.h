#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStringListModel>
#include <atomic>
#include <memory>

#include "map/MapSource.h"
#include "map/TileCache.h"
#include "map/TileLoader.h"
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
// fetches the background while it is shown: the fetcher writes the tiles to
// the disk cache, and the viewer's loader reads and decodes them from there,
// off the window's thread, into a cache bounded in bytes that the paint draws from.
class TMapPickDialog : public QDialog {
 public:
  // Decoded background tiles held at most: a few screens' worth.
  static constexpr std::size_t BackgroundCacheBytes = 64u << 20;

  TMapPickDialog(TQtToolkit& toolkit, TMapPickForm& form, QWidget* parent);
  ~TMapPickDialog() override;
  TMapWidget* Map() const { return MapView; }
  // The decoded background tiles, and whether the loader has read every one in sight.
  const TTileCache& BackgroundTiles() const { return Tiles; }
  bool BackgroundRead() const { return !Decoder || Decoder->Idle(); }

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
  // Asks the fetcher and the loader for the tiles in sight, the nearest the centre first.
  void WantTiles();
  // Asks the loader alone: the tiles in sight not held are read from the disk cache.
  void ReadTiles();
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
  std::unique_ptr<TBackgroundLoader> Loader;  // the network into the disk cache
  // The disk cache's tiles, decoded; declared before their reader, which goes first.
  TTileCache Tiles{BackgroundCacheBytes};
  std::unique_ptr<IMapSource> CacheTree;
  std::unique_ptr<TTileLoader> Decoder;
  // The loader's repaints, handed to this thread: a new one each showing, so
  // the calls still queued for an earlier one tell themselves apart by it.
  struct TArrivals {
    TStopSignal Closing;  // frees a loader thread waiting on a full queue
    std::atomic<bool> RepaintAsked = false;
  };
  std::shared_ptr<TArrivals> Arrivals;
};

}  // namespace meridane
