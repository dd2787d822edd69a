#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "tiles/Archive.h"
#include "combine/Archives.h"
#include "tiles/PmtilesReader.h"
#include "support/Images.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::TArchiveKind;
using test::TTempDir;

struct TKindCase {
  TArchiveKind Kind;
  const char* File;
};
constexpr TKindCase Kinds[] = {{TArchiveKind::Mbtiles, "out.mbtiles"}, {TArchiveKind::Pmtiles, "out.pmtiles"}};

// Every tile comes back from our own reader as it was given, tiles left out and
// tiles outside the set do not, and the tile set is recovered from the file.
TEST(Archives, TilesAndTileSetReadBack) {
  const std::string jpeg = test::EncodeJpeg(256, 256);
  const int far = (1 << 30) - 1;
  struct TCase {
    const char* Name;
    TTileSet Set;
    test::TTileRule Rule;
  } cases[] = {
      {"the one tile of zoom 0", test::SetOf(0, 0, 0, 0, 0), [&](int, int) { return jpeg; }},
      {"gaps and repeats", test::SetOf(12, 2040, 1360, 2046, 1364, "png"),
       [](int x, int y) -> std::optional<std::string> {
         if ((x + y) % 5 == 0) return std::nullopt;
         if (x % 3 == 0) return "same";
         return "tile " + std::to_string(x) + " " + std::to_string(y) + std::string(static_cast<std::size_t>(x % 7), '+');
       }},
      {"the south-east corner of zoom 30", test::SetOf(30, far - 2, far - 1, far, far),
       [](int x, int y) { return std::to_string(x) + "/" + std::to_string(y); }},
      {"every tile left out", test::SetOf(5, 3, 4, 6, 9), [](int, int) { return std::nullopt; }},
  };
  for (const TKindCase& kind : Kinds) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(kind.File) + ": " + c.Name);
      TTempDir dir;
      test::WriteSet(*test::WriterOf(kind.Kind, dir / kind.File, c.Set), c.Set, c.Rule);

      const auto archive = OpenTileArchive(dir / kind.File);
      const TTileSet& got = archive->TileSet();
      EXPECT_EQ(got.Zoom, c.Set.Zoom);
      EXPECT_EQ(std::tie(got.MinX, got.MinY, got.MaxX, got.MaxY), std::tie(c.Set.MinX, c.Set.MinY, c.Set.MaxX, c.Set.MaxY));
      EXPECT_EQ(std::tie(got.West, got.South, got.East, got.North), std::tie(c.Set.West, c.Set.South, c.Set.East, c.Set.North));
      EXPECT_DOUBLE_EQ(got.WestMetres, c.Set.WestMetres);
      EXPECT_DOUBLE_EQ(got.SouthMetres, c.Set.SouthMetres);
      EXPECT_EQ(std::tie(got.Format, got.Name, got.Description), std::tie(c.Set.Format, c.Set.Name, c.Set.Description));
      for (int y = c.Set.MinY - 1; y <= c.Set.MaxY + 1; ++y)
        for (int x = c.Set.MinX - 1; x <= c.Set.MaxX + 1; ++x) {
          const bool inside = x >= c.Set.MinX && x <= c.Set.MaxX && y >= c.Set.MinY && y <= c.Set.MaxY;
          EXPECT_EQ(archive->Get(c.Set.Zoom, x, y), inside ? c.Rule(x, y) : std::nullopt) << x << "," << y;
        }
      EXPECT_EQ(archive->Get(c.Set.Zoom + 1, c.Set.MinX, c.Set.MinY), std::nullopt);
    }
  }
}

