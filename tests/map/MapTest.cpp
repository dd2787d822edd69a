#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>

#include "config/Config.h"
#include "map/MapSource.h"
#include "map/Overview.h"
#include "map/Pyramid.h"
#include "map/TileLoader.h"
#include "map/ViewerArguments.h"
#include "map/MapTask.h"
#include "support/Memory.h"
#include "support/Wait.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;

TEST(MapProjection, LonLatToTileAndBack) {
  const struct {
    double Lon, Lat;
    int Zoom, X, Y;
  } rows[] = {
      {0, 0, 0, 0, 0},
      {13.4, 52.5, 10, 550, 335},
      {2.2945, 48.8584, 20, 530971, 360731},
      {-122.4194, 37.7749, 22, 670862, 1621186},
      {151.2153, -33.8568, 16, 60295, 39325},
      {179.999, -85, 5, 31, 31},
      {-74.0445, 40.6892, 30, 316024588, 403799155},
      {-180, 90, 12, 0, 0},       // the corner of the world, the pole kept at the limit
      {180, -90, 12, 4095, 4095},  // the far edges stay in the last tile
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.Lon << "," << row.Lat << " z" << row.Zoom);
    const TWorldPoint pixel = LonLatToPixel({row.Lon, row.Lat}, row.Zoom);
    EXPECT_EQ(PixelToTile(pixel, row.Zoom), (TTileKey{row.Zoom, row.X, row.Y}));
    const TLonLat back = PixelToLonLat(pixel, row.Zoom);
    EXPECT_NEAR(back.Lon, row.Lon, 1e-9);
    EXPECT_NEAR(back.Lat, std::clamp(row.Lat, -MercatorMaxLatitude, MercatorMaxLatitude), 1e-9);
    // A tile's own corner lies in it, and a pixel before it in the one before.
    const TWorldPoint corner = TileOrigin({row.Zoom, row.X, row.Y});
    EXPECT_EQ(PixelToTile(LonLatToPixel(PixelToLonLat(corner, row.Zoom), row.Zoom), row.Zoom).X, row.X);
    if (row.X > 0) {
      EXPECT_EQ(PixelToTile({corner.X - 1e-3, corner.Y}, row.Zoom).X, row.X - 1);
    }
  }
}

TEST(MapView, ZoomKeepsThePointerAndFitShowsTheRectangle) {
  const struct {
    double X, Y, Delta;
  } zooms[] = {{0, 0, 1}, {640, 480, -2.5}, {100, 400, 0.25}, {320, 240, 3}};
  for (const auto& row : zooms) {
    TMapView view;
    view.Resize(640, 480);
    view.CentreOn({116.8, 39.9}, 10);
    const TLonLat before = view.ScreenToLonLat(row.X, row.Y);
    view.ZoomAbout(row.X, row.Y, row.Delta);
    const TLonLat after = view.ScreenToLonLat(row.X, row.Y);
    EXPECT_NEAR(after.Lon, before.Lon, 1e-9) << row.Delta;
    EXPECT_NEAR(after.Lat, before.Lat, 1e-9) << row.Delta;
    EXPECT_DOUBLE_EQ(view.Zoom(), 10 + row.Delta);
  }
  const struct {
    double West, South, East, North;
  } boxes[] = {{116.5, 39.6, 117.2, 40.2}, {-10, -60, 170, 70}, {8.5, 47.37, 8.5001, 47.3701}};
  for (const auto& box : boxes) {
    TMapView view;
    view.Resize(800, 600);
    view.Fit(box.West, box.South, box.East, box.North, 16, 30);
    const TWorldPoint nw = view.LonLatToScreen({box.West, box.North});
    const TWorldPoint se = view.LonLatToScreen({box.East, box.South});
    EXPECT_GE(nw.X, 15.99);
    EXPECT_GE(nw.Y, 15.99);
    EXPECT_LE(se.X, 784.01);
    EXPECT_LE(se.Y, 584.01);
    // Whole, and no smaller than it must be: one side meets the margins.
    EXPECT_TRUE(std::abs(nw.X - 16) < 0.01 || std::abs(nw.Y - 16) < 0.01 || view.Zoom() == TMapView::MaxZoom)
        << box.West << " " << nw.X << "," << nw.Y;
  }
  TMapView view;
  view.Resize(400, 300);
  view.CentreOn({0, 0}, 4);
  const TWorldPoint before = view.LonLatToScreen({10, 10});
  view.Pan(25, -40);
  const TWorldPoint after = view.LonLatToScreen({10, 10});
  EXPECT_NEAR(after.X - before.X, 25, 1e-9);
  EXPECT_NEAR(after.Y - before.Y, -40, 1e-9);
}

