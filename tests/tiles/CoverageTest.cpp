#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <vector>

#include "geo/Commonfunc.h"
#include "support/Images.h"
#include "support/TempDir.h"
#include "tiles/Coverage.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using test::WriteAll;

// The satellite task "t.mrd" in dir over columns x0..x1 and rows y0..y1 of zoom 10.
TTaskParams Task(const TTempDir& dir, int x0, int x1, int y0, int y1) {
  TTaskParams p;
  p.LeftLongitude = TileXToLon(x0 + 0.5, 10);
  p.RightLongitude = TileXToLon(x1 + 0.5, 10);
  p.TopLatitude = TileYToLat(y0 + 0.5, 10, 0);
  p.BottomLatitude = TileYToLat(y1 + 0.5, 10, 0);
  p.Zoom = 10;
  p.Folder = dir.Folder();
  p.TaskName = "t.mrd";
  p.Hosts = {"h0", "h1", "h2", "h3"};
  p.UrlTemplate = "http://{host}/{x}/{y}/{z}";
  return p;
}

struct TFound {
  std::vector<std::string> Lines;  // "kind name", in the order they came
  TCoverageSummary Summary;
};

TFound Check(const TTileGrid& grid, TCoverageOptions options) {
  TFound found;
  options.OnBad = [&](const TBadTile& tile) {
    found.Lines.push_back(std::string(TileKindName(tile.Kind)) + " " + grid.TileFileName(tile.X, tile.Y));
  };
  found.Summary = CheckCoverage(grid, options);
  return found;
}

// One tile of each kind in a column of eight, with and without the decoder.
TEST(Coverage, EachKindInWalkOrder) {
  TTempDir dir;
  const fs::path program = dir / "program";
  fs::create_directories(program / "blankimg");
  const std::string blank = test::ReadAll(fs::path(MERIDANE_TEST_SOURCE_DIR) / "../blankimg/blank.jpg");
  ASSERT_FALSE(blank.empty());
  WriteAll(program / "blankimg/blank.jpg", blank);
  const TTaskParams params = Task(dir, 843, 843, 388, 395);
  const TTileGrid grid(params);
  ASSERT_EQ(grid.Count(), 8);
  const std::string good = test::EncodeJpeg(256, 256);
  const struct {
    int Y;
    std::string Bytes;  // none: no file
    const char *Plain, *Decoded;
  } tiles[] = {
      {388, good, "good", "good"},
      {389, {}, "missing", "missing"},
      {390, "", "empty", "empty"},
      {391, "<html><body>Not Found</body></html>", "not an image", "not an image"},
      {392, blank, "placeholder", "placeholder"},
      {393, good.substr(0, good.size() - 100), "good", "not decodable"},
      {394, test::EncodeJpeg(512, 512), "good", "not 256x256"},
      {395, blank + " ", "good", "good"},  // the blank's bytes and more are another image
  };
  fs::create_directories(grid.TileFolder());
  for (const auto& t : tiles)
    if (t.Y != 389) WriteAll(grid.TilePath(843, t.Y), t.Bytes);
  for (const bool decode : {false, true}) {
    SCOPED_TRACE(decode);
    std::vector<std::string> expected;
    std::array<long long, TileKindCount> counts{};
    for (const auto& t : tiles) {
      const std::string kind = decode ? t.Decoded : t.Plain;
      if (kind != "good") expected.push_back(kind + " gs_843_" + std::to_string(t.Y) + "_10.jpg");
      for (std::size_t k = 0; k < TileKindCount; ++k)
        if (TileKindName(static_cast<TTileKind>(k)) == kind) ++counts[k];
    }
    const TFound found = Check(grid, {.Decode = decode, .ProgramFolder = program});
    EXPECT_EQ(found.Lines, expected);
    EXPECT_EQ(found.Summary.Counts, counts);
    EXPECT_EQ(found.Summary.Tiles, 8);
    EXPECT_FALSE(found.Summary.Stopped);
  }
  // Without blank images no tile is a placeholder.
  EXPECT_EQ(Check(grid, {.ProgramFolder = dir / "elsewhere"}).Summary.Count(TTileKind::Placeholder), 0);
}

// A link under a tile's name is no tile of the task, whatever it points at:
// the re-download refuses to write through it, so the check must call it bad.
TEST(Coverage, LinkedTileIsNotAnImage) {
  TTempDir dir;
  const TTileGrid grid(Task(dir, 843, 844, 388, 388));
  fs::create_directories(grid.TileFolder());
  const std::string good = test::EncodeJpeg(256, 256);
  WriteAll(grid.TilePath(843, 388), good);
  WriteAll(dir / "elsewhere.jpg", good);
  fs::create_symlink(dir / "elsewhere.jpg", grid.TilePath(844, 388));
  for (const bool decode : {false, true}) {
    const TFound found = Check(grid, {.Decode = decode});
    EXPECT_EQ(found.Lines, std::vector<std::string>{"not an image gs_844_388_10.jpg"}) << decode;
    EXPECT_EQ(found.Summary.Count(TTileKind::Good), 1) << decode;
  }
}

