#include "ui/qt/MapPickDialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

#include "map/Pyramid.h"
#include "tiles/Projection.h"
#include "ui/qt/Binder.h"

namespace meridane {

namespace {

constexpr double GripPixels = 6;
const QColor Sea(0xC8, 0xD7, 0xE1), GridLine(0x5A, 0x6E, 0x82, 110), Outline(0xA0, 0x28, 0x28);
const QColor Picked(0x10, 0x50, 0xC0);
const QColor Land(0xEE, 0xEB, 0xDF), Border(0x8C, 0x87, 0x78);

// The graticule's spacing in degrees: lines about every 80 pixels or more.
double GraticuleStep(double degreesPerPixel) {
  static constexpr double Steps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30};
  for (double step : Steps)
    if (step / degreesPerPixel >= 80) return step;
  return 30;
}

// Where a screen point lies in the world square, and back.
TMercatorPoint MercatorAtScreen(const TMapView& view, QPointF at) {
  const TWorldPoint p = view.ScreenToPixel(at.x(), at.y());
  const double side = WorldPixels(view.Zoom());
  return {p.X / side, p.Y / side};
}

QPointF ScreenAt(const TMapView& view, TMercatorPoint p) {
  const double side = WorldPixels(view.Zoom());
  const TWorldPoint s = view.PixelToScreen({p.X * side, p.Y * side});
  return {s.X, s.Y};
}

QRectF ScreenRect(const TMapView& view, const TMercatorRect& r) {
  return {ScreenAt(view, {r.Left, r.Top}), ScreenAt(view, {r.Right, r.Bottom})};
}

double GripTolerance(const TMapView& view) { return GripPixels / WorldPixels(view.Zoom()); }

// Background tiles a view fetches at most (more: it fetches none), and draws
// at most; those it draws fit in the decoded tiles held, so drawing a view
// never pushes out a tile of the same view.
constexpr long long MaxFetchedTiles = 64, MaxShownTiles = 160;
static_assert(MaxShownTiles * (TileSide * TileSide * 4 + 128) <= TMapPickDialog::BackgroundCacheBytes);

// The background's zoom: its tiles are drawn at their size or enlarged.
int BackgroundZoom(const TMapView& view) {
  return std::clamp(static_cast<int>(std::floor(view.Zoom())), 0, TBackgroundSource::MaxZoom);
}

TTileRect WholeWorld(int zoom) {
  const int last = static_cast<int>((1LL << zoom) - 1);
  return {0, 0, last, last};
}

void PaintGraticule(QPainter& painter, const TMapView& view, QFont font) {
  const TLonLat nw = view.ScreenToLonLat(0, 0), se = view.ScreenToLonLat(view.Width(), view.Height());
  const double step = GraticuleStep(360.0 / WorldPixels(view.Zoom()));
  painter.setPen(QPen(GridLine, 1));
  font.setPointSizeF(font.pointSizeF() * 0.8);
  painter.setFont(font);
  const auto label = [step](double degrees) {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
    return QString::number(degrees, 'f', decimals);
  };
  for (double lon = std::ceil(std::max(-180.0, nw.Lon) / step) * step; lon <= std::min(180.0, se.Lon); lon += step) {
    const double x = ScreenAt(view, MercatorAt(lon, 0)).x();
    painter.drawLine(QPointF(x, 0), QPointF(x, view.Height()));
    painter.drawText(QPointF(x + 2, view.Height() - 4), label(lon));
  }
  for (double lat = std::ceil(std::max(-85.0, se.Lat) / step) * step; lat <= std::min(85.0, nw.Lat); lat += step) {
    const double y = ScreenAt(view, MercatorAt(0, lat)).y();
    painter.drawLine(QPointF(0, y), QPointF(view.Width(), y));
    painter.drawText(QPointF(2, y - 2), label(lat));
  }
}

// The land and the borders in world units (the Mercator square's side is 1),
// made once: a paint only scales them.
struct TWorldPaths {
  QPainterPath Land, Lines;
};
const TWorldPaths& WorldPaths() {
  static const TWorldPaths paths = [] {
    const auto add = [](QPainterPath& path, const std::vector<TWorldPoint2>& line, bool close) {
      for (std::size_t i = 0; i < line.size(); ++i) {
        const TMercatorPoint p = MercatorAt(line[i].Lon, std::clamp(line[i].Lat, -85.05f, 85.05f));
        if (i == 0)
          path.moveTo(p.X, p.Y);
        else
          path.lineTo(p.X, p.Y);
      }
      if (close) path.closeSubpath();
    };
    TWorldPaths p;
    p.Land.setFillRule(Qt::WindingFill);
    for (const auto& ring : WorldOutlines().Land) add(p.Land, ring, true);
    for (const auto& line : WorldOutlines().Lines) add(p.Lines, line, false);
    return p;
  }();
  return paths;
}

void PaintWorld(QPainter& painter, const TMapView& view) {
  painter.save();
  const QPointF origin = ScreenAt(view, {0, 0});
  const double side = WorldPixels(view.Zoom());
  painter.setTransform(QTransform(side, 0, 0, side, origin.x(), origin.y()));
  painter.fillPath(WorldPaths().Land, Land);
  QPen pen(Border, 1);
  pen.setCosmetic(true);  // a pixel wide at every zoom
  painter.strokePath(WorldPaths().Lines, pen);
  painter.restore();
}

void PaintOutlines(QPainter& painter, const TMapView& view, const std::vector<TTaskOutline>& outlines) {
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Outline, 1.5, Qt::DashLine));
  // Tasks side by side or one in another: a name that would overprint one
  // already drawn goes lower inside its box, or is left out.
  std::vector<QRectF> labels;
  const QFontMetricsF metrics(painter.font());
  for (const TTaskOutline& task : outlines) {
    const QRectF box = ScreenRect(view, MercatorOf(task.Area));
    painter.drawRect(box);
    const QString name = QString::fromStdString(task.Name);
    QRectF label(box.topLeft() + QPointF(3, -metrics.height() - 1), QSizeF(metrics.horizontalAdvance(name), metrics.height()));
    const auto overlaps = [&] {
      return std::any_of(labels.begin(), labels.end(), [&](const QRectF& taken) { return taken.intersects(label); });
    };
    while (overlaps() && label.bottom() + metrics.height() <= box.bottom()) label.translate(0, metrics.height());
    if (overlaps()) continue;
    labels.push_back(label);
    painter.drawText(label, Qt::AlignLeft | Qt::AlignBottom, name);
  }
}