// The tiles of zoom 10, and a 512 x 512 view on the middle of tile (550, 335) of it.
constexpr TTileRect World10{0, 0, 1023, 1023};
TMapView ViewOnTile550(double zoom) {
  TMapView view;
  view.Resize(512, 512);
  view.CentreOn(PixelToLonLat({550.5 * 256, 335.5 * 256}, 10), zoom);
  return view;
}

TEST(MapPyramid, TilesInSightAtTheViewsZoom) {
  const struct {
    double ViewZoom;
    TTileRect Source;
    long long MaxTiles;
    TTileRect Tiles;
    double Scale;
    bool Overview;
  } rows[] = {
      {10, World10, 768, {549, 334, 551, 336}, 1, false},
      {11, World10, 768, {550, 335, 550, 335}, 2, false},   // scaled up: one tile fills the view
      {9, World10, 768, {548, 333, 552, 337}, 0.5, false},  // scaled down: the source's tiles, halved
      {10.5, World10, 768, {549, 334, 551, 336}, std::exp2(0.5), false},
      {9, World10, 24, {548, 333, 552, 337}, 0.5, true},  // too many: nothing loaded
      {10, {550, 335, 560, 340}, 768, {550, 335, 551, 336}, 1, false},
      {10, {600, 600, 610, 610}, 768, {}, 1, false},  // out of sight
  };
  for (const auto& row : rows) {
    const TMapView view = ViewOnTile550(row.ViewZoom);
    const TPyramidChoice choice = ChooseTiles(view, 10, row.Source, row.MaxTiles);
    SCOPED_TRACE(testing::Message() << "zoom " << row.ViewZoom << " max " << row.MaxTiles);
    EXPECT_EQ(choice.Tiles.Count(), row.Tiles.Count());
    if (!row.Tiles.Empty()) {
      EXPECT_EQ(std::tie(choice.Tiles.MinX, choice.Tiles.MinY, choice.Tiles.MaxX, choice.Tiles.MaxY),
                std::tie(row.Tiles.MinX, row.Tiles.MinY, row.Tiles.MaxX, row.Tiles.MaxY));
    }
    EXPECT_DOUBLE_EQ(choice.Scale, row.Scale);
    EXPECT_EQ(choice.Overview, row.Overview);
    const std::vector<TTileKey> order = LoadOrder(view, choice);
    EXPECT_EQ(static_cast<long long>(order.size()), row.Overview ? 0 : row.Tiles.Count());
    if (!order.empty() && row.Source.Contains(550, 335)) {
      EXPECT_EQ(order.front(), (TTileKey{10, 550, 335}));
    }
  }
}

