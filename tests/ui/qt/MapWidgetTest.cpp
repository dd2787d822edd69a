#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "config/Config.h"
#include "map/MapTask.h"
#include "support/Wait.h"
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

// Tiles of zoom 4, columns and rows 0..3, solid blue; reads wait while closed.
class TGatedSource : public IMapSource {
 public:
  TGatedSource() { Set.Zoom = 4, Set.MaxX = 3, Set.MaxY = 3; }
  const TTileSet& TileSet() const override { return Set; }
  TDecodedTile Load(int, int) override {
    std::unique_lock guard(Lock);
    Changed.wait(guard, [this] { return Open; });
    TDecodedTile tile{TTileKind::Good, TRgba(TilePixels * 4, 255)};
    for (std::size_t i = 0; i < TilePixels; ++i) tile.Pixels[i * 4] = tile.Pixels[i * 4 + 1] = 0;
    return tile;
  }
  void SetOpen(bool open) {
    const std::lock_guard guard(Lock);
    Open = open;
    Changed.notify_all();
  }

 private:
  TTileSet Set;
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = true;
};

TEST(MapWidget, ZoomingInShowsTheOverviewUntilTheTilesArrive) {
  auto owned = std::make_unique<TGatedSource>();
  TGatedSource& source = *owned;
  TMapWidget map;
  map.resize(512, 512);
  map.show();
  map.SetSource(std::move(owned));
  // Zoom 2: one overview tile stands for all 16 tiles.
  const TLonLat middle = PixelToLonLat({2 * 256, 2 * 256}, 4);
  map.View().CentreOn(middle, 2);
  map.Refresh();
  ASSERT_TRUE(test::WaitUntil([&] {
    map.repaint();
    return map.UnloadedInLastPaint() == 0 && map.LoadingDone();
  }));
  source.SetOpen(false);
  map.View().CentreOn(middle, 4);
  map.Refresh();
  map.repaint();
  const QImage picture = map.grab().toImage();
  const int unloaded = map.UnloadedInLastPaint();
  source.SetOpen(true);
  EXPECT_GT(unloaded, 0);
  const QColor blue(0, 0, 255);
  const struct {
    QPoint At;
    QColor Colour;
    int AtLeast;
  } rows[] = {{{256, 256}, blue, 1024}, {{40, 40}, blue, 1024}, {{470, 470}, blue, 1024}};
  for (const auto& row : rows) EXPECT_GE(Near(picture, row.At, row.Colour), row.AtLeast) << row.At.x();
}

// Tiles of zoom 4, columns and rows 0..3, every one missing; flags when its
// kind scan reaches the second row: the first row's report is then on its way.
class TScannedSource : public IMapSource {
 public:
  explicit TScannedSource(std::shared_ptr<std::atomic<bool>> secondRow) : SecondRow(std::move(secondRow)) {
    Set.Zoom = 4, Set.MaxX = 3, Set.MaxY = 3;
  }
  const TTileSet& TileSet() const override { return Set; }
  TDecodedTile Load(int, int) override { return {}; }
  std::optional<TTileKind> Classify(int, int y) override {
    if (y > 0) *SecondRow = true;
    return TTileKind::Missing;
  }

 private:
  TTileSet Set;
  std::shared_ptr<std::atomic<bool>> SecondRow;
};

TEST(MapWidget, ANewSourceIgnoresTheOldScansReports) {
  TMapWidget map;
  map.resize(256, 256);
  map.show();
  const auto secondRow = std::make_shared<std::atomic<bool>>(false);
  map.SetSource(std::make_unique<TScannedSource>(secondRow));
  // No events meanwhile: the old scan's reports stay queued.
  test::WaitFor([&] { return secondRow->load(); });
  // A source that cannot sort its tiles: nothing to count.
  map.SetSource(std::make_unique<TGatedSource>());
  ASSERT_TRUE(test::WaitUntil([&] { return map.LoadingDone(); }));
  QApplication::processEvents();
  EXPECT_EQ(std::tie(map.Counts().Checked, map.Counts().Missing, map.Counts().Done), std::tuple(0LL, 0LL, false));
}

}  // namespace
}  // namespace meridane
