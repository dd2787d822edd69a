#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "combine/ArchiveWrite.h"
#include "combine/ReadBack.h"
#include "combine/RecordingSink.h"
#include "support/Images.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "tiles/Archive.h"
#include "tiles/Pmtiles.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;

const std::string Placeholder = "\xFF\xD8\xFF placeholder";
// A sound tile told apart by what follows its end, which a decoder does not read.
std::string Jpeg(const std::string& what) {
  static const std::string jpeg = EncodeJpeg(256, 256);
  return jpeg + what;
}

// A program folder with its placeholder, and a tile folder beside it.
struct TTiles {
  TTiles() {
    fs::create_directories(Program / "blankimg");
    fs::create_directories(Folder);
    WriteAll(Program / "blankimg" / "blank.jpg", Placeholder);
  }
  void Put(const std::string& name, const std::string& bytes) const { WriteAll(Folder / name, bytes); }
  // The names in a folder, what the run left there.
  static std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TTempDir Dir;
  fs::path Program = Dir / "program";
  fs::path Folder = Dir / "tiles";
};

TEST(FeedTilesTest, EveryTileOfTheRectangleRowByRowFromTheNorthWithTheBadOnesLeftOut) {
  const std::string Html = "<html>Service unavailable</html>";
  // Files at zoom 3 and the Add calls they give. "ms" rows count from the
  // south: its file row 5 is row 2 from the north.
  const struct {
    const char* Name;
    std::map<std::string, std::string> Files;
    std::vector<TAdded> Expected;
    bool Pixels = false;
    long long NotDecodable = 0, OtherSize = 0;
  } cases[] = {
      {"rows from the north",
       {{"gs_2_4_3.jpg", Jpeg("a")},
        {"gs_4_4_3.jpg", Placeholder},
        {"gs_3_5_3.jpg", ""},
        {"gs_4_5_3.jpg", Html},
        {"gs_2_5_3.jpg", Jpeg("d")},
        {"gs_9_9_4.jpg", Jpeg("other zoom")},
        {"gm_2_3_4.png", "\x89PNG\r\n\x1A\n other type, other zoom"}},
       {{2, 4, Jpeg("a")},
        {3, 4, std::nullopt},
        {4, 4, std::nullopt},
        {2, 5, Jpeg("d")},
        {3, 5, std::nullopt},
        {4, 5, std::nullopt}}},
      {"rows from the south",
       {{"ms_1_5_3.jpg", Jpeg("north")}, {"ms_1_4_3.jpg", Jpeg("south")}, {"ms_2_4_3.jpg", Placeholder}},
       {{1, 2, Jpeg("north")}, {2, 2, std::nullopt}, {1, 3, Jpeg("south")}, {2, 3, std::nullopt}}},
      // An archive stores bytes as they are: what would not show is left out first.
      {"decoded first",
       {{"gs_1_1_3.jpg", Jpeg("a")},
        {"gs_2_1_3.jpg", UndecodableTiles()[0].Bytes},
        {"gs_3_1_3.jpg", UndecodableTiles()[2].Bytes},
        {"gs_4_1_3.jpg", UndecodableTiles()[3].Bytes},
        {"gs_5_1_3.jpg", EncodeJpeg(256, 128)},
        {"gs_6_1_3.jpg", "GIF89a\x01\0\x01\0"},
        {"gs_7_1_3.jpg", Placeholder}},
       {{1, 1, Jpeg("a")},
        {2, 1, std::nullopt},
        {3, 1, std::nullopt},
        {4, 1, std::nullopt},
        {5, 1, std::nullopt},
        {6, 1, "GIF89a\x01\0\x01\0"},
        {7, 1, std::nullopt}},
       false,
       3,
       1},
      // A picture cannot show a GIF; a WebP it can.
      {"decoded for pixels",
       {{"gs_1_1_3.jpg", Jpeg("a")},
        {"gs_2_1_3.jpg", "GIF89a\x01\0\x01\0"},
        {"gs_3_1_3.jpg", Placeholder},
        {"gs_4_1_3.jpg", EncodeWebp(256, 256)}},
       {{1, 1, Jpeg("a")}, {2, 1, std::nullopt}, {3, 1, std::nullopt}, {4, 1, EncodeWebp(256, 256)}},
       true,
       1,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTiles tiles;
    for (const auto& [name, bytes] : c.Files) tiles.Put(name, bytes);
    TSinkLog log;
    const TTileSource source = FolderSource(tiles.Folder, 3);
    auto sink = RecordingSinks(log)(TOutputFormat::MBTiles, tiles.Dir / "out.mbtiles", source.Set, {});
    const TFeedResult result = FeedTiles(source, *sink, {.ProgramFolder = tiles.Program, .Pixels = c.Pixels});
    EXPECT_EQ(log.Added, c.Expected);
    EXPECT_EQ(result.Count(TTileKind::NotDecodable), c.NotDecodable);
    EXPECT_EQ(result.Count(TTileKind::OtherSize), c.OtherSize);
    long long good = 0;
    for (const TAdded& added : c.Expected) good += added.Bytes.has_value();
    EXPECT_EQ(result.Count(TTileKind::Good), good);
    EXPECT_EQ(result.Fed(), static_cast<long long>(c.Expected.size()));
    EXPECT_EQ(result.Count(TTileKind::Placeholder), 1);
    EXPECT_FALSE(result.Stopped);
  }
}

// A link under a tile's name is not followed out of the folder, whatever it
// points at: the re-download refuses it too, so it is a bad tile, not packed.
TEST(FeedTilesTest, ALinkedTileIsNotAnImageAndNotPacked) {
  TTiles tiles;
  const std::string good = EncodeJpeg(256, 256);
  tiles.Put("gs_0_0_2.jpg", good);
  WriteAll(tiles.Dir / "elsewhere.jpg", good);
  fs::create_symlink(tiles.Dir / "elsewhere.jpg", tiles.Folder / "gs_1_0_2.jpg");
  fs::create_symlink("/dev/zero", tiles.Folder / "gs_2_0_2.jpg");
  TSinkLog log;
  const TTileSource source = FolderSource(tiles.Folder, 2);
  auto sink = RecordingSinks(log)(TOutputFormat::MBTiles, tiles.Dir / "out.mbtiles", source.Set, {});
  const TFeedResult result = FeedTiles(source, *sink, {.ProgramFolder = tiles.Program});
  EXPECT_EQ(log.Added, (std::vector<TAdded>{{0, 0, good}, {1, 0, std::nullopt}, {2, 0, std::nullopt}}));
  EXPECT_EQ(result.Count(TTileKind::Good), 1);
  EXPECT_EQ(result.Count(TTileKind::NotImage), 2);
}

// Looking ahead tells the sink, before any tile, of a tile surely left out by
// its file's entry alone; a placeholder needs reading, so it goes untold.
TEST(FeedTilesTest, LookingAheadTellsOfATileLeftOutBeforeTheFirst) {
  const struct {
    const char* Name;
    std::function<void(const TTiles&)> Last;  // the tile at 2,1; the others are sound
    bool Told;
  } cases[] = {
      {"every tile there", [](const TTiles& t) { t.Put("gs_2_1_2.jpg", Jpeg("c")); }, false},
      {"a file missing", [](const TTiles&) {}, true},
      {"an empty file", [](const TTiles& t) { t.Put("gs_2_1_2.jpg", ""); }, true},
      {"a link", [](const TTiles& t) { fs::create_symlink(t.Folder / "gs_0_0_2.jpg", t.Folder / "gs_2_1_2.jpg"); },
       true},
      {"a folder", [](const TTiles& t) { fs::create_directory(t.Folder / "gs_2_1_2.jpg"); }, true},
      {"the placeholder", [](const TTiles& t) { t.Put("gs_2_1_2.jpg", Placeholder); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTiles tiles;
    for (int x = 0; x < 3; ++x) tiles.Put("gs_" + std::to_string(x) + "_0_2.jpg", Jpeg("a"));
    for (int x = 0; x < 2; ++x) tiles.Put("gs_" + std::to_string(x) + "_1_2.jpg", Jpeg("b"));
    c.Last(tiles);
    TTileSource source = FolderSource(tiles.Folder, 2);
    source.Set.MinX = 0, source.Set.MaxX = 2, source.Set.MinY = 0, source.Set.MaxY = 1;
    for (const bool lookAhead : {false, true}) {
      TSinkLog log;
      auto sink = RecordingSinks(log)(TOutputFormat::Png, tiles.Dir / "out.png", source.Set, {});
      FeedTiles(source, *sink, {.ProgramFolder = tiles.Program, .Pixels = true, .LookAhead = lookAhead});
      EXPECT_EQ(log.LeftOutAheadAt, lookAhead && c.Told ? 0 : -1) << lookAhead;
      EXPECT_EQ(log.Added.size(), 6u);
    }
  }
}

// In rows, or in tile id order for a sink that asks for it: every tile once.
TEST(FeedTilesTest, ReadingAheadKeepsEveryTileWithItsBytes) {
  // More tiles than the reader holds at once, of sizes that vary.
  TTiles tiles;
  for (int x = 0; x < 40; ++x)
    for (int y = 0; y < 30; ++y)
      if ((x + y) % 7 != 0) tiles.Put("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_6.jpg",
                                      Jpeg(std::string(static_cast<std::size_t>(x * y), 'x') + std::to_string(x)));
  for (const bool tileIds : {false, true}) {
    SCOPED_TRACE(tileIds ? "in tile id order" : "in rows");
    TSinkLog log;
    log.TileIdOrder = tileIds;
    const TTileSource source = FolderSource(tiles.Folder, 6);
    auto sink = RecordingSinks(log)(TOutputFormat::PMTiles, tiles.Dir / "out.pmtiles", source.Set, {});
    FeedTiles(source, *sink, {.ProgramFolder = tiles.Program});
    ASSERT_EQ(log.Added.size(), 40U * 30U);
    std::set<std::pair<int, int>> seen;
    for (std::size_t i = 0; i < log.Added.size(); ++i) {
      const TAdded& added = log.Added[i];
      ASSERT_TRUE(seen.insert({added.X, added.Y}).second) << added.X << "," << added.Y;
      ASSERT_TRUE(added.X >= 0 && added.X < 40 && added.Y >= 0 && added.Y < 30) << added.X << "," << added.Y;
      if (!tileIds) {
        ASSERT_EQ(added.X, static_cast<int>(i % 40));
        ASSERT_EQ(added.Y, static_cast<int>(i / 40));
      } else if (i > 0) {
        const TAdded& before = log.Added[i - 1];
        ASSERT_LT(PmtilesTileId(6, static_cast<std::uint32_t>(before.X), static_cast<std::uint32_t>(before.Y)),
                  PmtilesTileId(6, static_cast<std::uint32_t>(added.X), static_cast<std::uint32_t>(added.Y)));
      }
      const auto expected = (added.X + added.Y) % 7 == 0
                                ? std::nullopt
                                : std::optional(Jpeg(std::string(static_cast<std::size_t>(added.X * added.Y), 'x') +
                                                     std::to_string(added.X)));
      ASSERT_EQ(added.Bytes, expected) << added.X << "," << added.Y;
    }
  }
}

// The format the outputs that encode their own tiles go by: the first tile's
// bytes, whatever the files' extension says, past tiles that are no image.
TEST(FeedTilesTest, TheFirstTilesFormatFromItsBytes) {
  const struct {
    const char* Name;
    std::map<std::string, std::string> Files;  // at zoom 3, the rectangle of columns 1..6, row 1
    long long MaxTiles;
    const char* Format;
  } cases[] = {
      {"png under a jpg name", {{"gs_1_1_3.jpg", EncodePng(256, 256)}, {"gs_2_1_3.jpg", Jpeg("b")}}, 10, "png"},
      {"past a placeholder, an error page and a gap",
       {{"gs_1_1_3.jpg", Placeholder}, {"gs_2_1_3.jpg", "<html>busy</html>"}, {"gs_4_1_3.jpg", EncodeWebp(256, 256)},
        {"gs_6_1_3.jpg", Jpeg("f")}},
       10,
       "webp"},
      {"none among the first looked at: the extension",
       {{"gs_1_1_3.jpg", Placeholder}, {"gs_6_1_3.jpg", EncodePng(256, 256)}},
       5,
       "jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTiles tiles;
    for (const auto& [name, bytes] : c.Files) tiles.Put(name, bytes);
    EXPECT_EQ(FirstTileFormat(FolderSource(tiles.Folder, 3), {.ProgramFolder = tiles.Program}, c.MaxTiles), c.Format);
  }
}

TEST(FolderSourceTest, AFolderWithoutOneMapTypeAtTheZoomIsRefused) {
  const struct {
    std::optional<int> Zoom;  // none: the zoom of most tiles
    std::vector<std::string> Names;
    const char* Message;
  } cases[] = {
      {3, {}, "No tiles of zoom 3 in "},
      {3, {"gs_1_1_4.jpg", "notes.txt", "gs_8_1_3.jpg"}, "No tiles of zoom 3 in "},  // column 8 is off the grid
      {3, {"gs_1_1_3.jpg", "gm_1_1_3.png"}, "holds tiles of more than one map type at zoom 3: gm, gs"},
      {std::nullopt, {"notes.txt"}, "No tiles in folder "},
      {std::nullopt, {"gs_1_1_3.jpg", "gm_1_1_3.png", "gs_1_1_4.jpg"}, "more than one map type at zoom 3: gm, gs"},
  };
  for (const auto& c : cases) {
    TTiles tiles;
    for (const std::string& name : c.Names) tiles.Put(name, Jpeg(name));
    try {
      FolderSource(tiles.Folder, c.Zoom);
      ADD_FAILURE() << c.Message;
    } catch (const ECombineInputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
    }
  }
}

TEST(FolderSourceTest, WithoutAZoomTheOneOfMostTilesOnTheGrid) {
  const struct {
    std::vector<std::string> Names;
    int Zoom;
    std::array<int, 4> Tiles;  // MinX, MinY, MaxX, MaxY
  } cases[] = {
      {{"gs_1_1_4.jpg", "gs_3_2_4.jpg", "gs_1_1_3.jpg", "gs_9_1_3.jpg", "gs_9_2_3.jpg"}, 4, {1, 1, 3, 2}},
      {{"gs_5_6_5.jpg", "gs_1_1_2.jpg"}, 2, {1, 1, 1, 1}},  // a tie: the lower zoom
  };
  for (const auto& c : cases) {
    TTiles tiles;
    for (const std::string& name : c.Names) tiles.Put(name, Jpeg(name));
    const TTileSource source = FolderSource(tiles.Folder, std::nullopt);
    EXPECT_EQ(source.Set.Zoom, c.Zoom);
    EXPECT_EQ((std::array{source.Set.MinX, source.Set.MinY, source.Set.MaxX, source.Set.MaxY}), c.Tiles);
  }
}

TEST(CombineTest, TheOutputAppearsWhenCompleteAndNothingOtherwise) {
  enum class TEnd { Done, Stopped, SinkFails };
  const struct {
    const char* Output;
    TEnd End;
    std::vector<std::string> Left;  // in the output's folder, besides "tiles"
  } cases[] = {
      {"map.mbtiles", TEnd::Done, {"map.mbtiles"}},
      {"map.png", TEnd::Done, {"map.pgw", "map.png", "map.png.aux.xml"}},
      {"map.mbtiles", TEnd::Stopped, {}},
      {"map.jpg", TEnd::Stopped, {}},
      {"map.pmtiles", TEnd::SinkFails, {}},
      {"map.png", TEnd::SinkFails, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Output) + " " + std::to_string(static_cast<int>(c.End)));
    TTiles tiles;
    for (int x = 0; x < 4; ++x) tiles.Put("gs_" + std::to_string(x) + "_0_2.jpg", Jpeg(std::to_string(x)));
    const fs::path out = tiles.Folder.parent_path() / "out";
    fs::create_directories(out);
    // What a killed run left is removed.
    WriteAll(PartialName(out / c.Output, "1-0"), "left by a kill");
    TSinkLog log;
    bool stop = false;
    log.BeforeAdd = [&](int added) {
      if (added < 2) return;
      if (c.End == TEnd::Stopped) stop = true;
      if (c.End == TEnd::SinkFails) throw std::runtime_error("Unable to write the output");
    };
    const TCombineRun run{.Output = out / c.Output,
                          .Options = {},
                          .ProgramFolder = tiles.Program,
                          .OnProgress = {},
                          .Stop = [&] { return stop; },
                          .MakeSink = RecordingSinks(log)};
    const TTileSource source = FolderSource(tiles.Folder, 2);
    try {
      const TCombineSummary summary = Combine(source, run);
      EXPECT_NE(c.End, TEnd::SinkFails);
      EXPECT_EQ(summary.Stopped, c.End == TEnd::Stopped);
      EXPECT_EQ(log.Finished, c.End == TEnd::Done);
      if (c.End == TEnd::Done) {
        EXPECT_EQ(summary.Written(), 4);
        const std::string all = Jpeg("0") + Jpeg("1") + Jpeg("2") + Jpeg("3");
        EXPECT_EQ(ReadAll(out / c.Output), all);
        EXPECT_EQ(summary.OutputBytes, all.size());  // the picture's own, not its world file's
      }
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(c.End, TEnd::SinkFails) << e.what();
    }
    EXPECT_EQ(TTiles::Names(out), c.Left);
  }
}

TEST(CombineTest, AnArchiveStoresTheUsersNameAndDescription) {
  const struct {
    const char* Output;
    TCombineOptions Options;
    const char* Name;
  } cases[] = {
      {"map.mbtiles", {.Quality = 85, .Name = "Lake", .Description = "tiles of\na lake", .MinZoom = {}}, "Lake"},
      {"map.pmtiles", {.Quality = 85, .Name = "Lake", .Description = "tiles of\na lake", .MinZoom = {}}, "Lake"},
      {"unnamed.mbtiles", {.Quality = 85, .Name = {}, .Description = "tiles of\na lake", .MinZoom = {}}, "tiles"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Output);
    TTiles tiles;
    tiles.Put("gs_1_1_2.jpg", Jpeg("a"));
    const TCombineRun run{.Output = tiles.Dir / c.Output, .Options = c.Options, .ProgramFolder = tiles.Program};
    Combine(FolderSource(tiles.Folder, 2), run);
    const TTileSet stored = OpenTileArchive(run.Output)->TileSet();
    EXPECT_EQ(stored.Name, c.Name);
    EXPECT_EQ(stored.Description, c.Options.Description);
  }
}

TEST(CombineTest, AFullDiskLeavesNoOutput) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TTiles tiles;
  const fs::path disk = tiles.Dir / "disk";
  fs::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  for (int x = 0; x < 40; ++x) tiles.Put("gs_" + std::to_string(x) + "_0_6.jpg", Jpeg(std::string(8000, 'x')));
  TSinkLog log;
  const TCombineRun run{.Output = disk / "map.mbtiles",
                        .Options = {},
                        .ProgramFolder = tiles.Program,
                        .OnProgress = {},
                        .Stop = {},
                        .MakeSink = RecordingSinks(log)};
  EXPECT_THROW(Combine(FolderSource(tiles.Folder, 6), run), std::runtime_error);
  EXPECT_EQ(TTiles::Names(disk), std::vector<std::string>{});
  EXPECT_FALSE(log.Added.empty());
  ::umount(disk.c_str());
}

// The user starting the combiner twice on one output: each run writes files
// of its own, neither removes the other's, and the one that finishes last
// leaves its whole output.
TEST(CombineTest, TwoRunsWritingOneOutputKeepToTheirOwnFiles) {
  for (const char* output : {"map.mbtiles", "map.png"}) {
    SCOPED_TRACE(output);
    TTiles first, second;
    for (int x = 0; x < 4; ++x) {
      first.Put("gs_" + std::to_string(x) + "_0_2.jpg", Jpeg("a" + std::to_string(x)));
      second.Put("gs_" + std::to_string(x) + "_0_2.jpg", Jpeg("b" + std::to_string(x)));
    }
    const fs::path out = first.Dir / "out";
    fs::create_directories(out);
    const auto hidden = [&] {
      std::vector<std::string> names = TTiles::Names(out);
      std::erase_if(names, [](const std::string& name) { return !name.starts_with("."); });
      return names;
    };
    // The first run waits after two tiles until the second has finished.
    std::mutex mutex;
    std::condition_variable changed;
    bool paused = false, resume = false;
    TSinkLog firstLog, secondLog;
    firstLog.BeforeAdd = [&](int added) {
      if (added != 2) return;
      std::unique_lock lock(mutex);
      paused = true;
      changed.notify_all();
      changed.wait(lock, [&] { return resume; });
    };
    const auto runOf = [&](const TTiles& tiles, TSinkLog& log) {
      return TCombineRun{.Output = out / output,
                         .Options = {},
                         .ProgramFolder = tiles.Program,
                         .OnProgress = {},
                         .Stop = {},
                         .MakeSink = RecordingSinks(log)};
    };
    TCombineSummary firstSummary;
    std::string firstError;
    std::thread firstRun([&] {
      try {
        firstSummary = Combine(FolderSource(first.Folder, 2), runOf(first, firstLog));
      } catch (const std::exception& e) {
        firstError = e.what();
      }
      const std::lock_guard lock(mutex);
      paused = true;  // also when it ended before the pause
      changed.notify_all();
    });
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return paused; });
    }
    const std::vector<std::string> firstPartials = hidden();
    EXPECT_FALSE(firstPartials.empty());
    const TCombineSummary secondSummary = Combine(FolderSource(second.Folder, 2), runOf(second, secondLog));
    EXPECT_EQ(hidden(), firstPartials);
    EXPECT_EQ(ReadAll(out / output), Jpeg("b0") + Jpeg("b1") + Jpeg("b2") + Jpeg("b3"));
    {
      const std::lock_guard lock(mutex);
      resume = true;
      changed.notify_all();
    }
    firstRun.join();
    EXPECT_EQ(firstError, "");
    const std::string firstAll = Jpeg("a0") + Jpeg("a1") + Jpeg("a2") + Jpeg("a3");
    EXPECT_EQ(ReadAll(out / output), firstAll);
    EXPECT_EQ(firstSummary.OutputBytes, firstAll.size());
    EXPECT_EQ(secondSummary.OutputBytes, (Jpeg("b0") + Jpeg("b1") + Jpeg("b2") + Jpeg("b3")).size());
    EXPECT_EQ(hidden(), std::vector<std::string>{});
  }
}