TEST(MapPyramid, OverviewLevelsBelowTheSourcesZoom) {
  const struct {
    double ViewZoom;
    TTileRect Source;
    long long MaxTiles;
    int Level;
    TTileRect Tiles;
    double Scale;
  } rows[] = {
      {10, World10, 768, 0, {549, 334, 551, 336}, 1},
      {9.5, World10, 768, 0, {549, 334, 551, 336}, std::exp2(-0.5)},  // down to half size: the source's tiles
      {9, World10, 768, 1, {274, 166, 276, 168}, 1},                  // then tiles of 2 x 2
      {7.5, World10, 768, 2, {136, 82, 139, 85}, std::exp2(-0.5)},
      {9, World10, 4, 2, {137, 83, 138, 84}, 2},                   // too many in sight: coarser
      {9, {550, 335, 560, 340}, 768, 1, {275, 167, 276, 168}, 1},  // the source's part
      {0, World10, 768, 10, {0, 0, 0, 0}, 1},                      // the whole world in one tile
  };
  for (const auto& row : rows) {
    const TMapView view = ViewOnTile550(row.ViewZoom);
    const TPyramidChoice choice = ChooseLevel(view, 10, row.Source, row.MaxTiles);
    SCOPED_TRACE(testing::Message() << "zoom " << row.ViewZoom << " max " << row.MaxTiles);
    EXPECT_EQ(std::tie(choice.Level, choice.Zoom), std::tuple(row.Level, 10 - row.Level));
    EXPECT_EQ(std::tie(choice.Tiles.MinX, choice.Tiles.MinY, choice.Tiles.MaxX, choice.Tiles.MaxY),
              std::tie(row.Tiles.MinX, row.Tiles.MinY, row.Tiles.MaxX, row.Tiles.MaxY));
    EXPECT_DOUBLE_EQ(choice.Scale, row.Scale);
    EXPECT_FALSE(choice.Overview);
  }
}

// Tiles of zoom 4 made on the fly: (x, y) is solid red 16x, green 16y, but for
// a missing (1, 0) and (3, 3) in columns of red 0 and 200 by turns.
class TPaintedSource : public IMapSource {
 public:
  explicit TPaintedSource(TTileRect rect, int zoom = 4) {
    Set.Zoom = zoom;
    Set.MinX = rect.MinX, Set.MinY = rect.MinY, Set.MaxX = rect.MaxX, Set.MaxY = rect.MaxY;
  }
  const TTileSet& TileSet() const override { return Set; }
  TDecodedTile Load(int x, int y) override {
    ++Loads;
    if (x == 1 && y == 0) return {};
    TDecodedTile tile{TTileKind::Good, TRgba(TilePixels * 4)};
    for (std::size_t i = 0; i < TilePixels; ++i) {
      const bool striped = x == 3 && y == 3;
      tile.Pixels[i * 4] = static_cast<unsigned char>(striped ? (i % 2) * 200 : x * 16);
      tile.Pixels[i * 4 + 1] = static_cast<unsigned char>(striped ? 0 : y * 16);
      tile.Pixels[i * 4 + 3] = 255;
    }
    return tile;
  }
  std::atomic<int> Loads = 0;

 private:
  TTileSet Set;
};

