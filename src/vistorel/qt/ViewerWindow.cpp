#include "vistorel/qt/ViewerWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <exception>

#include "config/Config.h"
#include "config/RecentTasks.h"

namespace meridane {

namespace {

QString Degrees(double value) { return QString::number(value, 'f', 6); }

}  // namespace

TViewerWindow::TViewerWindow(std::filesystem::path programFolder, std::filesystem::path recentTasks)
    : ProgramFolder(std::move(programFolder)),
      RecentTasks(std::move(recentTasks)),
      Recent(new QMenu("Open &Recent", this)),
      RowsFromSouth(new QAction("Rows counted from the &south (TMS)", this)),
      MapWidget(new TMapWidget(this)),
      Place(new QLabel(this)),
      Kinds(new QLabel(this)),
      Failure(new QLabel(this)) {
  Place->setObjectName("Place");
  Kinds->setObjectName("Kinds");
  Failure->setObjectName("Failure");
  Failure->setStyleSheet("color: #b00000");
  setWindowTitle("Map Viewer");
  setAcceptDrops(true);
  setCentralWidget(MapWidget);
  MapWidget->setAccessibleName("Map");
  resize(1024, 720);

  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, [this] {
    const QString path =
        QFileDialog::getOpenFileName(this, "Open", QString::fromStdString(DialogFolder().string()),
                                     "Tasks and tile archives (*.mrd *.mbtiles *.pmtiles);;All files (*)");
    if (!path.isEmpty()) Open(path.toStdString());
  });
  file->addAction("Open &folder...", [this] {
    const QString path = QFileDialog::getExistingDirectory(this, "Open folder", QString::fromStdString(DialogFolder().string()));
    if (!path.isEmpty()) Open(path.toStdString());
  });
  file->addMenu(Recent);
  connect(Recent, &QMenu::aboutToShow, this, &TViewerWindow::FillRecent);
  FillRecent();
  file->addAction("&Reload", QKeySequence::Refresh, this, &TViewerWindow::Reload);
  file->addSeparator();
  file->addAction("E&xit", QKeySequence::Quit, this, &QWidget::close);
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction("&Fit task", QKeySequence(Qt::CTRL | Qt::Key_0), [this] { MapWidget->FitTask(); });
  view->addAction("&Next hole", QKeySequence(Qt::Key_N), this, &TViewerWindow::NextHole);
  view->addSeparator();
  RowsFromSouth->setCheckable(true);
  RowsFromSouth->setEnabled(false);  // until a Z/X/Y tree is open
  view->addAction(RowsFromSouth);
  connect(RowsFromSouth, &QAction::triggered, this, &TViewerWindow::SetRowsFromSouth);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction("&User manual", QKeySequence::HelpContents, [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString((ProgramFolder / "help" / "index.html").string())));
  });

  statusBar()->addWidget(Place, 1);
  statusBar()->addPermanentWidget(Failure);
  Failure->hide();  // takes no room until there is something to say
  statusBar()->addPermanentWidget(Kinds);

  MapWidget->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(MapWidget, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const TLonLat place = MapWidget->View().ScreenToLonLat(at.x(), at.y());
    PointerLon = place.Lon;
    PointerLat = place.Lat;
    QMenu menu(this);
    menu.addAction("Copy coordinates", [this] { QApplication::clipboard()->setText(PointerText()); });
    menu.addAction("Fit task", [this] { MapWidget->FitTask(); });
    menu.exec(MapWidget->mapToGlobal(at));
  });
  connect(MapWidget, &TMapWidget::PointerMoved, this, [this](double lon, double lat, int x, int y, int zoom) {
    PointerLon = lon;
    PointerLat = lat;
    Place->setText(QString("Lat %1  Lon %2   Tile x %3  y %4  zoom %5")
                       .arg(Degrees(lat), Degrees(lon))
                       .arg(x)
                       .arg(y)
                       .arg(zoom));
  });
  connect(MapWidget, &TMapWidget::CountsChanged, this, &TViewerWindow::ShowCounts);
  // Said once, not for every tile: the tiles themselves are hatched as damaged.
  connect(MapWidget, &TMapWidget::SourceFailed, this, [this](const QString& reason) {
    Failure->setText(QString::fromStdString(OpenedName) + " is damaged: some tiles cannot be read");
    Failure->setToolTip(reason);
    Failure->show();
  });
}

QString TViewerWindow::PointerText() const { return Degrees(PointerLat) + ", " + Degrees(PointerLon); }

