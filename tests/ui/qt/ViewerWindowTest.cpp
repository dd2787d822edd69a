#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QMenuBar>
#include <QTest>
#include <memory>

#include "combine/Archives.h"
#include "config/RecentTasks.h"
#include "map/MapTask.h"
#include "support/Memory.h"
#include "ui/qt/Grab.h"
#include "ui/qt/QtHarness.h"
#include "vistorel/qt/ViewerWindow.h"

namespace meridane {
namespace {

// A point of a tile of the test task's zoom, as a fraction of it, on the map's screen.
QPoint OnScreen(const TMapView& view, int x, int y, double fx, double fy) {
  const TWorldPoint at = view.LonLatToScreen(PixelToLonLat({(x + fx) * 256, (y + fy) * 256}, test::TMapTask::Zoom));
  return {static_cast<int>(std::lround(at.X)), static_cast<int>(std::lround(at.Y))};
}

QImage Settled(TViewerWindow& window) {
  TMapWidget& map = window.Map();
  EXPECT_TRUE(test::WaitUntil([&] {
    map.repaint();
    return map.UnloadedInLastPaint() == 0 && map.LoadingDone() && map.Counts().Done;
  }));
  return map.grab().toImage();
}

TEST(ViewerWindow, OpensATaskFromTheCommandLineFittedWithItsHolesCounted) {
  test::TTempDir dir;
  const test::TMapTask task(dir);
  TViewerWindow window(task.Program);
  window.show();
  window.OpenArguments(ReadViewerArguments({"vistorel", task.Project.string()}));
  TMapWidget& map = window.Map();
  const QImage fitted = Settled(window);
  const TMapView fittedView = map.View();
  EXPECT_EQ(test::Text(&window, "Kinds"), "9 tiles: 1 missing, 1 placeholder");
  const QImage shot = window.grab().toImage();
  shot.save(QString::fromStdString((dir / "viewer.png").string()));
  if (const char* keep = std::getenv("MERIDANE_KEEP_VIEWER_GRAB")) shot.save(keep);

  // Moved away and zoomed out, then "Fit task": the requested rectangle whole again.
  map.View().CentreOn({0, 0}, 3);
  map.Refresh();
  QAction* fit = nullptr;
  for (QAction* action : window.menuBar()->findChildren<QAction*>())
    if (action->text() == "&Fit task") fit = action;
  ASSERT_NE(fit, nullptr);
  fit->trigger();
  const TLonLatBox asked = *map.Source()->Requested();
  const TWorldPoint nw = map.View().LonLatToScreen({asked.West, asked.North});
  const TWorldPoint se = map.View().LonLatToScreen({asked.East, asked.South});
  EXPECT_NEAR(std::min(nw.X, nw.Y), 16, 0.5);
  EXPECT_LE(se.X, map.width() - 15.5);
  EXPECT_LE(se.Y, map.height() - 15.5);

  // Far out the tiles are scaled down into overview tiles, which leave the holes
  // to the grid; the scan's findings hatch them there too.
  map.View().CentreOn(PixelToLonLat({844.5 * 256, 388.5 * 256}, 10), 6);
  map.Refresh();
  const QImage far = Settled(window);
  const TMapView farView = map.View();
  if (const char* keep = std::getenv("MERIDANE_KEEP_VIEWER_GRAB")) far.save(QString(keep) + ".far.png");
  const QColor green(0, 200, 0);
  const struct {
    const char* Name;
    const QImage& Picture;
    const TMapView& View;
    int X, Y;
    double Fx, Fy;
    QColor Colour;
    int Radius, AtLeast, AtMost;
  } rows[] = {
      {"good", fitted, fittedView, 844, 388, 0.5, 0.5, green, 16, 1024, 1024},
      {"missing hatched", fitted, fittedView, 845, 387, 0.75, 0.7, TMapWidget::MissingHatch(), 16, 60, 400},
      {"missing", fitted, fittedView, 845, 387, 0.75, 0.7, green, 16, 0, 0},
      {"placeholder hatched", fitted, fittedView, 843, 389, 0.25, 0.3, TMapWidget::PlaceholderHatch(), 16, 60, 400},
      {"outline", fitted, fittedView, 843, 388, 0.5, 0.5, TMapWidget::RequestedOutline(), 16, 32, 160},
      {"far good", far, farView, 844, 388, 0.5, 0.5, green, 5, 100, 100},
      {"far missing", far, farView, 845, 387, 0.6, 0.4, green, 5, 0, 0},
      {"far missing hatched", far, farView, 845, 387, 0.6, 0.4, TMapWidget::MissingHatch(), 5, 6, 40},
      {"far placeholder hatched", far, farView, 843, 389, 0.4, 0.6, TMapWidget::PlaceholderHatch(), 5, 6, 40},
  };
  for (const auto& row : rows) {
    const int near = test::Near(row.Picture, OnScreen(row.View, row.X, row.Y, row.Fx, row.Fy), row.Colour, row.Radius);
    EXPECT_GE(near, row.AtLeast) << row.Name;
    EXPECT_LE(near, row.AtMost) << row.Name;
  }
}

// An error page and a cut-off image are tiles that are there but damaged:
// counted, and hatched their own way at the tiles' zoom and on an overview.
TEST(ViewerWindow, DamagedTilesAreHatchedAndCounted) {
  test::TTempDir dir;
  const test::TMapTask task(dir);
  const std::filesystem::path tiles = dir / "t";
  const auto tile = [&](int x, int y) {
    return tiles / ("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_10.jpg");
  };
  const std::string good = test::ReadAll(tile(844, 388));
  ASSERT_FALSE(good.empty());
  test::WriteAll(tile(844, 387), "<html><body>Not Found</body></html>");
  test::WriteAll(tile(845, 389), good.substr(0, good.size() / 2));
  TViewerWindow window(task.Program);
  window.show();
  ASSERT_TRUE(window.Open(task.Project));
  TMapWidget& map = window.Map();
  const QImage fitted = Settled(window);
  const TMapView fittedView = map.View();
  EXPECT_TRUE(test::WaitUntil([&] {
    return test::Text(&window, "Kinds") == "9 tiles: 1 missing, 1 placeholder, 2 damaged";
  })) << test::Text(&window, "Kinds");
  if (const char* keep = std::getenv("MERIDANE_KEEP_VIEWER_GRAB"))
    window.grab().toImage().save(QString(keep) + ".damaged.png");
  map.View().CentreOn(PixelToLonLat({844.5 * 256, 388.5 * 256}, 10), 6);
  map.Refresh();
  const QImage far = Settled(window);
  const TMapView farView = map.View();
  if (const char* keep = std::getenv("MERIDANE_KEEP_VIEWER_GRAB")) far.save(QString(keep) + ".damaged-far.png");
  const struct {
    const char* Name;
    const QImage& Picture;
    const TMapView& View;
    int X, Y, Radius;
    QColor Colour;
    int AtLeast, AtMost;
  } rows[] = {
      {"error page", fitted, fittedView, 844, 387, 16, TMapWidget::DamagedHatch(), 60, 600},
      {"cut off", fitted, fittedView, 845, 389, 16, TMapWidget::DamagedHatch(), 60, 600},
      {"error page not missing", fitted, fittedView, 844, 387, 16, TMapWidget::MissingHatch(), 0, 0},
      {"cut off not placeholder", fitted, fittedView, 845, 389, 16, TMapWidget::PlaceholderHatch(), 0, 0},
      {"missing not damaged", fitted, fittedView, 845, 387, 16, TMapWidget::DamagedHatch(), 0, 0},
      {"placeholder not damaged", fitted, fittedView, 843, 389, 16, TMapWidget::DamagedHatch(), 0, 0},
      {"far error page", far, farView, 844, 387, 5, TMapWidget::DamagedHatch(), 6, 60},
      {"far cut off", far, farView, 845, 389, 5, TMapWidget::DamagedHatch(), 6, 60},
  };
  for (const auto& row : rows) {
    const int near = test::Near(row.Picture, OnScreen(row.View, row.X, row.Y, 0.5, 0.5), row.Colour, row.Radius);
    EXPECT_GE(near, row.AtLeast) << row.Name;
    EXPECT_LE(near, row.AtMost) << row.Name;
  }
}

// A pipe, a link to an endless device and a huge sparse file under tiles'
// names: each shows as damaged, takes no more than a tile's memory, and the
// window closes at once (a pipe once held a loader thread, so closing hung).
TEST(ViewerWindow, HostileTileFolderShowsDamagedAndCloses) {
  test::TTempDir dir;
  const std::filesystem::path tiles = dir / "tiles";
  std::filesystem::create_directories(tiles);
  const auto tile = [&](int x) { return (tiles / ("gs_" + std::to_string(x) + "_0_3.jpg")).string(); };
  const std::string good = test::EncodeJpeg(256, 256);
  test::WriteAll(tile(0), good);
  ASSERT_EQ(::mkfifo(tile(1).c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", tile(2));
  test::WriteAll(tile(3), good);
  ASSERT_EQ(::truncate(tile(3).c_str(), 10LL << 30), 0);
  const test::TMemoryPeak memory;
  auto window = std::make_unique<TViewerWindow>(dir.Path());
  window->show();
  ASSERT_TRUE(window->Open(tiles));
  Settled(*window);
  EXPECT_EQ(test::Text(window.get(), "Kinds"), "4 tiles: 0 missing, 0 placeholder, 3 damaged");
  window->close();
  window.reset();
  if (test::MemoryBounded) {
    EXPECT_LT(memory.GrowthMb(), 300);
  }
}

// A PMTiles cut short opens, but its tiles cannot be read: the window says
// the file is damaged, once, rather than show squares that never load.
TEST(ViewerWindow, ADamagedArchiveIsToldOnce) {
  test::TTempDir dir;
  const std::filesystem::path path = dir / "cut.pmtiles";
  const TTileSet set = test::SetOf(10, 843, 387, 845, 389);
  int n = 0;
  // Tiles of bytes of their own, not stored once for all: the cut takes several.
  TPmtilesWriter writer(path, set);
  test::WriteSet(writer, set,
                 [&](int, int) { return std::optional(test::EncodeJpeg(256, 256) + std::string(++n, ' ')); });
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  TViewerWindow window(dir.Path());
  window.show();
  int told = 0;
  QObject::connect(&window.Map(), &TMapWidget::SourceFailed, [&] { ++told; });
  ASSERT_TRUE(window.Open(path));
  TMapWidget& map = window.Map();
  EXPECT_TRUE(test::WaitUntil([&] {
    map.repaint();
    return map.UnloadedInLastPaint() == 0 && map.LoadingDone() && told > 0;
  }));
  QCoreApplication::processEvents();
  EXPECT_EQ(told, 1);
  EXPECT_EQ(test::Text(&window, "Failure"), "cut.pmtiles is damaged: some tiles cannot be read");
}

QAction* MenuAction(QWidget& window, const QString& text) {
  for (QAction* action : window.findChildren<QAction*>())
    if (action->text() == text) return action;
  return nullptr;
}

// Started empty, the viewer opens the task the main window worked on last;
// the keys move the map at once, the place shown follows them, "Next hole"
// steps through the holes in row order and round again, and Reload keeps the view.
TEST(ViewerWindow, OpensTheNewestTaskWithTheKeysHolesAndReloadAtHand) {
  test::TTempDir dir;
  const test::TMapTask task(dir);
  const std::filesystem::path recent = dir / "state/recent";
  ASSERT_TRUE(RememberTask(task.Project, recent));
  TViewerWindow window(task.Program, recent);
  window.show();
  window.OpenArguments(ReadViewerArguments({"vistorel"}));
  EXPECT_EQ(window.windowTitle(), "t.mrd - Map Viewer");
  TMapWidget& map = window.Map();
  EXPECT_EQ(window.focusWidget(), &map);
  EXPECT_EQ(map.accessibleName(), "Map");
  QAction* listed = MenuAction(window, QString::fromStdString(task.Project.string()));
  ASSERT_NE(listed, nullptr);
  EXPECT_EQ(window.DialogFolder(), task.Project.parent_path());
  Settled(window);

  QTest::mouseMove(&map, QPoint(100, 100));
  const std::string before = test::Text(&window, "Place");
  QTest::keyClick(&map, Qt::Key_Right);
  EXPECT_NE(test::Text(&window, "Place"), before);

  QAction* next = MenuAction(window, "&Next hole");
  ASSERT_NE(next, nullptr);
  for (const char* expected : {"Missing tile x 845  y 387", "Placeholder tile x 843  y 389", "Missing tile x 845  y 387"}) {
    next->trigger();
    EXPECT_EQ(test::Text(&window, "Place"), expected);
  }
  const TWorldPoint centre = map.View().LonLatToScreen(PixelToLonLat({845.5 * 256, 387.5 * 256}, 10));
  EXPECT_NEAR(centre.X, map.width() / 2.0, 1);
  EXPECT_NEAR(centre.Y, map.height() / 2.0, 1);

  map.View().CentreOn({1, 2}, 12);
  MenuAction(window, "&Reload")->trigger();
  EXPECT_DOUBLE_EQ(map.View().Zoom(), 12);
  EXPECT_NEAR(map.View().Centre().Lon, 1, 1e-9);
}

// View > "Rows counted from the south" reads the open Z/X/Y tree again the
// other way up, the tile in the middle kept there; it is offered for trees only.
TEST(ViewerWindow, ReadsATreesRowsFromTheSouthFromTheViewMenu) {
  test::TTempDir dir;
  const test::TTwoRowTree tree(dir);
  const test::TMapTask task(dir);
  TViewerWindow window(task.Program);
  window.show();
  QAction* fromSouth = MenuAction(window, "Rows counted from the &south (TMS)");
  ASSERT_NE(fromSouth, nullptr);
  ASSERT_TRUE(window.Open(tree.Folder));
  EXPECT_TRUE(fromSouth->isEnabled());
  EXPECT_FALSE(fromSouth->isChecked());
  TMapWidget& map = window.Map();
  map.View().CentreOn(PixelToLonLat({1.5 * 256, 0.4 * 256}, 2), 2);
  map.Refresh();
  const QColor red(230, 0, 0), blue(0, 0, 230);
  const QPoint middle(map.width() / 2, map.height() / 2);
  EXPECT_GE(test::Near(Settled(window), middle, red, 8), 200);

  fromSouth->trigger();
  EXPECT_TRUE(fromSouth->isChecked());
  EXPECT_EQ(map.Source()->Rect().MinY, 2);
  const QImage flipped = Settled(window);
  const TMapView& view = map.View();
  const auto at = [&](double y) {
    const TWorldPoint point = view.LonLatToScreen(PixelToLonLat({1.5 * 256, y * 256}, 2));
    return QPoint(static_cast<int>(std::lround(point.X)), static_cast<int>(std::lround(point.Y)));
  };
  // The red tile, now in the south row, still in the middle.
  EXPECT_LE((at(3.4) - middle).manhattanLength(), 1);
  EXPECT_GE(test::Near(flipped, middle, red, 8), 200);
  EXPECT_GE(test::Near(flipped, at(2.5), blue, 8), 200);  // the north tile

  // A task says its own order: the item is off for it, the choice kept for later trees.
  ASSERT_TRUE(window.Open(task.Project));
  EXPECT_FALSE(fromSouth->isEnabled());
  EXPECT_TRUE(fromSouth->isChecked());
}

}  // namespace
}  // namespace meridane
