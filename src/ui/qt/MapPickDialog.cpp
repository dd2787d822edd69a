#include "ui/qt/MapPickDialog.h"

#include <QDialogButtonBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "map/Projection.h"
#include "map/Pyramid.h"
#include "ui/qt/Binder.h"

namespace meridane {

namespace {

constexpr double GripPixels = 6;
const QColor Sea(0xC8, 0xD7, 0xE1), GridLine(0x5A, 0x6E, 0x82, 110), Outline(0xA0, 0x28, 0x28);
const QColor Picked(0x10, 0x50, 0xC0);

// The graticule's spacing in degrees: lines about every 80 pixels or more.
double GraticuleStep(double degreesPerPixel) {
  static constexpr double Steps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30};
  for (double step : Steps)
    if (step / degreesPerPixel >= 80) return step;
  return 30;
}

}  // namespace

TPickMapCanvas::TPickMapCanvas(TMapPickForm& form, QWidget* parent) : QWidget(parent), Form(form) {
  setObjectName("MapCanvas");
  setAccessibleName("Map");
  setMinimumSize(480, 320);
  setMouseTracking(true);
  setCursor(Qt::CrossCursor);
}

void TPickMapCanvas::SetBackground(TBackgroundSource* source, TBackgroundLoader* loader) {
  Source = source;
  Loader = loader;
  Tiles.clear();
  ViewChanged();
}

void TPickMapCanvas::TileCached(const TBackgroundTile& tile) {
  Tiles.erase({tile.Zoom, tile.X, tile.Y});
  update();
}

void TPickMapCanvas::Fit() {
  View.Resize(width(), height());
  if (const auto& rect = Form.Selection.Rect()) {
    const TGeoRect g = GeoOf(*rect);
    View.Fit(g.Left, g.Bottom, g.Right, g.Top, 48);
    // Whole zoom levels: the background tiles are drawn at their own size.
    View.CentreOn(View.Centre(), std::floor(View.Zoom()));
  } else {
    View.CentreOn({0, 0}, std::max(0.0, std::floor(std::log2(std::min(width(), height()) / 256.0))));
  }
  ViewChanged();
}

TMercatorPoint TPickMapCanvas::MercatorAtScreen(double x, double y) const {
  const TWorldPoint p = View.ScreenToPixel(x, y);
  const double side = WorldPixels(View.Zoom());
  return {p.X / side, p.Y / side};
}

QPointF TPickMapCanvas::ScreenAt(TMercatorPoint p) const {
  const double side = WorldPixels(View.Zoom());
  const TWorldPoint s = View.PixelToScreen({p.X * side, p.Y * side});
  return {s.X, s.Y};
}

double TPickMapCanvas::GripTolerance() const { return GripPixels / WorldPixels(View.Zoom()); }

void TPickMapCanvas::ViewChanged() {
  if (Loader) {
    const int zoom = std::clamp(static_cast<int>(std::floor(View.Zoom())), 0, TBackgroundSource::MaxZoom);
    const int last = static_cast<int>((1LL << zoom) - 1);
    const TPyramidChoice choice = ChooseTiles(View, zoom, {0, 0, last, last}, 64);
    std::vector<TBackgroundTile> wanted;
    const std::vector<TTileKey> order = LoadOrder(View, choice);
    // The loader takes the most wanted last.
    for (auto it = order.rbegin(); it != order.rend(); ++it) wanted.push_back({it->Zoom, it->X, it->Y});
    Loader->Want(wanted);
  }
  update();
}

void TPickMapCanvas::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  View.Resize(width(), height());
  ViewChanged();
}

void TPickMapCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Sea);
  // The world's edges: outside it there is nothing to pick.
  const QRectF world(ScreenAt({0, 0}), ScreenAt({1, 1}));
  painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
  painter.fillRect(world, Sea);
  PaintTiles(painter);
  painter.setRenderHint(QPainter::Antialiasing);
  PaintGraticule(painter);
  PaintOutlines(painter);
  PaintSelection(painter);
}

