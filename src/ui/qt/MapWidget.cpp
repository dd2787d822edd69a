#include "ui/qt/MapWidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

namespace meridane {

namespace {

// Wheel notches of 120 units; half a zoom level each keeps zooming smooth.
constexpr double ZoomPerNotch = 0.5;
constexpr double ArrowStep = 64;

QRectF ScreenRect(const TMapView& view, const TLonLatBox& box) {
  const TWorldPoint nw = view.LonLatToScreen({box.West, box.North});
  const TWorldPoint se = view.LonLatToScreen({box.East, box.South});
  return QRectF(QPointF(nw.X, nw.Y), QPointF(se.X, se.Y)).normalized();
}

}  // namespace

QColor TMapWidget::GridBackground() { return {232, 232, 228}; }
QColor TMapWidget::MissingHatch() { return {128, 128, 128}; }
QColor TMapWidget::PlaceholderHatch() { return {220, 30, 30}; }
QColor TMapWidget::DamagedHatch() { return {150, 40, 200}; }
QColor TMapWidget::RequestedOutline() { return {20, 60, 230}; }

TMapWidget::TMapWidget(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(200, 150);
}

TMapWidget::~TMapWidget() { StopSource(); }

void TMapWidget::StopSource() {
  StopScan = true;
  if (Scan.joinable()) Scan.join();
  Loader.reset();
  StopScan = false;
}

void TMapWidget::SetSource(std::unique_ptr<IMapSource> source) {
  StopSource();
  Cache.Clear();
  MapSource = std::move(source);
  KindCounts = {};
  MarkedTiles.clear();
  Undecodable.Clear();
  FailureTold = false;
  LastHole.reset();
  // A fresh flag: repaints and scan reports still queued for the old source do no harm.
  RepaintAsked = std::make_shared<std::atomic<bool>>(false);
  if (MapSource) {
    const int zoom = MapSource->TileSet().Zoom;
    Loader = std::make_unique<TTileLoader>(*MapSource, Cache, [this, asked = RepaintAsked, zoom](const TTileKey& key) {
      // Only decoding tells these, so the scan leaves them to the loader.
      if (key.Zoom == zoom)
        if (const auto tile = Cache.Find(key); tile && TDecodeFindings::FoundByDecoding(tile->Kind))
          QMetaObject::invokeMethod(
              this,
              [this, asked, key, kind = tile->Kind] {
                if (asked == RepaintAsked) AddUndecodable(key, kind);
              },
              Qt::QueuedConnection);
      if (asked->exchange(true)) return;
      QMetaObject::invokeMethod(
          this, [this, asked] { asked->store(false), TilesArrived(); }, Qt::QueuedConnection);
    });
    Scan = std::thread([this, source = MapSource.get(), current = RepaintAsked] {
      ScanKinds(
          *source,
          [this, current](const TKindCounts& counts) {
            QMetaObject::invokeMethod(
                this,
                [this, current, counts] {
                  // Joining the scan leaves its last reports queued: those of a
                  // source no longer shown would count and mark its tiles here.
                  if (current != RepaintAsked) return;
                  const std::size_t room = MaxMarkedTiles - std::min(MaxMarkedTiles, MarkedTiles.size());
                  MarkedTiles.insert(MarkedTiles.end(), counts.Found.begin(),
                                     counts.Found.begin() + static_cast<std::ptrdiff_t>(std::min(room, counts.Found.size())));
                  KindCounts = counts;
                  KindCounts.Found.clear();
                  KindCounts.Damaged += Undecodable.Count();
                  if (!counts.Found.empty()) update();
                  emit CountsChanged();
                },
                Qt::QueuedConnection);
          },
          StopScan);
    });
  }
  FitWhenSized = !isVisible();
  FitTask();
  emit CountsChanged();
}

void TMapWidget::TilesArrived() {
  update();
  if (FailureTold || !MapSource) return;
  if (const auto failure = MapSource->Failure()) {
    FailureTold = true;
    emit SourceFailed(QString::fromStdString(*failure));
  }
}

void TMapWidget::AddUndecodable(const TTileKey& key, TTileKind kind) {
  if (!Undecodable.Add(key, kind)) return;
  ++KindCounts.Damaged;
  emit CountsChanged();
}

QBrush TMapWidget::HatchOf(TTileKind kind) const {
  if (kind == TTileKind::Missing) return {MissingHatch(), Qt::BDiagPattern};
  if (kind == TTileKind::Placeholder) return {PlaceholderHatch(), Qt::FDiagPattern};
  return {DamagedHatch(), Qt::DiagCrossPattern};
}

void TMapWidget::FitBox(const TLonLatBox& box) {
  const double maxZoom = MapSource ? MapSource->TileSet().Zoom + 2 : TMapView::MaxZoom;
  MapView.Fit(box.West, box.South, box.East, box.North, 16, maxZoom);
  Refresh();
}

void TMapWidget::FitTask() {
  MapView.Resize(width(), height());
  if (!MapSource) {
    MapView.CentreOn({0, 0}, std::max(0.0, std::log2(std::min(width(), height()) / 256.0)));
    Refresh();
    return;
  }
  if (const auto asked = MapSource->Requested()) return FitBox(*asked);
  const TTileSet& set = MapSource->TileSet();
  FitBox({set.West, set.South, set.East, set.North});
}

void TMapWidget::Refresh() {
  if (Loader) {
    const TPyramidChoice choice = ChooseLevel(MapView, MapSource->TileSet().Zoom, MapSource->Rect());
    Loader->Request(LoadOrder(MapView, choice));
  }
  update();
  emit ViewChanged();
  if (Pointer) ReportPointer(*Pointer);
}

std::optional<TKindCounts::TBad> TMapWidget::ShowNextHole() {
  if (!MapSource) return std::nullopt;
  const auto hole = NextHole(MarkedTiles, Undecodable.Marks(), LastHole);
  if (!hole) return std::nullopt;
  LastHole = std::pair(hole->X, hole->Y);
  const int zoom = MapSource->TileSet().Zoom;
  MapView.Resize(width(), height());
  MapView.CentreOn(PixelToLonLat({(hole->X + 0.5) * 256, (hole->Y + 0.5) * 256}, zoom),
                   std::max(MapView.Zoom(), static_cast<double>(zoom)));
  Refresh();
  return hole;
}

void TMapWidget::leaveEvent(QEvent*) { Pointer.reset(); }

void TMapWidget::resizeEvent(QResizeEvent*) {
  MapView.Resize(width(), height());
  if (std::exchange(FitWhenSized, false)) return FitTask();
  Refresh();
}

void TMapWidget::PaintGrid(QPainter& painter) {
  painter.fillRect(rect(), GridBackground());
  // Lines on the tile edges of the nearest whole zoom, so the grid moves with the map.
  const double step = 256 * std::exp2(MapView.Zoom() - std::round(MapView.Zoom()));
  const TWorldPoint origin = MapView.ScreenToPixel(0, 0);
  painter.setPen(QPen(GridBackground().darker(112), 1));
  for (double x = -std::fmod(origin.X, step); x < width(); x += step) painter.drawLine(QPointF(x, 0), QPointF(x, height()));
  for (double y = -std::fmod(origin.Y, step); y < height(); y += step) painter.drawLine(QPointF(0, y), QPointF(width(), y));
}

void TMapWidget::PaintTiles(QPainter& painter) {
  Unloaded = 0;
  if (!MapSource) return;
  const TPyramidChoice choice = ChooseLevel(MapView, MapSource->TileSet().Zoom, MapSource->Rect());
  painter.setRenderHint(QPainter::SmoothPixmapTransform, choice.Scale < 1);
  const double side = 256 * choice.Scale;
  for (int y = choice.Tiles.MinY; y <= choice.Tiles.MaxY; ++y) {
    for (int x = choice.Tiles.MinX; x <= choice.Tiles.MaxX; ++x) {
      const TWorldPoint at = MapView.PixelToScreen({256.0 * x * choice.Scale, 256.0 * y * choice.Scale});
      // Whole pixels on both edges: neighbours meet without a seam.
      const QRectF target(QPointF(std::round(at.X), std::round(at.Y)),
                          QPointF(std::round(at.X + side), std::round(at.Y + side)));
      const std::shared_ptr<const TDecodedTile> tile = Cache.Find({choice.Zoom, x, y});
      if (!tile) {
        ++Unloaded;
        PaintFromCoarser(painter, Cache, {choice.Zoom, x, y}, target);
        continue;
      }
      if (tile->Kind == TTileKind::Good) {
        const QImage image(tile->Pixels.data(), TileSide, TileSide, TileSide * 4, QImage::Format_RGBA8888);
        painter.drawImage(target, image);
      } else if (choice.Level == 0) {
        painter.fillRect(target, HatchOf(tile->Kind));
      }
    }
  }
  // An overview leaves holes to the grid: the scan's findings mark them.
  if (choice.Level > 0) PaintMarks(painter, side / (1 << choice.Level));
}

void TMapWidget::PaintMarks(QPainter& painter, double side) {
  // Below a few pixels a mark would be noise.
  if (side < 3) return;
  // The scan finds them row by row: only the rows in sight are looked at.
  const TWorldPoint first = MapView.ScreenToPixel(0, 0), last = MapView.ScreenToPixel(width(), height());
  const double minX = std::floor(first.X / side), maxX = last.X / side;
  const double minY = std::floor(first.Y / side), maxY = last.Y / side;
  auto bad = std::lower_bound(MarkedTiles.begin(), MarkedTiles.end(), minY,
                              [](const TKindCounts::TBad& tile, double row) { return tile.Y < row; });
  for (; bad != MarkedTiles.end() && bad->Y <= maxY; ++bad)
    if (bad->X >= minX && bad->X <= maxX) PaintMark(painter, *bad, side);
  for (const TKindCounts::TBad& tile : Undecodable.Marks())
    if (tile.X >= minX && tile.X <= maxX && tile.Y >= minY && tile.Y <= maxY) PaintMark(painter, tile, side);
}

void TMapWidget::PaintMark(QPainter& painter, const TKindCounts::TBad& bad, double side) {
  const TWorldPoint at = MapView.PixelToScreen({side * bad.X, side * bad.Y});
  const QRectF target(QPointF(std::round(at.X), std::round(at.Y)),
                      QPointF(std::round(at.X + side), std::round(at.Y + side)));
  painter.fillRect(target, HatchOf(bad.Kind));
}

void PaintFromCoarser(QPainter& painter, TTileCache& cache, const TTileKey& key, const QRectF& target) {
  // A few levels up: further, a tile's part is a blur of a few pixels.
  for (int up = 1; up <= 4 && key.Zoom - up >= 0; ++up) {
    const std::shared_ptr<const TDecodedTile> tile = cache.Find({key.Zoom - up, key.X >> up, key.Y >> up});
    if (!tile) continue;
    if (tile->Kind != TTileKind::Good) return;
    const double part = static_cast<double>(TileSide >> up);
    const QRectF from((key.X & ((1 << up) - 1)) * part, (key.Y & ((1 << up) - 1)) * part, part, part);
    const QImage image(tile->Pixels.data(), TileSide, TileSide, TileSide * 4, QImage::Format_RGBA8888);
    painter.drawImage(target, image, from);
    return;
  }
}

void TMapWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintGrid(painter);
  if (PaintUnder) PaintUnder(painter, MapView);
  PaintTiles(painter);
  if (MapSource) {
    painter.setBrush(Qt::NoBrush);
    if (const auto asked = MapSource->Requested()) {
      painter.setPen(QPen(RequestedOutline(), 2));
      painter.drawRect(ScreenRect(MapView, *asked));
    }
  }
  if (PaintOver) PaintOver(painter, MapView);
}