void PaintSelection(QPainter& painter, const TMapView& view, const TMercatorRect& rect) {
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box = ScreenRect(view, rect);
  QColor fill = Picked;
  fill.setAlpha(50);
  painter.fillRect(box, fill);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Picked, 2));
  painter.drawRect(box);
  painter.setBrush(Qt::white);
  painter.setPen(QPen(Picked, 1));
  for (const QPointF& corner : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
    painter.drawRect(QRectF(corner - QPointF(3, 3), QSizeF(6, 6)));
}

// The cursor tells what a press would grab.
Qt::CursorShape GripCursor(unsigned grip) {
  const bool horizontal = grip & (GripLeft | GripRight), vertical = grip & (GripTop | GripBottom);
  if (grip == GripInside) return Qt::SizeAllCursor;
  if (horizontal && vertical)
    return ((grip & GripLeft) != 0) == ((grip & GripTop) != 0) ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
  if (horizontal) return Qt::SizeHorCursor;
  if (vertical) return Qt::SizeVerCursor;
  return Qt::CrossCursor;
}

}  // namespace

TMapPickDialog::TMapPickDialog(TQtToolkit& toolkit, TMapPickForm& form, QWidget* parent)
    : QDialog(parent), Toolkit(toolkit), Form(form) {
  setObjectName(form.FormName());
  setWindowTitle("Pick the area on the map");
  auto* layout = new QVBoxLayout(this);
  auto* findRow = new QHBoxLayout;
  auto* findLabel = new QLabel("&Find place:", this);
  Find = Named<QLineEdit>(this, "FindPlace");
  Find->setAccessibleName("Find place");
  Find->setPlaceholderText("a town or city, e.g. Zurich");
  Find->installEventFilter(this);
  findLabel->setBuddy(Find);
  Found = new QStringListModel(this);
  auto* completer = new QCompleter(Found, this);
  // The list is the logic's own search: the completer only shows it.
  completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  Find->setCompleter(completer);
  connect(Find, &QLineEdit::textEdited, this, &TMapPickDialog::FindPlace);
  connect(completer, qOverload<const QModelIndex&>(&QCompleter::activated), this,
          [this](const QModelIndex& index) { GoToPlace(index.row()); });
  auto* zoomLabel = new QLabel("&Zoom:", this);
  Zoom = Named<QSpinBox>(this, "Zoom");
  Zoom->setAccessibleName("Zoom");
  zoomLabel->setBuddy(Zoom);
  connect(Zoom, &QSpinBox::valueChanged, this, [this](int zoom) {
    if (zoom == Form.Zoom) return;  // the dialog setting it from the form
    Toolkit.RunIn(this, [this, zoom] { Form.ZoomChange(zoom); });
    Refresh();
  });
  findRow->addWidget(findLabel);
  findRow->addWidget(Find, 1);
  findRow->addSpacing(12);
  findRow->addWidget(zoomLabel);
  findRow->addWidget(Zoom);
  layout->addLayout(findRow);
  MapView = new TMapWidget(this);
  MapView->setObjectName("Map");
  MapView->setAccessibleName("Map");
  MapView->setMinimumSize(480, 320);
  MapView->setCursor(Qt::CrossCursor);
  // The left button is the selection's.
  MapView->PanButtons = Qt::RightButton | Qt::MiddleButton;
  MapView->MouseHook = [this](TMapWidget::TMouse what, QMouseEvent* event) { return Mouse(what, event); };
  MapView->PaintUnder = [this](QPainter& painter, const TMapView& view) {
    // The world's edges: outside it there is nothing to pick.
    painter.fillRect(QRectF(ScreenAt(view, {0, 0}), ScreenAt(view, {1, 1})), Sea);
    PaintWorld(painter, view);
    PaintTiles(painter, view);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintGraticule(painter, view, MapView->font());
    PaintOutlines(painter, view, Form.Outlines);
  };
  MapView->PaintOver = [this](QPainter& painter, const TMapView& view) {
    if (const auto& rect = Form.Selection.Rect()) PaintSelection(painter, view, *rect);
  };
  connect(MapView, &TMapWidget::ViewChanged, this, [this] { WantTiles(); });
  layout->addWidget(MapView, 1);
  auto* hint = Named<QLabel>(this, "LabelHint",
                             "Drag to draw the area; drag its edges to resize it, its inside to move it. "
                             "Right button: pan. Wheel: zoom.");
  hint->setWordWrap(true);
  layout->addWidget(hint);
  Estimate = Named<QLabel>(this, "LabelEstimate");
  Estimate->setStyleSheet("color: navy");
  layout->addWidget(Estimate);
  Status = Named<QLabel>(this, "LabelStatus");
  Pointer = Named<QLabel>(this, "LabelPointer");
  Pointer->setMinimumWidth(Pointer->fontMetrics().horizontalAdvance("Lat -85.000000  Lon -180.000000") + 8);
  auto* statusRow = new QHBoxLayout;
  statusRow->addWidget(Status, 1);
  statusRow->addWidget(Pointer);
  layout->addLayout(statusRow);
  connect(MapView, &TMapWidget::PointerMoved, this, [this](double lon, double lat, int, int, int) {
    Pointer->setText(QString("Lat %1  Lon %2").arg(Q(CoordinateText(lat)), Q(CoordinateText(lon))));
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("Buttons");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { Toolkit.RunIn(this, [this] { Form.OkClick(); }); });
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { Toolkit.RunIn(this, [this] { Form.CancelClick(); }); });
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
  Status->setText(Q(BackgroundStatusText(Loader ? Loader->Status() : TBackgroundStatus{})));
}