TEST(MapOverview, ScalesDownSampledSourceTiles) {
  const TTileRect all{0, 0, 15, 15};
  struct TPixel {
    int X, Y;
    int Red, Green, Alpha;
  };
  const struct {
    const char* Name;
    TTileRect Source;
    TTileKey Key;
    int Samples;
    int Loads, Kept;
    std::vector<TPixel> Pixels;
  } rows[] = {
      {"2 x 2, exact", all, {3, 0, 0}, 8, 4, 2, {{0, 0, 0, 0, 255}, {133, 5, 0, 0, 0}, {5, 200, 0, 16, 255}}},
      {"averaged stripes", all, {3, 1, 1}, 8, 4, 2, {{200, 200, 100, 0, 255}, {100, 100, 32, 32, 255}}},
      // 16 x 16 tiles from 8 x 8 samples: each the first of its 2 x 2 block
      // standing for all of it, the missing tile hidden.
      {"sampled", all, {0, 0, 0}, 8, 64, 8, {{16, 0, 0, 0, 255}, {40, 0, 32, 0, 255}, {255, 255, 224, 224, 255}}},
      {"sampled finer", all, {0, 0, 0}, 32, 256, 16, {{16, 0, 0, 0, 0}, {40, 0, 32, 0, 255}, {255, 255, 240, 240, 255}}},
      // Only the source's tiles are painted, the middle one of a block's part standing for it.
      {"the source's part", {2, 2, 5, 5}, {1, 0, 0}, 2, 4, 2,
       {{0, 0, 0, 0, 0}, {64, 64, 32, 32, 255}, {191, 191, 64, 64, 255}, {200, 200, 0, 0, 0}}},
      {"outside the source", {2, 2, 5, 5}, {2, 2, 2}, 8, 0, 4, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TPaintedSource source(row.Source);
    TTileCache cache;
    const std::optional<TDecodedTile> tile = BuildOverview(source, cache, row.Key, row.Samples);
    ASSERT_TRUE(tile);
    EXPECT_EQ(source.Loads, row.Loads);
    EXPECT_EQ(tile->Samples, row.Kept);
    EXPECT_EQ(tile->Kind, row.Pixels.empty() ? TTileKind::Missing : TTileKind::Good);
    for (const TPixel& p : row.Pixels) {
      const unsigned char* at = tile->Pixels.data() + (p.Y * TileSide + p.X) * 4;
      EXPECT_EQ(std::tuple(at[0], at[1], at[3]), std::tuple(p.Red, p.Green, p.Alpha)) << p.X << "," << p.Y;
    }
  }
  // A source tile already decoded is taken from the cache; a stop ends the build.
  TPaintedSource source(all);
  TTileCache cache;
  cache.Put({4, 0, 0}, std::make_shared<TDecodedTile>(TDecodedTile{TTileKind::Good, TRgba(TilePixels * 4, 77)}));
  const std::optional<TDecodedTile> tile = BuildOverview(source, cache, {3, 0, 0}, 8);
  EXPECT_EQ(source.Loads, 3);
  EXPECT_EQ(tile->Pixels[0], 77);
  EXPECT_FALSE(BuildOverview(source, cache, {3, 0, 0}, 8, [] { return true; }));
}

TEST(MapLoader, RefinesOverviewTilesOnceTheQuickOnesAreDone) {
  // Zoom 6: tile (0, 0) of zoom 0 stands for 64 x 64 source tiles.
  TPaintedSource source({0, 0, 63, 63}, 6);
  TTileCache cache;
  {
    TTileLoader loader(source, cache, {});
    loader.Request({{0, 0, 0}, {1, 0, 0}});
    test::WaitFor([&] { return loader.Idle(); });
  }
  const struct {
    TTileKey Key;
    int Samples;
  } rows[] = {{{0, 0, 0}, 32}, {{1, 0, 0}, 32}};
  for (const auto& row : rows) {
    const auto tile = cache.Find(row.Key);
    ASSERT_TRUE(tile) << row.Key.Zoom;
    EXPECT_EQ(tile->Samples, row.Samples) << row.Key.Zoom;
  }
  // Each quick (8 x 8) and refined (32 x 32) build read its samples.
  EXPECT_EQ(source.Loads, 2 * (64 + 1024));
}

TEST(MapCache, KeepsWithinItsBoundDroppingTheLeastRecentlyUsed) {
  const std::size_t good = CachedBytes(TDecodedTile{TTileKind::Good, TRgba(TilePixels * 4)});
  const auto key = [](int x) { return TTileKey{5, x, 0}; };
  const struct {
    std::size_t BoundInTiles;
    std::vector<int> Steps;  // x >= 0: put tile x; -x - 1: find tile x
    std::set<int> Held;
  } rows[] = {
      {3, {0, 1, 2, 3}, {1, 2, 3}},
      {3, {0, 1, 2, -1, 3}, {0, 2, 3}},  // the tile found is kept
      {3, {0, 1, 2, 0, 3}, {0, 2, 3}},   // put again: recent, counted once
      {1, {0, 1}, {1}},
      {0, {0, 1}, {1}},                  // the newest stays even over the bound
  };
  for (const auto& row : rows) {
    TTileCache cache(row.BoundInTiles * good);
    for (const int step : row.Steps) {
      if (step >= 0)
        cache.Put(key(step), std::make_shared<TDecodedTile>(TDecodedTile{TTileKind::Good, TRgba(TilePixels * 4)}));
      else
        cache.Find(key(-step - 1));
    }
    std::set<int> held;
    for (int x = 0; x < 5; ++x)
      if (cache.Contains(key(x))) held.insert(x);
    EXPECT_EQ(held, row.Held) << row.BoundInTiles;
    EXPECT_EQ(cache.Bytes(), held.size() * good);
  }
}

TEST(MapSource, LoadsAndSortsATasksTiles) {
  test::TTempDir dir;
  const test::TMapTask task(dir);
  const auto source = OpenMapSource(task.Project, task.Program, TStartConfig{});
  ASSERT_EQ(source->Rect().Count(), 9);
  ASSERT_TRUE(source->Requested());
  EXPECT_NEAR(source->Requested()->West, PixelToLonLat({843.5 * 256, 0}, 10).Lon, 1e-12);
  TTileCache cache;
  std::atomic<int> loaded = 0;
  {
    TTileLoader loader(*source, cache, [&](const TTileKey&) { ++loaded; });
    std::vector<TTileKey> all;
    for (int y = task.MinY; y < task.MinY + 3; ++y)
      for (int x = task.MinX; x < task.MinX + 3; ++x) all.push_back({task.Zoom, x, y});
    loader.Request(all);
    test::WaitFor([&] { return loaded >= 9; });
  }
  ASSERT_EQ(loaded, 9);
  const struct {
    int X, Y;
    TTileKind Kind;
  } kinds[] = {{843, 387, TTileKind::Good}, {845, 387, TTileKind::Missing},
               {843, 389, TTileKind::Placeholder}};
  for (const auto& row : kinds) {
    const auto tile = cache.Find({task.Zoom, row.X, row.Y});
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->Kind, row.Kind) << row.X << "," << row.Y;
    EXPECT_EQ(tile->Pixels.size(), row.Kind == TTileKind::Good ? TilePixels * 4 : 0);
  }
  TKindCounts counts;
  std::atomic<bool> stop = false;
  ScanKinds(*source, [&](const TKindCounts& c) { counts = c; }, stop);
  EXPECT_TRUE(counts.Done);
  EXPECT_EQ(std::tie(counts.Checked, counts.Missing, counts.Placeholder), std::tuple(9LL, 1LL, 1LL));
}

