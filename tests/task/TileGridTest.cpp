#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "task/Requests.h"
#include "task/TileGrid.h"

namespace meridane {
namespace {

TTaskParams Request(double left, double right, double top, double bottom, int zoom, int mapsType) {
  TTaskParams p = test::Request("/data/maps/", left, right, top, bottom, zoom);
  p.MapsType = mapsType;
  return p;
}

TEST(TileName, OnlyWhatATaskWritesIsATileName) {
  struct Case {
    const char* Name;
    std::optional<TTileName> Tile;
  };
  const Case cases[] = {
      {"gs_843_388_10.jpg", TTileName{"gs", 843, 388, 10, "jpg"}},
      {"gm_0_0_0.png", TTileName{"gm", 0, 0, 0, "png"}},
      {"ms_5_-1_3.jpg", TTileName{"ms", 5, -1, 3, "jpg"}},
      {"os_2147483647_1_30.png", TTileName{"os", INT_MAX, 1, 30, "png"}},
      {"gs_843_388_10.png", std::nullopt},   // the extension of another map type
      {"gm_843_388_10.jpg", std::nullopt},
      {"xx_843_388_10.jpg", std::nullopt},   // no map type's prefix
      {"gs_0843_388_10.jpg", std::nullopt},  // leading zero
      {"gs_+843_388_10.jpg", std::nullopt},
      {"gs_-0_388_10.jpg", std::nullopt},
      {"gs_843_388.jpg", std::nullopt},  // a number missing
      {"gs_843_388_10_1.jpg", std::nullopt},
      {"gs_843__10.jpg", std::nullopt},
      {"gs_2147483648_388_10.jpg", std::nullopt},  // beyond an int
      {"gs_843_388_10.jpg.part", std::nullopt},
      {"gs_ 843_388_10.jpg", std::nullopt},
      {"gs_.jpg", std::nullopt},
      {"GS_843_388_10.JPG", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTileFileName(c.Name), c.Tile) << c.Name;
}

TEST(TileName, EveryMapTypesNamesReadBack) {
  for (int type = 0; type <= 8; ++type) {
    const TTileGrid grid(Request(0, 10, 10, 0, 17, type));
    for (const auto& [x, y] : {std::pair{0, 0}, {12345, 678}, {5, -1}, {INT_MAX, INT_MIN}}) {
      const std::string name = grid.TileFileName(x, y);
      const std::optional<TTileName> tile = ParseTileFileName(name);
      ASSERT_TRUE(tile) << name;
      EXPECT_EQ(*tile, (TTileName{tile->Prefix, x, y, 17, grid.Extension()})) << name;
      EXPECT_EQ(grid.FileNameHead(x), tile->Prefix + "_" + std::to_string(x) + "_");
    }
  }
}

// The walk, the sequence numbers, names and URLs the workers and the image
// list have always used.
TEST(TileGrid, WalksColumnByColumn) {
  struct Tile {
    int X, Y;
    const char* Name;
    const char* Url;
  };
  struct Case {
    TTaskParams Params;
    std::vector<Tile> Walk;
    long long SequenceOfOrigin;  // a stale position far outside
  };
  const Case cases[] = {
      {Request(116.39, 116.8, 39.9, 39.5, 10, 1),
       {{843, 388, "gs_843_388_10.jpg", "http://khm0.google.com/kh/v=91&s=Galil&x=843&y=388&z=10"},
        {843, 389, "gs_843_389_10.jpg", "http://khm1.google.com/kh/v=91&s=Galile&x=843&y=389&z=10"},
        {844, 388, "gs_844_388_10.jpg", "http://khm0.google.com/kh/v=91&s=&x=844&y=388&z=10"},
        {844, 389, "gs_844_389_10.jpg", "http://khm1.google.com/kh/v=91&s=G&x=844&y=389&z=10"}},
       -2073},
      {Request(116.39, 116.8, 39.9, 39.5, 10, 6),  // rows from the south, no URL
       {{843, 634, "ms_843_634_10.jpg", ""},
        {843, 635, "ms_843_635_10.jpg", ""},
        {844, 634, "ms_844_634_10.jpg", ""},
        {844, 635, "ms_844_635_10.jpg", ""}},
       -2319},
      {Request(-0.2, 0.3, 51.6, 51.4, 9, 1),  // one row
       {{255, 170, "gs_255_170_9.jpg", "http://khm2.google.com/kh/v=91&s=Galileo&x=255&y=170&z=9"},
        {256, 170, "gs_256_170_9.jpg", "http://khm2.google.com/kh/v=91&s=Ga&x=256&y=170&z=9"}},
       -424},
      {Request(179, 180, 1, -1, 4, 1),  // one column
       {{15, 7, "gs_15_7_4.jpg", "http://khm3.google.com/kh/v=91&s=Gali&x=15&y=7&z=4"},
        {15, 8, "gs_15_8_4.jpg", "http://khm0.google.com/kh/v=91&s=Galil&x=15&y=8&z=4"}},
       -36},
  };
  for (const Case& c : cases) {
    const TTileGrid grid(c.Params);
    std::vector<std::pair<int, int>> walked;
    grid.ForEach([&walked](int x, int y) { walked.emplace_back(x, y); });
    ASSERT_EQ(walked.size(), c.Walk.size());
    EXPECT_EQ(grid.Count(), static_cast<long long>(c.Walk.size()));
    for (std::size_t i = 0; i < c.Walk.size(); ++i) {
      const Tile& t = c.Walk[i];
      EXPECT_EQ(walked[i], std::make_pair(t.X, t.Y)) << t.Name;
      EXPECT_EQ(grid.SequenceOf(t.X, t.Y), static_cast<long long>(i) + 1) << t.Name;
      EXPECT_EQ(grid.TileFileName(t.X, t.Y), t.Name);
      EXPECT_EQ(grid.TilePath(t.X, t.Y), std::string("/data/maps/newtask/") + t.Name);
      EXPECT_EQ(grid.TileUrl(t.X, t.Y), t.Url) << t.Name;
    }
    EXPECT_EQ(grid.SequenceOf(0, 0), c.SequenceOfOrigin);
  }
}

// The grid's first and last columns bound the range, as its rows do: the east
// edge at 180 degrees is the last column's edge, not a column past it.
TEST(TileGrid, ColumnsStayWithinTheGrid) {
  const double belowEast = std::nextafter(180.0, 0.0);
  const struct {
    double Left, Right;
    int Zoom;
    int MinX, MaxX;  // -1: the last column
  } cases[] = {
      {-180, 180, 0, 0, -1},        {-180, 180, 1, 0, -1},       {-180, 180, 12, 0, -1},
      {-180, 180, 30, 0, -1},       {179.9, 180, 8, 255, -1},    {179.9, belowEast, 8, 255, -1},
      {belowEast, 180, 20, -1, -1}, {180, 180, 5, -1, -1},       {-180, -180, 17, 0, 0},
      {-181, -180, 3, 0, 0},        {180, 181.5, 3, -1, -1},     {-200, 200, 4, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Left << ".." << c.Right << " at " << c.Zoom);
    const int last = (1 << c.Zoom) - 1;
    const TTileRange r = ComputeTileRange(Request(c.Left, c.Right, 0.5, 0.5, c.Zoom, 1));
    EXPECT_EQ(r.MinX, c.MinX < 0 ? last : c.MinX);
    EXPECT_EQ(r.MaxX, c.MaxX < 0 ? last : c.MaxX);
    EXPECT_EQ(r.TotalCount, r.MaxX - r.MinX + 1);
    EXPECT_LE(r.RightEdge, 180);
    EXPECT_GE(r.LeftEdge, -180);
  }
}

// A row of 2^30 tiles: sequence numbers past the last tile do not wrap.
TEST(TileGrid, SequenceNumbersAre64Bit) {
  const TTileGrid grid(Request(-180, 180, 85, 85, 30, 1));
  ASSERT_EQ(grid.Count(), 1LL << 30);
  EXPECT_EQ(grid.SequenceOf(grid.Range().MaxX, grid.Range().MaxY), 1LL << 30);
  EXPECT_EQ(grid.SequenceOf(INT_MAX, grid.Range().MinY), 1LL << 31);
}

}  // namespace
}  // namespace meridane