void TMapPickDialog::Fit() {
  TMapView& view = MapView->View();
  view.Resize(MapView->width(), MapView->height());
  // Whole zoom levels: the background tiles are drawn at their own size.
  if (const auto& rect = Form.Selection.Rect()) {
    const TGeoRect g = GeoOf(*rect);
    view.Fit(g.Left, g.Bottom, g.Right, g.Top, 48);
    view.CentreOn(view.Centre(), std::floor(view.Zoom()));
  } else {
    view.CentreOn(
        {0, 0},
        std::max(0.0, std::floor(std::log2(std::min(view.Width(), view.Height()) / static_cast<double>(TileSide)))));
  }
  MapView->Refresh();
}

void TMapPickDialog::WantTiles() {
  ReadTiles();
  if (!Loader) return;
  const TMapView& view = MapView->View();
  const int zoom = BackgroundZoom(view);
  const std::vector<TTileKey> order = LoadOrder(view, ChooseTiles(view, zoom, WholeWorld(zoom), MaxFetchedTiles));
  // The fetcher takes the most wanted last.
  Loader->Want({order.rbegin(), order.rend()});
}

void TMapPickDialog::ReadTiles() {
  if (!Decoder) return;
  const TMapView& view = MapView->View();
  const int zoom = BackgroundZoom(view);
  Decoder->Request(LoadOrder(view, ChooseTiles(view, zoom, WholeWorld(zoom), MaxShownTiles)));
}