// A tile folder's entries that are no tiles: each loads at once as damaged,
// taking no more than a tile's memory, and the quick scan neither follows nor
// waits on them. A pipe once held a loader thread for good, and a link to
// /dev/zero or a huge sparse file was read whole.
TEST(MapSource, HostileFolderEntriesLoadAsDamaged) {
  test::TTempDir dir;
  const fs::path folder = dir / "tiles";
  fs::create_directories(folder);
  const std::string good = test::EncodeJpeg(256, 256);
  const auto tile = [&](int x) { return (folder / ("gs_" + std::to_string(x) + "_0_3.jpg")).string(); };
  test::WriteAll(tile(0), good);
  ASSERT_EQ(::mkfifo(tile(1).c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", tile(2));
  test::WriteAll(tile(3), good);
  ASSERT_EQ(::truncate(tile(3).c_str(), 10LL << 30), 0);
  test::WriteAll(tile(4), "<html>Not Found</html>");
  test::WriteAll(tile(5), good.substr(0, good.size() / 2));
  const TTileKind kinds[] = {TTileKind::Good,     TTileKind::NotImage, TTileKind::NotImage,
                             TTileKind::NotImage, TTileKind::NotImage, TTileKind::NotDecodable};

  const test::TMemoryPeak memory;
  const auto source = OpenMapSource(folder, dir.Path(), TStartConfig{});
  ASSERT_EQ(source->Rect().Count(), 6);
  TTileCache cache;
  std::mutex lock;
  std::condition_variable changed;
  int loaded = 0;
  {
    TTileLoader loader(*source, cache, [&](const TTileKey&) {
      const std::lock_guard guard(lock);
      ++loaded;
      changed.notify_all();
    });
    std::vector<TTileKey> all;
    for (int x = 0; x < 6; ++x) all.push_back({3, x, 0});
    loader.Request(all);
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return loaded == 6; });
  }
  for (int x = 0; x < 6; ++x) {
    const auto held = cache.Find({3, x, 0});
    ASSERT_TRUE(held) << x;
    EXPECT_EQ(held->Kind, kinds[x]) << x;
  }
  // The quick scan does not decode: the cut-off tile is told only by the loader.
  TKindCounts counts;
  std::vector<TKindCounts::TBad> found;
  const std::atomic<bool> stop = false;
  ScanKinds(
      *source,
      [&](const TKindCounts& c) {
        counts = c;
        found.insert(found.end(), c.Found.begin(), c.Found.end());
      },
      stop);
  EXPECT_TRUE(counts.Done);
  EXPECT_EQ(std::tie(counts.Checked, counts.Missing, counts.Placeholder, counts.Damaged),
            std::tuple(6LL, 0LL, 0LL, 4LL));
  ASSERT_EQ(found.size(), 4U);
  for (const auto& bad : found) EXPECT_EQ(bad.Kind, kinds[bad.X]) << bad.X;
  if (test::MemoryBounded) {
    EXPECT_LT(memory.GrowthMb(), 200);
  }
}