// The format an archive states is the one most of its tiles have, whatever
// the map type said (every set here says "jpg"): SQLite reads the MBTiles
// metadata, the PMTiles header gives the tile type.
TEST(Archives, TheFormatIsTheOneMostTilesHave) {
  const std::string jpeg = test::EncodeJpeg(256, 256), png = test::EncodePng(256, 256), webp = test::EncodeWebp(256, 256);
  const std::string gif = "GIF89a\x01\0\x01\0";
  const struct {
    const char* Name;
    test::TTileRule Rule;  // over 2x2 tiles, row by row
    const char* Format;
    int TileType;
  } cases[] = {
      {"png tiles", [&](int, int) { return png; }, "png", 2},
      {"webp tiles, one left out", [&](int x, int y) { return x + y == 5 ? std::nullopt : std::optional(webp); }, "webp", 4},
      {"a jpeg first, then png", [&](int x, int y) { return x == 2 && y == 2 ? jpeg : png; }, "png", 2},
      {"as many of each: the first written", [&](int x, int) { return x == 2 ? webp : jpeg; }, "webp", 4},
      {"no image: the set's", [](int x, int y) { return std::to_string(x * y); }, "jpg", 3},
      {"gif, which has no tile type", [&](int, int) { return gif; }, "gif", 0},
  };
  for (const TKindCase& kind : Kinds) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(kind.File) + ": " + c.Name);
      TTempDir dir;
      const fs::path path = dir / kind.File;
      const TTileSet set = test::SetOf(2, 2, 2, 3, 3, "jpg");
      test::WriteSet(*test::WriterOf(kind.Kind, path, set), set, c.Rule);
      EXPECT_EQ(OpenTileArchive(path)->TileSet().Format, c.Format);
      if (kind.Kind == TArchiveKind::Pmtiles) {
        EXPECT_EQ(TPmtilesReader(path).Header().TileType, c.TileType);
        continue;
      }
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
      sqlite3_stmt* query = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT value FROM metadata WHERE name = 'format'", -1, &query, nullptr), SQLITE_OK);
      std::vector<std::string> formats;
      while (sqlite3_step(query) == SQLITE_ROW) formats.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
      sqlite3_finalize(query);
      sqlite3_close(db);
      EXPECT_EQ(formats, std::vector<std::string>{c.Format});
    }
  }
}

// A write that fails says which file and why, in words for the user.
TEST(Archives, FailedWritesThrowMessages) {
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of the test
  const std::string tile = test::EncodeJpeg(256, 256);
  const TTileSet set = test::SetOf(8, 10, 10, 29, 29);
  for (const TKindCase& kind : Kinds) {
    for (const bool folderMissing : {true, false}) {
      SCOPED_TRACE(std::string(kind.File) + (folderMissing ? ": no folder" : ": file size limit"));
      TTempDir dir;
      const fs::path path = folderMissing ? dir / "missing" / kind.File : dir / kind.File;
      std::unique_ptr<ITileSink> writer;
      {
        const test::TResourceLimitGuard fileSize(RLIMIT_FSIZE);
        if (!folderMissing) {
          ASSERT_TRUE(fileSize.SetSoft(200'000));
        }
        try {
          writer = test::WriterOf(kind.Kind, path, set);
          test::WriteSet(*writer, set, [&](int x, int y) { return tile + std::to_string(x) + std::to_string(y); });
          ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
          EXPECT_TRUE(std::string(e.what()).starts_with("Cannot create file " + path.string() + ": ")) << e.what();
        }
      }
      // A second attempt, with room again, does not pass a damaged file off as complete.
      if (writer) {
        EXPECT_THROW(writer->Finish(), std::runtime_error);
      }
    }
  }
  std::signal(SIGXFSZ, previous);
}

// Files that are no archive, or damaged ones, are refused with a message.
TEST(Archives, OpenRefusesOtherFiles) {
  TTempDir dir;
  const TTileSet set = test::SetOf(3, 0, 0, 7, 7);
  test::WriteSet(*test::WriterOf(TArchiveKind::Pmtiles, dir / "good.pmtiles", set), set,
                 [](int x, int y) { return std::string(static_cast<std::size_t>(x * 8 + y + 1), 'a'); });
  const std::string good = test::ReadAll(dir / "good.pmtiles");
  std::string version2 = good;
  version2[7] = 2;
  std::string gzipGone = good;
  gzipGone[97] = 4;  // directories compressed some other way
  const struct {
    const char* Name;
    std::optional<std::string> Bytes;
  } cases[] = {
      {"missing", std::nullopt},
      {"text", "name,format\n"},
      {"header cut", good.substr(0, 100)},
      {"root cut", good.substr(0, 140)},
      {"version 2", version2},
      {"other compression", gzipGone},
      {"an empty database", std::string("SQLite format 3\0", 16) + std::string(84, '\0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path path = dir / "test.file";
    fs::remove(path);
    if (c.Bytes) test::WriteAll(path, *c.Bytes);
    try {
      OpenTileArchive(path);
      ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with("Cannot open file " + path.string())) << e.what();
    }
  }
}

}  // namespace
}  // namespace meridane