void TMapPickDialog::TileCached(const TBackgroundTile& tile) {
  if (!Decoder) return;
  // Held as not in the cache, or being read as such: read it again.
  Decoder->Invalidate(tile);
  ReadTiles();
}

void TMapPickDialog::PaintTiles(QPainter& painter, const TMapView& view) {
  const int zoom = BackgroundZoom(view);
  const TPyramidChoice choice = ChooseTiles(view, zoom, WholeWorld(zoom), MaxShownTiles);
  if (!Decoder || choice.Overview) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const double side = 1.0 / static_cast<double>(1LL << zoom);
  for (int y = choice.Tiles.MinY; y <= choice.Tiles.MaxY; ++y)
    for (int x = choice.Tiles.MinX; x <= choice.Tiles.MaxX; ++x) {
      // Whole pixels on both edges: neighbours meet without a seam.
      const QRectF target(ScreenAt(view, {x * side, y * side}).toPoint(),
                          ScreenAt(view, {(x + 1) * side, (y + 1) * side}).toPoint());
      const TTileKey key{zoom, x, y};
      const std::shared_ptr<const TDecodedTile> tile = Tiles.Find(key);
      if (!tile || tile->Kind != TTileKind::Good) {
        // Not read yet, or not fetched yet: a lower zoom's tile enlarged meanwhile.
        PaintFromCoarser(painter, Tiles, key, target);
        continue;
      }
      const QImage image(tile->Pixels.data(), TileSide, TileSide, TileSide * 4, QImage::Format_RGBA8888);
      painter.drawImage(target, image);
    }
}