void TPickMapCanvas::PaintTiles(QPainter& painter) {
  if (!Source) return;
  const int zoom = std::clamp(static_cast<int>(std::floor(View.Zoom())), 0, TBackgroundSource::MaxZoom);
  const int last = static_cast<int>((1LL << zoom) - 1);
  const TPyramidChoice choice = ChooseTiles(View, zoom, {0, 0, last, last}, 256);
  if (choice.Overview) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const double side = 1.0 / static_cast<double>(1LL << zoom);
  for (int y = choice.Tiles.MinY; y <= choice.Tiles.MaxY; ++y)
    for (int x = choice.Tiles.MinX; x <= choice.Tiles.MaxX; ++x) {
      auto [it, added] = Tiles.try_emplace({zoom, x, y});
      if (added) {
        const auto path = Source->CachePath({zoom, x, y});
        it->second.load(QString::fromStdString(path.string()));
      }
      if (it->second.isNull()) continue;
      painter.drawPixmap(QRectF(ScreenAt({x * side, y * side}), ScreenAt({(x + 1) * side, (y + 1) * side})),
                         it->second, it->second.rect());
    }
}

void TPickMapCanvas::PaintGraticule(QPainter& painter) {
  const TLonLat nw = View.ScreenToLonLat(0, 0), se = View.ScreenToLonLat(width(), height());
  const double step = GraticuleStep(360.0 / WorldPixels(View.Zoom()));
  painter.setPen(QPen(GridLine, 1));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  painter.setFont(small);
  const auto label = [step](double degrees) {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
    return QString::number(degrees, 'f', decimals);
  };
  for (double lon = std::ceil(std::max(-180.0, nw.Lon) / step) * step; lon <= std::min(180.0, se.Lon); lon += step) {
    const double x = ScreenAt(MercatorAt(lon, 0)).x();
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
    painter.drawText(QPointF(x + 2, height() - 4), label(lon));
  }
  for (double lat = std::ceil(std::max(-85.0, se.Lat) / step) * step; lat <= std::min(85.0, nw.Lat); lat += step) {
    const double y = ScreenAt(MercatorAt(0, lat)).y();
    painter.drawLine(QPointF(0, y), QPointF(width(), y));
    painter.drawText(QPointF(2, y - 2), label(lat));
  }
}

void TPickMapCanvas::PaintOutlines(QPainter& painter) {
  painter.setPen(QPen(Outline, 1.5, Qt::DashLine));
  for (const TTaskOutline& task : Form.Outlines) {
    const TMercatorRect r = MercatorOf(task.Area);
    const QRectF box(ScreenAt({r.Left, r.Top}), ScreenAt({r.Right, r.Bottom}));
    painter.drawRect(box);
    painter.drawText(box.topLeft() + QPointF(3, -3), QString::fromStdString(task.Name));
  }
}

void TPickMapCanvas::PaintSelection(QPainter& painter) {
  const auto& rect = Form.Selection.Rect();
  if (!rect) return;
  const QRectF box(ScreenAt({rect->Left, rect->Top}), ScreenAt({rect->Right, rect->Bottom}));
  QColor fill = Picked;
  fill.setAlpha(50);
  painter.fillRect(box, fill);
  painter.setPen(QPen(Picked, 2));
  painter.drawRect(box);
  painter.setBrush(Qt::white);
  painter.setPen(QPen(Picked, 1));
  for (const QPointF& corner : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
    painter.drawRect(QRectF(corner - QPointF(3, 3), QSizeF(6, 6)));
}

void TPickMapCanvas::mousePressEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (event->button() == Qt::LeftButton) {
    Form.Selection.Press(MercatorAtScreen(at.x(), at.y()), GripTolerance());
    update();
  } else if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    Panning = true;
    PanFrom = at;
    setCursor(Qt::ClosedHandCursor);
  }
}

