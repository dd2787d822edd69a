#include <QAction>
#include <QMenuBar>

#include "map/MapTask.h"
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
  window.OpenArguments({"vistorel", QString::fromStdString(task.Project.string())});
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

}  // namespace
}  // namespace meridane
