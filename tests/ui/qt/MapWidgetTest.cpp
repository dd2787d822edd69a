#include <gtest/gtest.h>

#include <QImage>

#include "config/Config.h"
#include "map/MapTask.h"
#include "ui/qt/Grab.h"
#include "ui/qt/MapWidget.h"
#include "ui/qt/QtHarness.h"

namespace meridane {
namespace {

using test::Near;

TEST(MapWidget, ShowsTheTaskWithItsHolesMarked) {
  test::TTempDir dir;
  const test::TMapTask task(dir);
  TMapWidget map;
  map.resize(768, 768);
  map.show();
  map.SetSource(OpenMapSource(task.Project, task.Program, TStartConfig{}));
  // Tile (843, 387) fills the top left 256 x 256 pixels.
  map.View().CentreOn(PixelToLonLat({844.5 * 256, 388.5 * 256}, 10), 10);
  map.Refresh();
  ASSERT_TRUE(test::WaitUntil([&] {
    map.repaint();
    return map.UnloadedInLastPaint() == 0 && map.Counts().Done;
  }));
  EXPECT_EQ(std::tie(map.Counts().Missing, map.Counts().Placeholder), std::tuple(1LL, 1LL));
  const QImage picture = map.grab().toImage();
  picture.save(QString::fromStdString((dir / "map.png").string()));
  if (const char* keep = std::getenv("MERIDANE_KEEP_GRAB")) picture.save(keep);

  const QColor green(0, 200, 0);
  const struct {
    QPoint At;
    QColor Colour;
    int AtLeast, AtMost;
  } rows[] = {
      {{64, 64}, green, 1024, 1024},                                // a good tile, as decoded
      {{384, 700}, green, 1024, 1024},
      {{640, 96}, TMapWidget::MissingHatch(), 60, 400},             // missing: grey lines, no tile
      {{640, 96}, green, 0, 0},
      {{100, 640}, TMapWidget::PlaceholderHatch(), 60, 400},        // the placeholder: red lines
      {{100, 640}, green, 0, 0},
      {{640, 96}, TMapWidget::GridBackground(), 400, 1000},         // the grid shows between the lines
      {{128, 400}, TMapWidget::RequestedOutline(), 32, 128},       // the task's west edge
  };
  for (const auto& row : rows) {
    const int near = Near(picture, row.At, row.Colour);
    EXPECT_GE(near, row.AtLeast) << row.At.x() << "," << row.At.y() << " " << row.Colour.name().toStdString();
    EXPECT_LE(near, row.AtMost) << row.At.x() << "," << row.At.y() << " " << row.Colour.name().toStdString();
  }
}

}  // namespace
}  // namespace meridane