bool TMapPickDialog::Mouse(TMapWidget::TMouse what, QMouseEvent* event) {
  const TMapView& view = MapView->View();
  const TMercatorPoint p = MercatorAtScreen(view, event->position());
  const auto changed = [this] {
    Form.SelectionChanged();
    Refresh();
    MapView->update();
  };
  switch (what) {
    case TMapWidget::TMouse::Press:
      if (event->button() != Qt::LeftButton) {
        MapView->setCursor(Qt::ClosedHandCursor);
        return false;
      }
      Form.Selection.Press(p, GripTolerance(view));
      MapView->update();
      return true;
    case TMapWidget::TMouse::Move:
      if (Form.Selection.Dragging()) {
        Form.Selection.Drag(p);
        changed();
        return true;
      }
      if (!(event->buttons() & MapView->PanButtons))
        MapView->setCursor(GripCursor(Form.Selection.GripAt(p, GripTolerance(view))));
      return false;
    case TMapWidget::TMouse::Release:
      if (event->button() != Qt::LeftButton) {
        MapView->setCursor(Qt::CrossCursor);
        return false;
      }
      if (Form.Selection.Dragging()) {
        Form.Selection.Release(p);
        changed();
      }
      return true;
  }
  return false;
}

void TMapPickDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Form.FormShow();
  Zoom->setRange(Form.MinZoom, Form.MaxZoom);
  Zoom->setValue(Form.Zoom);
  StopBackground();
  Source = std::make_unique<TBackgroundSource>(Form.SourceParams(), BackgroundCacheFolder());
  try {
    // Made now: the tree reads only the folder it opens, and the fetcher fills it.
    std::filesystem::create_directories(Source->CacheFolder());
    CacheTree = OpenTileTree(Source->CacheFolder(), Source->Extension(), TBackgroundSource::MaxZoom);
  } catch (const std::exception&) {
    // No cache to read (a home that cannot be written): the map does without tiles.
  }
  if (CacheTree) {
    Arrivals = std::make_shared<TArrivals>();
    IMainThread& mainThread = Toolkit.MainThread();
    QPointer<TMapPickDialog> dialog(this);
    Decoder = std::make_unique<TTileLoader>(
        *CacheTree, Tiles,
        [&mainThread, dialog, arrivals = Arrivals](const TTileKey&) {
          // One repaint asked at a time, however many tiles arrive meanwhile.
          if (arrivals->RepaintAsked.exchange(true)) return;
          mainThread.HandOver(
              [dialog, arrivals] {
                arrivals->RepaintAsked = false;
                if (dialog && dialog->Arrivals == arrivals) dialog->MapView->update();
              },
              &arrivals->Closing);
        },
        1);
  }
  if (Form.MakeClient && Form.Sleeper) {
    QPointer<TMapPickDialog> dialog(this);
    Loader = std::make_unique<TBackgroundLoader>(Toolkit.MainThread(), *Source, Form.MakeClient(), *Form.Sleeper,
                                                 [dialog](const TBackgroundTile& tile) {
                                                   if (dialog) dialog->TileCached(tile);
                                                 });
    Loader->Start();
  }
  Fit();
  Refresh();
}

void TMapPickDialog::FindPlace(const QString& text) {
  Form.FindPlaceChange(text.toStdString());
  QStringList items;
  for (const std::string& item : Form.PlaceItems) items << Q(item);
  Found->setStringList(items);
  if (!items.isEmpty()) Find->completer()->complete();
}

void TMapPickDialog::GoToPlace(int item) {
  const auto place = Form.PlaceView(item);
  if (!place) return;
  Find->completer()->popup()->hide();
  TMapView& view = MapView->View();
  view.Resize(MapView->width(), MapView->height());
  view.CentreOn({(*place)[0], (*place)[1]}, (*place)[2]);
  MapView->Refresh();
  MapView->setFocus();
}

bool TMapPickDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Find && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      FindPlace(Find->text());
      GoToPlace(0);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TMapPickDialog::done(int result) {
  StopBackground();
  QDialog::done(result);
}

void TMapPickDialog::StopBackground() {
  Loader.reset();
  if (Arrivals) Arrivals->Closing.Raise();
  Decoder.reset();
  Arrivals.reset();
  CacheTree.reset();
  Source.reset();
  Tiles.Clear();
  MapView->update();
}

}  // namespace meridane