bool TViewerWindow::Open(const std::filesystem::path& path) { return Open(path, TKeep::Fit, false); }

void TViewerWindow::Reload() {
  if (!OpenedPath.empty()) Open(OpenedPath, TKeep::View, false);
}

void TViewerWindow::SetRowsFromSouth(bool fromSouth) {
  const TMapSourceOptions before = Options;
  Options.FromSouth = fromSouth;
  IMapSource* source = MapWidget->Source();
  if (source && source->IsTree() && !Open(OpenedPath, TKeep::FlippedView, false)) Options = before;
  RowsFromSouth->setChecked(Options.FromSouth);
}

bool TViewerWindow::Open(const std::filesystem::path& path, TKeep keep, bool quiet) {
  try {
    const TStartConfig config = TConfig(TConfigSource({}, ProgramFolder).Read()).ReadStart();
    auto source = OpenMapSource(path, ProgramFolder, config, Options);
    const bool tree = source->IsTree();
    const int zoom = source->TileSet().Zoom;
    OpenedPath = path;
    OpenedName = path.filename().string();
    Failure->clear();
    Failure->setToolTip({});
    Failure->hide();
    Place->clear();  // the tile under the pointer was the previous file's
    const TMapView view = MapWidget->View();
    MapWidget->SetSource(std::move(source));
    RowsFromSouth->setEnabled(tree);
    if (keep != TKeep::Fit) {
      MapWidget->View() = view;
      if (keep == TKeep::FlippedView) MapWidget->View().FlipRows(zoom);
      MapWidget->Refresh();
    }
    setWindowTitle(QString::fromStdString(path.filename().string()) + " - Map Viewer");
    // The keys move the map at once, without a click on it first.
    MapWidget->setFocus();
    return true;
  } catch (const std::exception& error) {
    if (!quiet) QMessageBox::warning(this, "Map Viewer", QString::fromStdString(error.what()));
    return false;
  }
}

void TViewerWindow::OpenArguments(const TViewerArguments& arguments) {
  SetRowsFromSouth(arguments.Options.FromSouth);
  if (arguments.Path) {
    Open(*arguments.Path);
    return;
  }
  // Started empty: the task the user worked on last, if it still opens.
  if (const auto recent = ReadRecentTasks(RecentTasks); !recent.empty()) Open(recent.front(), TKeep::Fit, true);
}

std::filesystem::path TViewerWindow::DialogFolder() const {
  if (!OpenedPath.empty()) return OpenedPath.parent_path();
  if (const auto recent = ReadRecentTasks(RecentTasks); !recent.empty()) return recent.front().parent_path();
  return TConfig(TConfigSource({}, ProgramFolder).Read()).ReadMainWindow().DefaultPath;
}

void TViewerWindow::FillRecent() {
  Recent->clear();
  const auto recent = ReadRecentTasks(RecentTasks);
  for (const std::filesystem::path& path : recent)
    Recent->addAction(QString::fromStdString(path.string()), [this, path] { Open(path); });
  Recent->setEnabled(!recent.empty());
}

void TViewerWindow::NextHole() {
  const auto hole = MapWidget->ShowNextHole();
  if (!hole) return Place->setText("No missing, placeholder or damaged tile found");
  const QString kind = QString::fromStdString(std::string(TileKindName(hole->Kind)));
  Place->setText(QString("%1%2 tile x %3  y %4").arg(kind.left(1).toUpper(), kind.mid(1)).arg(hole->X).arg(hole->Y));
}

void TViewerWindow::ShowCounts() {
  IMapSource* source = MapWidget->Source();
  if (!source) return Kinds->clear();
  const TKindCounts& counts = MapWidget->Counts();
  const long long tiles = source->Rect().Count();
  const QString damaged = counts.Damaged ? QString("%1 damaged").arg(counts.Damaged) : QString();
  // An archive is not scanned: only the tiles found not to decode are counted.
  if (counts.Checked == 0 && !counts.Done)
    return Kinds->setText(QString("%1 tiles").arg(tiles) + (damaged.isEmpty() ? QString() : ": " + damaged));
  Kinds->setText(QString("%1 tiles: %2 missing, %3 placeholder%4%5")
                     .arg(tiles)
                     .arg(counts.Missing)
                     .arg(counts.Placeholder)
                     .arg(damaged.isEmpty() ? QString() : ", " + damaged)
                     .arg(counts.Done ? QString() : QString(" (%1 checked)").arg(counts.Checked)));
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.front().isLocalFile()) Open(urls.front().toLocalFile().toStdString());
}

}  // namespace meridane