// Holds the first tile read until released, so requests can overtake it.
class TGateSource : public IMapSource {
 public:
  const TTileSet& TileSet() const override { return Set; }
  TDecodedTile Load(int x, int) override {
    {
      std::unique_lock guard(Lock);
      Read.push_back(x);
      Changed.notify_all();
      Changed.wait(guard, [this] { return Open; });
    }
    return {};
  }
  void Release() {
    const std::lock_guard guard(Lock);
    Open = true;
    Changed.notify_all();
  }
  void WaitForReads(std::size_t count) {
    std::unique_lock guard(Lock);
    Changed.wait(guard, [&] { return Read.size() >= count; });
  }
  std::vector<int> Reads() {
    const std::lock_guard guard(Lock);
    return Read;
  }

 private:
  TTileSet Set;
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = false;
  std::vector<int> Read;
};

TEST(MapLoader, ANewRequestDropsTheTilesNoLongerWanted) {
  TGateSource source;
  TTileCache cache;
  std::atomic<int> loaded = 0;
  {
    TTileLoader loader(source, cache, [&](const TTileKey&) { ++loaded; }, 1);
    loader.Request({{3, 0, 0}, {3, 1, 0}, {3, 2, 0}, {3, 3, 0}});
    source.WaitForReads(1);
    // Tile 0 is being read; 1..3 are no longer in sight, 0 and 5 are.
    loader.Request({{3, 0, 0}, {3, 5, 0}});
    source.Release();
    // Once idle, nothing queued is left to read: a tile wrongly kept would have been.
    test::WaitFor([&] { return loaded >= 2 && loader.Idle(); });
  }
  EXPECT_EQ(source.Reads(), (std::vector<int>{0, 5}));
}

// A tile whose source changed (a cache filled by another thread) is read
// again: the copy held is dropped, and a read under way when it changed is
// not kept, however the requests fall.
TEST(MapLoader, AnInvalidatedTileIsReadAgain) {
  TGateSource source;
  TTileCache cache;
  std::atomic<int> loaded = 0;
  {
    TTileLoader loader(source, cache, [&](const TTileKey&) { ++loaded; }, 1);
    loader.Request({{3, 0, 0}});
    source.WaitForReads(1);
    // Changed while being read; the view asks again meanwhile.
    loader.Invalidate({3, 0, 0});
    loader.Request({{3, 0, 0}});
    source.Release();
    test::WaitFor([&] { return loaded >= 1 && loader.Idle(); });
    EXPECT_EQ(source.Reads().size(), 2u);
    EXPECT_EQ(loaded, 1) << "the read before the change is not kept";
    // Changed once held: dropped, and read on the next request.
    loader.Invalidate({3, 0, 0});
    EXPECT_FALSE(cache.Contains({3, 0, 0}));
    loader.Request({{3, 0, 0}});
    test::WaitFor([&] { return loaded >= 2 && loader.Idle(); });
  }
  EXPECT_EQ(source.Reads(), (std::vector<int>{0, 0, 0}));
  EXPECT_TRUE(cache.Contains({3, 0, 0}));
}

}  // namespace
}  // namespace meridane

