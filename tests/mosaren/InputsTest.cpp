// Every kind of input, and inputs that overlap, through the combiner's console.
#include <gtest/gtest.h>

#include <map>

#include "combine/Archives.h"
#include "combine/RecordingSink.h"
#include "mosaren/RunConsole.h"
#include "support/Images.h"
#include "support/TempDir.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;

// A tile of one colour of its own, so that every tile is told apart by its bytes.
std::string Tile(int shade, bool png = false) {
  std::vector<unsigned char> pixels;
  for (int i = 0; i < 256 * 256; ++i) pixels.insert(pixels.end(), {static_cast<unsigned char>(shade), 90, 40});
  return png ? EncodePngPixels(pixels, 256, 256, PNG_FORMAT_RGB) : EncodeJpegPixels(pixels, 256, 256, 3, 90);
}

// The placeholder the combiner knows, beside the program.
std::string Placeholder(const fs::path& program) {
  const std::string blank = ReadAll(fs::path(MERIDANE_TEST_SOURCE_DIR) / "../blankimg/blank.jpg");
  fs::create_directories(program / "blankimg");
  WriteAll(program / "blankimg/blank.jpg", blank);
  return blank;
}

using TTiles = std::map<std::pair<int, int>, std::string>;

// What the output was handed: the tiles with bytes, by column and row from the north.
TTiles Written(const TSinkLog& log) {
  TTiles tiles;
  for (const TAdded& added : log.Added)
    if (added.Bytes) tiles[{added.X, added.Y}] = *added.Bytes;
  return tiles;
}

// Zoom 3, columns 2..3, rows 1..2 from the north, in every way of storing them.
TEST(CombineInputs, EveryKindOfInputGivesItsTilesAtTheirPlaces) {
  TTempDir dir;
  const int zoom = 3;
  TTiles tiles;
  for (int x = 2; x <= 3; ++x)
    for (int y = 1; y <= 2; ++y) tiles[{x, y}] = Tile(40 * x + 10 * y);
  const auto each = [&](const std::function<void(int x, int y, const std::string&)>& put) {
    for (const auto& [at, bytes] : tiles) put(at.first, at.second, bytes);
  };
  const auto tree = [&](const fs::path& root, int z, bool south, const char* extension) {
    each([&](int x, int y, const std::string& bytes) {
      const long long row = south ? (1LL << z) - 1 - y : y;
      fs::create_directories(root / std::to_string(z) / std::to_string(x));
      WriteAll(root / std::to_string(z) / std::to_string(x) / (std::to_string(row) + extension), bytes);
    });
  };
  tree(dir / "xyz", zoom, false, ".jpg");
  tree(dir / "tms", zoom, true, ".jpeg");
  fs::create_directories(dir / "own");
  each([&](int x, int y, const std::string& bytes) {
    WriteAll(dir / "own" / ("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_3.jpg"), bytes);
  });
  for (const auto& [kind, name] :
       {std::pair(TArchiveKind::Mbtiles, "map.mbtiles"), std::pair(TArchiveKind::Pmtiles, "map.pmtiles")}) {
    auto writer = WriterOf(kind, dir / name, SetOf(zoom, 2, 1, 3, 2));
    WriteSet(*writer, SetOf(zoom, 2, 1, 3, 2), [&](int x, int y) { return std::optional(tiles.at({x, y})); });
  }
  // Two zooms: the finest is combined, the other said to be left out.
  tree(dir / "levels", zoom, false, ".jpg");
  fs::create_directories(dir / "levels/2/1");
  WriteAll(dir / "levels/2/1/0.jpg", Tile(250));
  fs::create_directories(dir / "nothing/3/x");
  WriteAll(dir / "nothing/readme.txt", "tiles");
  WriteAll(dir / "nothing/3/x/1.jpg", Tile(1));
  WriteAll(dir / "nothing/gs_1_1.jpg", Tile(1));

  const std::string out = (dir / "out.png").string();
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Note, Err;
  } cases[] = {
      {{(dir / "xyz").string(), "-o", out}, 0, "", ""},
      {{(dir / "tms").string(), "--tms", "-o", out}, 0, "", ""},
      {{(dir / "own").string(), "-o", out}, 0, "", ""},
      {{(dir / "map.mbtiles").string(), "-o", out}, 0, "", ""},
      {{(dir / "map.pmtiles").string(), "-o", out}, 0, "", ""},
      {{(dir / "levels").string(), "-o", out}, 0, "Zoom 2 is left out: the output holds the finest zoom, 3.\n", ""},
      {{(dir / "levels").string(), "--zoom", "3", "-o", out}, 0, "", ""},
      {{(dir / "nothing").string(), "-o", out}, 2, "", NoTilesMessage(dir / "nothing", std::nullopt) + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args.front() + " " + c.Args[1]);
    TSinkLog log;
    const TConsoleRun run =
        RunConsole(c.Args, {.ProgramFolder = dir.Path(), .StopSignal = [] { return 0; }, .MakeSink = RecordingSinks(log)});
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_EQ(run.Err, c.Err);
    if (c.Status != 0) continue;
    EXPECT_TRUE(run.Out.starts_with(c.Note + "4 tiles written; left out: 0 placeholders, 0 missing,")) << run.Out;
    EXPECT_EQ(Written(log), tiles);
    EXPECT_TRUE(log.Finished);
  }
}

