#pragma once

#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "map/MapSource.h"
#include "map/TileCache.h"
#include "map/TileLoader.h"
#include "map/View.h"

class QPainter;
class QRectF;

namespace meridane {

// Draws a tile not loaded yet from a tile of a lower zoom held in the cache
// (up to four levels up; one already shown while zoomed out): the part of it
// that covers key, at target, so zooming in shows a blur, not a hole. Nothing
// when none is held or the nearest held is no picture.
void PaintFromCoarser(QPainter& painter, TTileCache& cache, const TTileKey& key, const QRectF& target);

// A slippy map of one tile source over a neutral grid: drag, arrow keys, the
// wheel, + and - and a double click move it; tiles are read and decoded off
// the window's thread and drawn as they arrive. A level and more below the
// source's zoom it shows overview tiles (a scaled-down picture); the missing,
// placeholder and damaged tiles are hatched, each their own way, only down to
// half their size. Everything
// it shows is worked out by the toolkit-free map library; this class only
// paints and forwards input.
//
// Overlays (for a caller's own drawing, such as a selection):
// - PaintUnder and PaintOver draw below the source's tiles (above the grid)
//   and above everything, in widget pixels; View() converts degrees to them.
// - MouseHook sees every press, move and release first; when it answers true
//   the widget does not pan. Call Refresh() after changing what a hook draws.
class TMapWidget : public QWidget {
  Q_OBJECT
 public:
  explicit TMapWidget(QWidget* parent = nullptr);
  ~TMapWidget() override;

  // Shows these tiles (none: the grid alone) and fits them in view. Tiles of
  // the previous source are dropped.
  void SetSource(std::unique_ptr<IMapSource> source);
  IMapSource* Source() const { return MapSource.get(); }

  // The view; after changing it, call Refresh().
  TMapView& View() { return MapView; }
  const TMapView& View() const { return MapView; }
  // Asks for the tiles in sight and repaints.
  void Refresh();
  // Shows the task's requested rectangle whole (the source's tiles when it is
  // no task); the zoom stays at most two levels past the source's.
  void FitTask();
  void FitBox(const TLonLatBox& box);
  // Centres the hole after the one shown last (see NextHole), at least at the
  // source's zoom so that it is a whole tile on the screen; nothing when there
  // is no hole.
  std::optional<TKindCounts::TBad> ShowNextHole();

  // The missing, placeholder and damaged tiles found so far by the scan
  // SetSource starts; Damaged also counts the tiles loaded that did not decode.
  const TKindCounts& Counts() const { return KindCounts; }
  // Tiles drawn in the last paint that were not yet loaded (0: a complete picture).
  int UnloadedInLastPaint() const { return Unloaded; }
  // Nothing left to load or refine for the view as it is.
  bool LoadingDone() const { return !Loader || Loader->Idle(); }
  // The tile loader's count of tiles read, for measurements.
  long long TilesLoaded() const { return Loader ? Loader->Loaded() : 0; }

  std::function<void(QPainter&, const TMapView&)> PaintUnder, PaintOver;
  enum class TMouse { Press, Move, Release };
  std::function<bool(TMouse, QMouseEvent*)> MouseHook;
  // The buttons that drag the map (a caller may keep the left one for itself).
  Qt::MouseButtons PanButtons = Qt::LeftButton;

  // Colours of what the map marks, for the picture and its tests.
  static QColor GridBackground();
  static QColor MissingHatch();
  static QColor PlaceholderHatch();
  static QColor DamagedHatch();
  static QColor RequestedOutline();

 signals:
  // The pointer's place: degrees, and the source's tile under it (its zoom;
  // the view's rounded when there is no source).
  void PointerMoved(double lon, double lat, int tileX, int tileY, int zoom);
  void CountsChanged();
  // The source failed to give a tile (a damaged archive): once a source, with its reason.
  void SourceFailed(const QString& reason);
  void ViewChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void StopSource();
  void PaintGrid(QPainter& painter);
  void PaintTiles(QPainter& painter);
  // The marked tiles over an overview, where the tiles themselves do not tell their kind.
  void PaintMarks(QPainter& painter, double side);
  void ReportPointer(QPointF at);
  // On the window's thread, after tiles arrive.
  void TilesArrived();
  void AddUndecodable(const TTileKey& key, TTileKind kind);
  QBrush HatchOf(TTileKind kind) const;
  void PaintMark(QPainter& painter, const TKindCounts::TBad& bad, double side);

  TMapView MapView;
  TTileCache Cache;
  std::unique_ptr<IMapSource> MapSource;
  std::unique_ptr<TTileLoader> Loader;
  std::thread Scan;
  std::atomic<bool> StopScan = false;
  // Set by the loaders' threads, cleared by the repaint they ask for: one
  // queued repaint however many tiles arrive meanwhile. A new one for each
  // source: the calls queued for an old one tell themselves apart by it.
  std::shared_ptr<std::atomic<bool>> RepaintAsked = std::make_shared<std::atomic<bool>>(false);
  TKindCounts KindCounts;
  // The missing and placeholder tiles the scan found, row by row as it goes,
  // marked at every zoom; a task with more has the rest marked only at its own zoom.
  static constexpr std::size_t MaxMarkedTiles = 1'000'000;
  std::vector<TKindCounts::TBad> MarkedTiles;
  // Tiles the loader found not to decode, which the scan cannot tell: counted
  // once each however often they are loaded, and marked in no particular order.
  TDecodeFindings Undecodable{MaxMarkedTiles};
  bool FailureTold = false;
  bool Dragging = false;
  // A source set before the widget was laid out is fitted at its first size.
  bool FitWhenSized = false;
  QPointF DragFrom;
  // Where the pointer is over the map: a key or the wheel moves the map under
  // it, and the place it tells must follow.
  std::optional<QPointF> Pointer;
  std::optional<std::pair<int, int>> LastHole;
  int Unloaded = 0;
};

}  // namespace meridane