namespace meridane {
namespace {

// A cache folder's tree, opened before it holds a tile: each zoom is its own
// level, a tile a level lacks is not yet fetched (not made from the finest
// tiles), and a tile written after the tree was opened is found when loaded again.
TEST(MapSource, ATileTreeFindsTilesWrittenWhileItIsOpen) {
  test::TTempDir dir;
  fs::create_directories(dir / "cache/4/4");
  const auto source = OpenTileTree(dir / "cache", "jpg", 4);
  ASSERT_EQ(source->TileSet().Zoom, 4);
  EXPECT_EQ(source->Rect().Count(), 256);
  ASSERT_NE(source->StoredLevel(2), nullptr);
  IMapSource& level = *source->StoredLevel(2);
  EXPECT_EQ(level.TileSet().Zoom, 2);
  // A finest tile inside the zoom 2 tile (1, 2).
  test::WriteAll(dir / "cache/4/4/8.jpg", test::EncodeJpeg(256, 256));
  TTileCache cache;
  {
    TTileLoader loader(*source, cache, {});
    loader.Request({{2, 1, 2}});
    test::WaitFor([&] { return loader.Idle(); });
  }
  ASSERT_TRUE(cache.Contains({2, 1, 2}));
  EXPECT_EQ(cache.Find({2, 1, 2})->Kind, TTileKind::Missing);
  fs::create_directories(dir / "cache/2/1");
  test::WriteAll(dir / "cache/2/1/2.jpg", test::EncodeJpeg(256, 256));
  EXPECT_EQ(level.Load(1, 2).Kind, TTileKind::Good);
  EXPECT_EQ(level.Load(2, 1).Kind, TTileKind::Missing) << "rows and columns kept apart";
  EXPECT_EQ(level.Load(4, 0).Kind, TTileKind::Missing) << "outside the zoom's world";
}

// A Z/X/Y tree of two zooms: the viewer shows the finest, and zoomed out the
// stored lower level, read as it is and not made from the finer tiles.
TEST(MapSource, ATreeOfTwoZoomsShowsItsStoredLowerLevel) {
  test::TTempDir dir;
  const auto solid = [](unsigned char red) {
    std::vector<unsigned char> pixels;
    for (int i = 0; i < 256 * 256; ++i) pixels.insert(pixels.end(), {red, 0, 0});
    return test::EncodeJpegPixels(pixels, 256, 256, 3, 95);
  };
  // Zoom 3: columns 0..3, rows 0..1, dark; zoom 2: one tile (1, 0), bright.
  for (int x = 0; x <= 3; ++x) {
    fs::create_directories(dir / "tree/3" / std::to_string(x));
    for (int y = 0; y <= 1; ++y)
      test::WriteAll(dir / "tree/3" / std::to_string(x) / (std::to_string(y) + ".jpg"), solid(20));
  }
  fs::create_directories(dir / "tree/2/1");
  test::WriteAll(dir / "tree/2/1/0.jpg", solid(240));
  const auto source = OpenMapSource(dir / "tree", dir.Path(), TStartConfig{});
  ASSERT_EQ(source->TileSet().Zoom, 3);
  EXPECT_EQ(source->Rect().Count(), 8);
  EXPECT_EQ(source->StoredLevel(3), nullptr);
  ASSERT_NE(source->StoredLevel(2), nullptr);
  EXPECT_EQ(source->StoredLevel(1)->TileSet().Zoom, 2);

  TTileCache cache;
  {
    TTileLoader loader(*source, cache, {});
    loader.Request({{3, 2, 0}, {2, 1, 0}, {2, 0, 0}, {1, 0, 0}});
    test::WaitFor([&] { return loader.Idle(); });
  }
  // The red of a pixel of the tile; the JPEG keeps a solid colour within a few steps.
  const auto red = [&](const TTileKey& key, int x, int y) {
    const auto tile = cache.Find(key);
    EXPECT_TRUE(tile && tile->Kind == TTileKind::Good) << key.Zoom;
    return tile && tile->Kind == TTileKind::Good ? tile->Pixels[(static_cast<std::size_t>(y) * TileSide + x) * 4] : -1;
  };
  const struct {
    TTileKey Key;
    int X, Y;
    int Red;
  } rows[] = {
      {{3, 2, 0}, 100, 100, 20},   // the finest, as stored
      {{2, 1, 0}, 100, 100, 240},  // the stored level, not the finer tiles scaled down
      {{1, 0, 0}, 200, 50, 240},   // below it: made from the stored level, in its quarter
      {{2, 0, 0}, 100, 100, 20},   // a tile the stored level lacks: made from the finest
  };
  for (const auto& row : rows) EXPECT_NEAR(red(row.Key, row.X, row.Y), row.Red, 6) << row.Key.Zoom;
}

// A tree read both ways: from the north its red tile is the north one; from
// the south (TMS) both sit at the other end of the world, the blue one north.
TEST(MapSource, ATreeIsReadWithItsRowsFromTheNorthOrTheSouth) {
  test::TTempDir dir;
  const test::TTwoRowTree tree(dir);
  const struct {
    bool FromSouth;
    int NorthRow;
    unsigned char Red, Blue;
  } rows[] = {{false, 0, 230, 0}, {true, 2, 0, 230}};
  for (const auto& row : rows) {
    const auto source = OpenMapSource(tree.Folder, dir.Path(), TStartConfig{}, {.FromSouth = row.FromSouth});
    EXPECT_TRUE(source->IsTree());
    ASSERT_EQ(source->Rect().MinY, row.NorthRow) << row.FromSouth;
    EXPECT_EQ(source->Rect().Count(), 2);
    const TDecodedTile north = source->Load(1, row.NorthRow);
    ASSERT_EQ(north.Kind, TTileKind::Good) << row.FromSouth;
    EXPECT_NEAR(north.Pixels[0], row.Red, 8) << row.FromSouth;
    EXPECT_NEAR(north.Pixels[2], row.Blue, 8) << row.FromSouth;
  }
  // A task knows its rows from its map type: the choice is not offered.
  const test::TMapTask task(dir);
  EXPECT_FALSE(OpenMapSource(task.Project, task.Program, TStartConfig{}, {.FromSouth = true})->IsTree());
}

TEST(ViewerArguments, ReadsAFileAndTheRowOrderAndRefusesTheRest) {
  const struct {
    std::vector<std::string> Arguments;
    std::optional<std::string> Path;
    bool FromSouth, Help;
    std::string Error;
  } rows[] = {
      {{"vistorel"}, std::nullopt, false, false, ""},
      {{"vistorel", "tree", "--tms"}, "tree", true, false, ""},
      {{"vistorel", "--tms", "tree"}, "tree", true, false, ""},
      {{"vistorel", "--", "--tms"}, "--tms", false, false, ""},
      {{"vistorel", "--tsm", "tree"}, "tree", false, false, "Unknown option --tsm"},
      {{"vistorel", "a", "b"}, "a", false, false, "Only one file or folder can be opened at a time: b"},
      {{"vistorel", "-x", "--help"}, std::nullopt, false, true, "Unknown option -x"},
  };
  for (const auto& row : rows) {
    const TViewerArguments read = ReadViewerArguments(row.Arguments);
    const std::string line = row.Arguments.back();
    EXPECT_EQ(read.Path ? std::optional(read.Path->string()) : std::nullopt, row.Path) << line;
    EXPECT_EQ(read.Options.FromSouth, row.FromSouth) << line;
    EXPECT_EQ(read.Help, row.Help) << line;
    EXPECT_EQ(read.Error, row.Error) << line;
  }
}

}  // namespace
}  // namespace meridane