// A write that fails (here past a file size limit; a full disk alike) names
// the output the user chose and the reason, in every format, and leaves nothing.
TEST(CombineTest, AFailedWriteNamesTheOutputAndTheReason) {
  TTiles tiles;
  for (int x = 0; x < 2; ++x)
    for (int y = 0; y < 2; ++y)
      tiles.Put("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_2.jpg", SourceTile(x, y, "jpg"));
  const fs::path out = tiles.Dir / "out";
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  for (const char* name : {"map.mbtiles", "map.pmtiles", "map.tif", "map.png", "map.jpg", "map.sqlitedb", "map.kmz"}) {
    fs::create_directories(out);
    std::string error = "no error";
    {
      const TResourceLimitGuard fileSize(RLIMIT_FSIZE);
      ASSERT_TRUE(fileSize.SetSoft(4096));
      try {
        Combine(FolderSource(tiles.Folder, 2), {.Output = out / name, .Options = {}, .ProgramFolder = tiles.Program});
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
    }
    EXPECT_EQ(error, "Cannot create file " + (out / name).string() + ": File too large");
    EXPECT_EQ(TTiles::Names(out), std::vector<std::string>{}) << name;
    fs::remove_all(out);
  }
  std::signal(SIGXFSZ, previous);
}

TEST(OutputFormatTest, TheNameGivesTheFormatAndTheFilesBesideIt) {
  const struct {
    const char* Name;
    std::optional<TOutputFormat> Format;
    std::vector<std::string> Files;
  } cases[] = {
      {"a/map.MBTiles", TOutputFormat::MBTiles, {"a/map.MBTiles"}},
      {"map.pmtiles", TOutputFormat::PMTiles, {"map.pmtiles"}},
      {"map.tiff", TOutputFormat::GeoTiff, {"map.tiff"}},
      {"map.v2.jpeg", TOutputFormat::Jpeg, {"map.v2.jpeg", "map.v2.jgw", "map.v2.jpeg.aux.xml"}},
      {"map.png", TOutputFormat::Png, {"map.png", "map.pgw", "map.png.aux.xml"}},
      {"map.sqlitedb", TOutputFormat::Sqlitedb, {"map.sqlitedb"}},
      {"b/map.KMZ", TOutputFormat::Kmz, {"b/map.KMZ"}},
      {"map.mrd", std::nullopt, {}},
      {"mbtiles", std::nullopt, {}},
      {"maps/web/", TOutputFormat::Folder, {"maps/web/"}},
      {"/", TOutputFormat::Folder, {"/"}},  // an existing folder, whatever its name
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OutputFormatOf(c.Name), c.Format) << c.Name;
    if (!c.Format) continue;
    std::vector<std::string> files;
    for (const fs::path& file : OutputFiles(*c.Format, c.Name)) files.push_back(file.string());
    EXPECT_EQ(files, c.Files);
  }
}

}  // namespace
}  // namespace meridane::test