// Many blocks over several threads come back in walk order; a stop or an
// error in the caller's hands ends the check with every thread joined.
TEST(Coverage, LargeTaskInOrderStopAndFailure) {
  TTempDir dir;
  const TTileGrid grid(Task(dir, 300, 399, 300, 399));  // 10,000 tiles
  ASSERT_EQ(grid.Count(), 10000);
  fs::create_directories(grid.TileFolder());
  const std::string image = "\xFF\xD8\xFF\xE0 tile";
  WriteAll(dir / "image", image);
  std::vector<std::string> missing;
  long long i = 0;
  grid.ForEach([&](int x, int y) {
    if (i++ % 7 == 0)
      fs::create_hard_link(dir / "image", grid.TilePath(x, y));
    else
      missing.push_back("missing " + grid.TileFileName(x, y));
  });
  for (const int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    const TFound found = Check(grid, {.Threads = threads});
    EXPECT_EQ(found.Lines, missing);
    EXPECT_EQ(found.Summary.Count(TTileKind::Good), 10000 - static_cast<long long>(missing.size()));
  }

  int asked = 0;
  const TFound stopped = Check(grid, {.Threads = 2, .OnProgress = [](const TCoverageSummary&) {}, .Stop = [&] { return ++asked > 0; }});
  EXPECT_TRUE(stopped.Summary.Stopped);
  EXPECT_LT(stopped.Summary.Checked(), 10000);
  EXPECT_EQ(static_cast<long long>(stopped.Lines.size()), stopped.Summary.Bad());

  TCoverageOptions failing{.Threads = 2};
  failing.OnBad = [](const TBadTile&) { throw std::runtime_error("disk full"); };
  EXPECT_THROW(CheckCoverage(grid, failing), std::runtime_error);

  // No tile folder: every tile is missing.
  fs::remove_all(grid.TileFolder());
  EXPECT_EQ(CheckCoverage(grid, {}).Count(TTileKind::Missing), 10000);
}

// Decoding is slow: the progress counts the tiles read before the first block
// of 4,096 is handed on, and a stop does not wait for the rest of that block.
TEST(Coverage, ProgressBeforeTheFirstBlockAndPromptStop) {
  TTempDir dir;
  const TTileGrid grid(Task(dir, 300, 399, 300, 399));  // 10,000 tiles
  fs::create_directories(grid.TileFolder());
  WriteAll(dir / "image", test::EncodeJpeg(256, 256));
  grid.ForEach([&](int x, int y) { fs::create_hard_link(dir / "image", grid.TilePath(x, y)); });
  using Clock = std::chrono::steady_clock;
  std::optional<TCoverageSummary> early;  // the first report with tiles read and none handed on
  Clock::time_point stopped;
  const TCoverageSummary summary = CheckCoverage(
      grid, {.Decode = true,
             .Threads = 1,
             .OnProgress =
                 [&](const TCoverageSummary& sofar) {
                   if (early || sofar.Read == 0 || sofar.Checked() > 0) return;
                   early = sofar;
                   stopped = Clock::now();
                 },
             .Stop = [&] { return early.has_value(); }});
  ASSERT_TRUE(early.has_value()) << "the first block was handed on before any report counted its tiles";
  EXPECT_TRUE(summary.Stopped);
  EXPECT_EQ(summary.Checked(), 0);
  // The rest of the block at the rate so far, against the time the stop took.
  const double rest = (4096.0 - static_cast<double>(early->Read)) * early->Seconds / static_cast<double>(early->Read);
  const double took = std::chrono::duration<double>(Clock::now() - stopped).count();
  EXPECT_LT(took, std::max(0.2, rest / 2)) << "the rest of the block would take " << rest << " s";
}

TEST(Coverage, SummaryAndStatusLines) {
  TCoverageSummary s;
  s.Tiles = 20;
  s.Counts = {14, 1, 1, 1, 1, 1, 1};
  s.Seconds = 0.5;
  s.Decoded = true;
  EXPECT_EQ(SummaryLine(s),
            "20 tiles: 14 good, 1 missing, 1 empty, 1 not an image, 1 placeholder, 1 not decodable, 1 not 256x256; "
            "40 tiles/s");
  s.Counts = {14, 1, 1, 1, 1, 0, 0};
  s.Decoded = false;
  s.Stopped = true;
  EXPECT_EQ(SummaryLine(s), "18 tiles of 20: 14 good, 1 missing, 1 empty, 1 not an image, 1 placeholder; 36 tiles/s");
  EXPECT_EQ(CheckStatusLine(1200, 20000, 3, 2.0), "1200/20000 tiles, 600 tiles/s, 3 bad, 0:00:31 left");
  EXPECT_EQ(CheckStatusLine(0, 20000, 0, 0), "0/20000 tiles, 0 tiles/s, 0 bad, --:-- left");
  EXPECT_EQ(TimeLeft(1, 3602, 1.0), "1:00:01");
  EXPECT_EQ(TimeLeft(30, 20, 1.0), "--:--");  // more done than counted: no guess
}

}  // namespace
}  // namespace meridane
