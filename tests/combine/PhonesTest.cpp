#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "combine/Archives.h"
#include "combine/Combine.h"
#include "combine/Kmz.h"
#include "combine/Sqlitedb.h"
#include "support/Images.h"
#include "support/TempDir.h"
#include "tiles/Decode.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

// A tile of one colour.
std::string SolidJpeg(unsigned char r, unsigned char g, unsigned char b) {
  std::vector<unsigned char> pixels;
  for (std::size_t i = 0; i < TilePixels; ++i) pixels.insert(pixels.end(), {r, g, b});
  return test::EncodeJpegPixels(pixels, TileSide, TileSide, 3, 95);
}

// The file as the sqlite3 program reads it: the tiles' bytes unchanged, zoom z
// stored as 17 - z, rows from the north, and the numbering told in info.
TEST(Sqlitedb, ReadersSeeTheTilesBytesAndTheirNumbering) {
  if (!test::HaveProgram("sqlite3")) GTEST_SKIP() << "no sqlite3";
  TTempDir dir;
  const fs::path path = dir / "t.sqlitedb";
  const TTileSet set = test::SetOf(3, 5, 2, 6, 3);
  {
    TSqlitedbWriter writer(path, set);
    writer.AddLevelTile(18, 7, 9, "level 18");  // deeper levels go below z = 0
    for (int y = 2; y <= 3; ++y)
      for (int x = 5; x <= 6; ++x) {
        const std::string bytes = "tile " + std::to_string(x) + "," + std::to_string(y);
        writer.Add(x, y, x == 6 && y == 3 ? std::nullopt : std::optional<std::string_view>(bytes));
      }
    writer.AddLevelTile(2, 2, 1, std::string("\0\xff level 2", 10));
    writer.Finish();
  }
  const struct {
    const char* Sql;
    std::string Expected;
  } queries[] = {
      {"SELECT x, y, z, s, hex(image) FROM tiles ORDER BY z, y, x",
       "7|9|-1|0|" + Hex("level 18") + "\n5|2|14|0|" + Hex("tile 5,2") + "\n6|2|14|0|" + Hex("tile 6,2") +
           "\n5|3|14|0|" + Hex("tile 5,3") + "\n2|1|15|0|" + Hex(std::string("\0\xff level 2", 10)) + "\n"},
      {"SELECT minzoom, maxzoom, tilenumbering, inverted_y, ellipsoid, timecolumn, tilesize, url FROM info",
       "-1|15|BigPlanet|0|0|no|256|\n"},
      {"SELECT name FROM pragma_table_info('tiles') WHERE pk > 0 ORDER BY pk", "x\ny\nz\ns\n"},
      {"PRAGMA journal_mode", "delete\n"},
  };
  for (const auto& q : queries) {
    const auto [out, status] = test::RunCommand("sqlite3 -readonly '" + path.string() + "' \"" + q.Sql + "\"");
    EXPECT_EQ(status, 0) << q.Sql;
    EXPECT_EQ(out, q.Expected) << q.Sql;
  }
}

TEST(Kmz, TheFewestFilesOfAtMostAHundredOverlays) {
  const struct {
    int Columns, Rows;  // tiles
    long long OverlayColumns, OverlayRows, BlockColumns, BlockRows, Files;
  } cases[] = {
      {1, 1, 1, 1, 1, 1, 1},       {4, 4, 1, 1, 1, 1, 1},         {5, 4, 2, 1, 2, 1, 1},
      {40, 40, 10, 10, 10, 10, 1}, {41, 40, 11, 10, 6, 10, 2},    {404, 1, 101, 1, 51, 1, 2},
      {4, 404, 1, 101, 1, 51, 2},  {120, 120, 30, 30, 10, 10, 9}, {400, 8, 100, 2, 50, 2, 2},
  };
  for (const auto& c : cases) {
    const TTileSet set = test::SetOf(10, 3, 5, 3 + c.Columns - 1, 5 + c.Rows - 1);
    const TKmzLayout layout = KmzLayoutOf(set);
    SCOPED_TRACE(std::to_string(c.Columns) + "x" + std::to_string(c.Rows));
    EXPECT_EQ(layout.OverlayColumns, c.OverlayColumns);
    EXPECT_EQ(layout.OverlayRows, c.OverlayRows);
    EXPECT_EQ(layout.BlockColumns, c.BlockColumns);
    EXPECT_EQ(layout.BlockRows, c.BlockRows);
    EXPECT_EQ(layout.Files(), c.Files);
    EXPECT_LE(layout.BlockColumns * layout.BlockRows, KmzMaxOverlays);
    EXPECT_GE(layout.FileColumns * layout.BlockColumns, layout.OverlayColumns);
    EXPECT_GE(layout.FileRows * layout.BlockRows, layout.OverlayRows);
    const std::vector<fs::path> files = KmzFiles("out/map.kmz", set);
    ASSERT_EQ(static_cast<long long>(files.size()), c.Files);
    EXPECT_EQ(files.back(), c.Files == 1 ? "out/map.kmz" : "out/map-" + std::to_string(c.Files) + ".kmz");
  }
}