void TMapWidget::ReportPointer(QPointF at) {
  Pointer = at;
  const TLonLat place = MapView.ScreenToLonLat(at.x(), at.y());
  const int zoom = MapSource ? MapSource->TileSet().Zoom : static_cast<int>(std::round(MapView.Zoom()));
  const TTileKey tile = PixelToTile(LonLatToPixel(place, zoom), zoom);
  emit PointerMoved(place.Lon, place.Lat, tile.X, tile.Y, zoom);
}

void TMapWidget::mousePressEvent(QMouseEvent* event) {
  if (MouseHook && MouseHook(TMouse::Press, event)) return;
  if (PanButtons & event->button()) {
    Dragging = true;
    DragFrom = event->position();
  }
}

void TMapWidget::mouseMoveEvent(QMouseEvent* event) {
  ReportPointer(event->position());
  if (MouseHook && MouseHook(TMouse::Move, event)) return;
  if (!Dragging) return;
  const QPointF by = event->position() - DragFrom;
  DragFrom = event->position();
  MapView.Pan(by.x(), by.y());
  Refresh();
}

void TMapWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (MouseHook && MouseHook(TMouse::Release, event)) return;
  if (!(PanButtons & event->buttons())) Dragging = false;
}

void TMapWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  MapView.ZoomAbout(event->position().x(), event->position().y(), 1);
  Refresh();
}

void TMapWidget::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  MapView.ZoomAbout(event->position().x(), event->position().y(), notches * ZoomPerNotch);
  Refresh();
  ReportPointer(event->position());
}

void TMapWidget::keyPressEvent(QKeyEvent* event) {
  const double cx = width() / 2.0, cy = height() / 2.0;
  switch (event->key()) {
    case Qt::Key_Left: MapView.Pan(ArrowStep, 0); break;
    case Qt::Key_Right: MapView.Pan(-ArrowStep, 0); break;
    case Qt::Key_Up: MapView.Pan(0, ArrowStep); break;
    case Qt::Key_Down: MapView.Pan(0, -ArrowStep); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: MapView.ZoomAbout(cx, cy, 1); break;
    case Qt::Key_Minus: MapView.ZoomAbout(cx, cy, -1); break;
    default: QWidget::keyPressEvent(event); return;
  }
  Refresh();
}

}  // namespace meridane