// Two tile folders of one zoom, overlapping: a sound tile wins over a
// placeholder, a missing tile or one that does not decode; between two sound
// ones the earlier input's, and if their bytes differ that is a conflict.
TEST(CombineInputs, OverlappingInputsBecomeOneMapAndCountTheirConflicts) {
  TTempDir dir;
  const std::string blank = Placeholder(dir.Path());
  const std::string truncated = Tile(7).substr(0, 900);
  const struct {
    int X, Y;
    std::optional<std::string> First, Second;
    std::optional<std::string> Written;
  } tiles[] = {
      {2, 1, Tile(10), Tile(20), Tile(10)},                  // two sound, different: the first, a conflict
      {3, 1, blank, Tile(30), Tile(30)},                     // a placeholder gives way
      {2, 2, std::nullopt, Tile(40), Tile(40)},              // so does a missing tile
      {3, 2, Tile(50), Tile(50), Tile(50)},                  // the same bytes: no conflict
      {4, 1, truncated, Tile(60), Tile(60)},                 // a tile that does not decode gives way
      {4, 2, std::nullopt, blank, std::nullopt},             // nothing sound: left out as a placeholder
      {5, 2, std::nullopt, Tile(70, true), Tile(70, true)},  // the second's rectangle reaches further
  };
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  TTiles expected;
  for (const auto& t : tiles) {
    const std::string name = "gs_" + std::to_string(t.X) + "_" + std::to_string(t.Y) + "_3.jpg";
    if (t.First) WriteAll(dir / "a" / name, *t.First);
    if (t.Second) WriteAll(dir / "b" / name, *t.Second);
    if (t.Written) expected[{t.X, t.Y}] = *t.Written;
  }
  TSinkLog log;
  const TConsoleRun run =
      RunConsole({(dir / "a").string(), (dir / "b").string(), "-o", (dir / "out.pmtiles").string()},
              {.ProgramFolder = dir.Path(), .StopSignal = [] { return 0; }, .MakeSink = RecordingSinks(log)});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(Written(log), expected);
  // Columns 2..5, rows 1..2: the rectangle around both.
  EXPECT_EQ(log.Added.size(), 8u);
  EXPECT_TRUE(
      run.Out.starts_with("6 tiles written; left out: 1 placeholder, 1 missing, 0 empty, 0 not an image, "
                          "0 not decodable, 0 not 256x256; 1 conflict (inputs overlap with different tiles: "
                          "the earlier input's kept); out.pmtiles, "))
      << run.Out;

  // The other order: the second input's sound tile wins the conflict.
  TSinkLog swapped;
  const TConsoleRun back =
      RunConsole({(dir / "b").string(), (dir / "a").string(), "-o", (dir / "out.pmtiles").string()},
              {.ProgramFolder = dir.Path(), .StopSignal = [] { return 0; }, .MakeSink = RecordingSinks(swapped)});
  EXPECT_EQ(back.Status, 0) << back.Err;
  EXPECT_EQ(Written(swapped).at({2, 1}), Tile(20));
}

// A Z/X/Y tree of zoom 3 and an MBTiles of zoom 1 make one phone database of
// zooms 1 to 3, read back by sqlite3 (z numbered 17 - zoom): the tree's tiles,
// zoom 2 built from them, and the archive's own tile at zoom 1.
TEST(CombineInputs, ATreeAndAnArchiveOfALowerZoomMakeOnePhoneDatabase) {
  if (!HaveProgram("sqlite3")) GTEST_SKIP() << "no sqlite3";
  TTempDir dir;
  for (int x = 2; x <= 3; ++x)
    for (int y = 1; y <= 2; ++y) {
      fs::create_directories(dir / "xyz/3" / std::to_string(x));
      WriteAll(dir / "xyz/3" / std::to_string(x) / (std::to_string(y) + ".jpg"), Tile(40 * x + 10 * y));
    }
  const std::string low = Tile(200);
  auto writer = WriterOf(TArchiveKind::Mbtiles, dir / "low.mbtiles", SetOf(1, 0, 0, 0, 0));
  WriteSet(*writer, SetOf(1, 0, 0, 0, 0), [&](int, int) { return std::optional(low); });
  writer.reset();
  const fs::path out = dir / "map.sqlitedb";
  const TConsoleRun run = RunConsole({(dir / "xyz").string(), (dir / "low.mbtiles").string(), "-o", out.string()},
                           {.ProgramFolder = dir.Path(), .StopSignal = [] { return 0; }});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(run.Out.starts_with("7 tiles written, 4 at zoom 3 and 3 at zooms 1 to 2 (2 of them built);")) << run.Out;
  const auto [rows, status] =
      RunCommand("sqlite3 -readonly '" + out.string() + "' 'SELECT z, count(*), max(length(image)) FROM tiles GROUP BY z'");
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(rows.starts_with("14|4|")) << rows;
  EXPECT_NE(rows.find("\n15|2|"), std::string::npos) << rows;
  EXPECT_NE(rows.find("\n16|1|" + std::to_string(low.size()) + "\n"), std::string::npos) << rows;
}

}  // namespace
}  // namespace meridane::test