// KML boxes are even in latitude: the tiles' Mercator rows are stretched so
// that each tile's edge lands on its latitude in the image. At zoom 2 the
// difference is a quarter of the image.
TEST(Kmz, AnOverlaysRowsFollowLatitude) {
  const TTileSet set = test::SetOf(2, 1, 0, 1, 3);
  const unsigned char colours[4][3] = {{255, 0, 0}, {0, 160, 0}, {0, 0, 255}, {255, 255, 255}};
  std::vector<std::optional<std::string>> tiles;
  for (int row = 0; row < 3; ++row) tiles.push_back(SolidJpeg(colours[row][0], colours[row][1], colours[row][2]));
  tiles.push_back(std::nullopt);  // left out: white
  const std::string jpeg = KmzOverlayImage(set, 0, 1, 4, tiles, 90);
  std::vector<unsigned char> pixels(static_cast<std::size_t>(TileSide) * 4 * TileSide * 4);
  ASSERT_EQ(DecodeImage(jpeg, TileSide, TileSide * 4, pixels.data()), TImageCheck::Sound);
  const auto near = [&](int row, const unsigned char* colour) {
    const unsigned char* p = pixels.data() + (static_cast<std::size_t>(row) * TileSide + 128) * 4;
    for (int c = 0; c < 3; ++c)
      if (std::abs(p[c] - colour[c]) > 24) return false;
    return true;
  };
  const double north = TileYToLat(0, 2, 0), south = TileYToLat(4, 2, 0);
  for (int edge = 1; edge < 4; ++edge) {
    const double at = (north - TileYToLat(edge, 2, 0)) / (north - south) * TileSide * 4;
    SCOPED_TRACE("edge " + std::to_string(edge) + " at row " + std::to_string(at));
    EXPECT_TRUE(near(static_cast<int>(at) - 6, colours[edge - 1]));
    EXPECT_TRUE(near(static_cast<int>(at) + 7, colours[edge]));
  }
}

// A run writes the KMZ files the summary names, each read back by Python's
// zip and XML readers: doc.kml first, at most 100 overlays, every box on its
// tiles' edges, the rectangle covered once, every image a JPEG of its box's
// size; a left-out tile white. A killed run's parts are removed, a live run's
// kept.
TEST(Kmz, ARunWritesTheFilesItsSummaryNames) {
  if (!test::HaveProgram("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  const std::string split =
      "the area needs 101 overlays of up to 4x4 tiles and a file holds at most 100: written map-1.kmz .. map-2.kmz, "
      "blocks of up to 51x1 overlays";
  const struct {
    int Zoom, MinX, MinY, MaxX, MaxY;
    std::vector<std::string> Files;
    std::string Layout;
  } cases[] = {
      {5, 3, 7, 8, 11, {"map.kmz"}, "4 overlays of up to 4x4 tiles"},
      {9, 10, 20, 413, 20, {"map-1.kmz", "map-2.kmz"}, split},
  };
  const std::string tile = SolidJpeg(40, 90, 140);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Layout);
    TTempDir dir;
    fs::create_directories(dir / "tiles");
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "p" / "blankimg");
    test::WriteAll(dir / "p" / "blankimg" / "blank.jpg", "\xFF\xD8\xFF placeholder");
    // The second tile of the north row left out; the rectangle stays.
    for (int y = c.MinY; y <= c.MaxY; ++y)
      for (int x = c.MinX; x <= c.MaxX; ++x)
        if (x != c.MinX + 1 || y != c.MinY)
          test::WriteAll(
              dir / "tiles" /
                  ("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_" + std::to_string(c.Zoom) + ".jpg"),
              tile);
    const fs::path output = dir / "out" / "map.kmz";
    test::WriteAll(output, "an earlier map");  // replaced, by its parts when it is split
    // A killed run's part, and a part of a run still writing (it holds its lock).
    test::WriteAll(PartialName(output, "1-0").replace_extension("").string() + "-1.kmz", "killed");
    const fs::path live = PartialName(output, "2-0").replace_extension("").string() + "-1.kmz";
    test::WriteAll(live, "live");
    const fs::path lock = PartialName(output, "2-0").replace_extension(".lock");
    const int held = ::open(lock.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    const TCombineSummary summary =
        Combine(FolderSource(dir / "tiles", c.Zoom),
                {.Output = output,
                 .Options = {.Quality = 85, .Name = "Lake \"Ohrid\" & <2>", .Description = "tiles of\na lake", .MinZoom = std::nullopt},
                 .ProgramFolder = dir / "p"});
    ::close(held);
    EXPECT_EQ(summary.Layout, c.Layout);
    EXPECT_NE(SummaryText(summary, output).find("; " + c.Layout), std::string::npos);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "out")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = c.Files;
    expected.insert(expected.end(), {lock.filename().string(), live.filename().string()});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);

    std::string command = "/usr/bin/python3 '" + std::string(MERIDANE_TEST_SOURCE_DIR) + "/combine/read_kmz.py'";
    for (const int v : {c.Zoom, c.MinX, c.MinY, c.MaxX, c.MaxY}) command += " " + std::to_string(v);
    command += " '" + (dir / "read").string() + "'";
    for (const std::string& file : c.Files) command += " '" + (dir / "out" / file).string() + "'";
    const auto [out, status] = test::RunCommand(command + " 2>&1");
    EXPECT_EQ(status, 0) << out;
    std::istringstream lines(out);
    std::string image;
    int width = 0, height = 0, overlays = 0;
    while (lines >> image >> width >> height) {
      ++overlays;
      const std::string jpeg = test::ReadAll(dir / "read" / image);
      std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
      ASSERT_EQ(DecodeImage(jpeg, width, height, pixels.data()), TImageCheck::Sound) << image;
      const auto at = [&](int x, int k) { return pixels[(20 * static_cast<std::size_t>(width) + x) * 4 + k]; };
      EXPECT_NEAR(at(20, 2), 140, 8) << image;
      if (image == "files/r1c1.jpg") {
        for (int k = 0; k < 3; ++k) EXPECT_GE(at(TileSide + 20, k), 248);
      }
    }
    const TKmzLayout layout = KmzLayoutOf(test::SetOf(c.Zoom, c.MinX, c.MinY, c.MaxX, c.MaxY));
    EXPECT_EQ(overlays, layout.Overlays());
  }
}

}  // namespace
}  // namespace meridane