void TPickMapCanvas::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (Panning) {
    View.Pan(at.x() - PanFrom.x(), at.y() - PanFrom.y());
    PanFrom = at;
    ViewChanged();
    return;
  }
  const TMercatorPoint p = MercatorAtScreen(at.x(), at.y());
  if (Form.Selection.Dragging()) {
    Form.Selection.Drag(p);
    if (OnSelectionChanged) OnSelectionChanged();
    update();
    return;
  }
  // The cursor tells what a press would grab.
  const unsigned grip = Form.Selection.GripAt(p, GripTolerance());
  const bool horizontal = grip & (GripLeft | GripRight), vertical = grip & (GripTop | GripBottom);
  if (grip == GripInside)
    setCursor(Qt::SizeAllCursor);
  else if (horizontal && vertical)
    setCursor(((grip & GripLeft) != 0) == ((grip & GripTop) != 0) ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
  else if (horizontal)
    setCursor(Qt::SizeHorCursor);
  else if (vertical)
    setCursor(Qt::SizeVerCursor);
  else
    setCursor(Qt::CrossCursor);
}

void TPickMapCanvas::mouseReleaseEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (event->button() == Qt::LeftButton && Form.Selection.Dragging()) {
    Form.Selection.Release(MercatorAtScreen(at.x(), at.y()));
    if (OnSelectionChanged) OnSelectionChanged();
    update();
  } else if (Panning && (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton)) {
    Panning = false;
    setCursor(Qt::CrossCursor);
  }
}

void TPickMapCanvas::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 120;
  if (steps == 0) return;
  const QPointF at = event->position();
  View.ZoomAbout(at.x(), at.y(), steps);
  View.CentreOn(View.Centre(), std::round(View.Zoom()));
  ViewChanged();
}

TMapPickDialog::TMapPickDialog(TQtToolkit& toolkit, TMapPickForm& form, QWidget* parent)
    : QDialog(parent), Toolkit(toolkit), Form(form) {
  setObjectName(form.FormName());
  setWindowTitle("Pick the area on the map");
  auto* layout = new QVBoxLayout(this);
  Map = new TPickMapCanvas(form, this);
  layout->addWidget(Map, 1);
  auto* hint = Named<QLabel>(this, "LabelHint",
                             "Drag to draw the area; drag its edges to resize it, its inside to move it. "
                             "Right button: pan. Wheel: zoom.");
  hint->setWordWrap(true);
  layout->addWidget(hint);
  Estimate = Named<QLabel>(this, "LabelEstimate");
  Estimate->setStyleSheet("color: navy");
  layout->addWidget(Estimate);
  Status = Named<QLabel>(this, "LabelStatus");
  layout->addWidget(Status);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("Buttons");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { Toolkit.RunIn(this, [this] { Form.OkClick(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { Toolkit.RunIn(this, [this] { Form.CancelClick(); }); });
  Map->OnSelectionChanged = [this] {
    Form.SelectionChanged();
    Refresh();
  };
  auto* poll = new QTimer(this);
  poll->setInterval(500);
  connect(poll, &QTimer::timeout, this, [this] { Refresh(); });
  poll->start();
  resize(760, 560);
  toolkit.Register(form, this);
}

TMapPickDialog::~TMapPickDialog() { StopBackground(); }

void TMapPickDialog::Refresh() {
  Estimate->setText(Q(Form.LabelEstimate.Caption));
  Status->setText(!Loader || Loader->Offline() ? "No map tiles: the graticule and the download folder's tasks"
                                               : "Map tiles from the configured server, kept in the cache");
}

void TMapPickDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Form.FormShow();
  StopBackground();
  Source = std::make_unique<TBackgroundSource>(Form.SourceParams(), BackgroundCacheFolder());
  if (Form.MakeClient && Form.Sleeper) {
    QPointer<TPickMapCanvas> canvas(Map);
    Loader = std::make_unique<TBackgroundLoader>(Toolkit.MainThread(), *Source, Form.MakeClient(), *Form.Sleeper,
                                                 [canvas](const TBackgroundTile& tile) {
                                                   if (canvas) canvas->TileCached(tile);
                                                 });
    Loader->Start();
  }
  Map->SetBackground(Source.get(), Loader.get());
  Map->Fit();
  Refresh();
}

void TMapPickDialog::done(int result) {
  StopBackground();
  QDialog::done(result);
}

void TMapPickDialog::StopBackground() {
  Map->SetBackground(nullptr, nullptr);
  Loader.reset();
  Source.reset();
}

}  // namespace meridane
