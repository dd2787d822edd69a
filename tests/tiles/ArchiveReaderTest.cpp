#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Memory.h"
#include "support/TempDir.h"
#include "tiles/Archive.h"
#include "tiles/HostileArchives.h"
#include "tiles/Projection.h"
#include "tiles/TileReader.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

// Opening the archive and reading the tiles either works or ends in a message
// that names the file.
void OpenAndRead(const fs::path& path, const std::vector<TTileKey>& tiles) {
  try {
    const auto archive = OpenTileArchive(path);
    for (const TTileKey& t : tiles) archive->Get(t.Zoom, t.X, t.Y);
  } catch (const std::runtime_error& e) {
    if (!std::string(e.what()).starts_with("Cannot open file " + path.string())) throw;
  }
}

// The child's peak resident memory in MB over what this process holds, or -1
// when the child did not end well (a crash, or an error of the wrong kind).
long long PeakOfOpening(const fs::path& path, const std::vector<TTileKey>& tiles) {
  const long long before = test::StatusKb("VmRSS");
  const pid_t child = ::fork();
  if (child == 0) {
    // The child's own limit: a reader gone wrong fails here, not the machine.
    const rlimit limit{rlim_t{2} << 30, rlim_t{2} << 30};
    ::setrlimit(RLIMIT_AS, &limit);
    try {
      OpenAndRead(path, tiles);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::max(0LL, (usage.ru_maxrss - before) / 1024);
}

// Tile ids to tiles: the first tile of zoom found at or after each id.
std::vector<TTileKey> TilesAt(int zoom, const std::vector<std::uint64_t>& ids) {
  std::vector<std::pair<std::uint64_t, TTileKey>> all;
  for (int y = 0; y < (1 << zoom); y += 8)
    for (int x = 0; x < (1 << zoom); x += 8)
      all.push_back({PmtilesTileId(zoom, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)), {zoom, x, y}});
  std::sort(all.begin(), all.end());
  std::vector<TTileKey> tiles;
  for (const std::uint64_t id : ids) {
    const auto found = std::lower_bound(all.begin(), all.end(), std::pair(id, TTileKey{}));
    if (found != all.end()) tiles.push_back(found->second);
  }
  return tiles;
}

// Small files that say they hold much: the reader takes a bounded amount of
// memory and either reads them or refuses them by name.
TEST(ArchiveReader, SmallFilesThatClaimMuchTakeLittleMemory) {
  if (!test::MemoryBounded) GTEST_SKIP() << "a sanitizer's memory is no measure";
  TTempDir dir;
  // A root of 8 million one-byte tiles: a few kilobytes gzip'd, 200 MB decoded.
  test::TPmtilesParts hugeRoot;
  hugeRoot.Root = Gzip(test::DirectoryOfTiles(0, 8'000'000));
  hugeRoot.Data = "x";
  // 16 leaves of a million tiles each (each allowed), read one after another.
  test::TPmtilesParts leaves;
  leaves.MaxZoom = 12;
  std::vector<TPmtilesEntry> top;
  std::vector<std::uint64_t> firstIds;
  const std::uint64_t zoom12 = PmtilesTileId(12, 0, 0);
  for (std::uint64_t i = 0; i < 16; ++i) {
    const std::uint64_t first = zoom12 + i * 1'000'000;
    const std::string leaf = Gzip(test::DirectoryOfTiles(first, 1'000'000));
    top.push_back({first, leaves.Leaves.size(), static_cast<std::uint32_t>(leaf.size()), 0});
    leaves.Leaves += leaf;
    firstIds.push_back(first);
  }
  leaves.Root = Gzip(EncodePmtilesDirectory(top));
  leaves.Data = "x";
  // A file of a few hundred bytes whose root would be 200 MB long.
  test::TPmtilesParts longRoot;
  longRoot.Root = Gzip(test::DirectoryOfTiles(0, 1));
  longRoot.RootLength = 200'000'000;
  const struct {
    const char* Name;
    std::string Bytes;
    std::vector<TTileKey> Tiles;
  } cases[] = {
      {"a root that inflates to 200 MB", test::PmtilesFile(hugeRoot), {{0, 0, 0}, {2, 1, 1}}},
      {"16 leaves of 24 MB each", test::PmtilesFile(leaves), TilesAt(12, firstIds)},
      {"a root longer than the file", test::PmtilesFile(longRoot), {{0, 0, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path path = dir / "hostile.pmtiles";
    test::WriteAll(path, c.Bytes);
    const long long peak = PeakOfOpening(path, c.Tiles);
    EXPECT_GE(peak, 0) << "the child crashed or threw another error";
    EXPECT_LT(peak, 120);
  }
}

// Damaged content is refused with a message naming the file, not a crash: deep
// metadata, numbers out of range, a tile longer than a tile may be.
TEST(ArchiveReader, DamagedArchivesAreRefusedByName) {
  TTempDir dir;
  test::TPmtilesParts outside;
  outside.Root = Gzip(test::DirectoryOfTiles(0, 1));
  outside.Data = "x";
  outside.West = 100, outside.East = 200, outside.South = 100, outside.North = 200;
  test::TPmtilesParts deepZoom = outside;
  deepZoom.West = -10, deepZoom.East = 10, deepZoom.South = -10, deepZoom.North = 10;
  deepZoom.MaxZoom = 40;
  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
  const std::vector<std::pair<std::string, std::string>> noMetadata;
  const struct {
    const char* Name;
    std::string Pmtiles;  // or an MBTiles of these:
    std::vector<std::pair<std::string, std::string>> Metadata;
    std::vector<test::TMbtilesTile> Tiles;
    std::string Refused;  // the reason, after the file's name
  } cases[] = {
      {"metadata nested 100,000 deep", test::PmtilesWithMetadata("{\"a\":" + deep + "}"), {}, {}, "metadata is damaged"},
      {"PMTiles bounds beyond the world", test::PmtilesFile(outside), {}, {}, "outside the world"},
      {"PMTiles zoom 40", test::PmtilesFile(deepZoom), {}, {}, "zooms 0 to 40"},
      {"MBTiles tiles of zoom 40", "", noMetadata, {{40, 0, 0, "x'ff'"}}, "zoom level 40"},
      {"MBTiles tiles of zoom -1", "", noMetadata, {{-1, 0, 0, "x'ff'"}}, "zoom level -1"},
      {"MBTiles maxzoom 40", "", {{"maxzoom", "40"}}, {{2, 0, 0, "x'ff'"}}, "zoom \"40\""},
      {"MBTiles bounds beyond the world", "", {{"bounds", "100,100,200,200"}}, {}, "outside the world"},
      {"MBTiles tile beyond the grid", "", noMetadata, {{2, 9, 0, "x'ff'"}}, "outside the zoom's grid"},
      {"MBTiles tile longer than a tile", "", {{"maxzoom", "0"}, {"bounds", "-180,-85,180,85"}},
       {{0, 0, 0, "zeroblob(" + std::to_string(DefaultMaxTileBytes + 1) + ")"}}, "tile 0/0/0 is longer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path path = dir / (c.Pmtiles.empty() ? "t.mbtiles" : "t.pmtiles");
    fs::remove(path);
    if (c.Pmtiles.empty())
      ASSERT_TRUE(test::WriteMbtiles(path, c.Metadata, c.Tiles));
    else
      test::WriteAll(path, c.Pmtiles);
    try {
      const auto archive = OpenTileArchive(path);
      archive->Get(0, 0, 0);
      ADD_FAILURE() << "read";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_TRUE(message.starts_with("Cannot open file " + path.string() + ": ")) << message;
      EXPECT_NE(message.find(c.Refused), std::string::npos) << message;
    }
  }
}

// A WAL-mode MBTiles is read as it is: nothing is made beside it, nothing in it changes.
TEST(ArchiveReader, AWalModeMbtilesIsLeftAsItWas) {
  TTempDir dir;
  const fs::path path = dir / "wal mode #1.mbtiles";
  ASSERT_TRUE(test::WriteMbtiles(path, {{"maxzoom", "1"}, {"bounds", "-180,-85,180,85"}}, {{1, 0, 1, "x'ffd8ff'"}}, true));
  ASSERT_EQ(test::EntryCount(dir.Path()), 1);
  const std::string bytes = test::ReadAll(path);
  {
    const auto archive = OpenTileArchive(path);
    EXPECT_EQ(archive->Get(1, 0, 0), std::string("\xff\xd8\xff"));
    EXPECT_EQ(archive->Get(1, 1, 1), std::nullopt);
  }
  EXPECT_FALSE(fs::exists(path.string() + "-wal"));
  EXPECT_FALSE(fs::exists(path.string() + "-shm"));
  EXPECT_EQ(test::EntryCount(dir.Path()), 1);
  EXPECT_EQ(test::ReadAll(path), bytes);
}

// The zooms an MBTiles file holds, found through its index: up to the zoom it
// is shown at, every one that has a tile, none that has not.
TEST(ArchiveReader, AnMbtilesNamesTheZoomsItHolds) {
  test::TTempDir dir;
  const std::vector<test::TMbtilesTile> tiles = {
      {5, 20, 3, "X'00'"}, {2, 2, 1, "X'00'"}, {3, 5, 2, "X'00'"}, {3, 4, 2, "X'00'"}};
  const struct {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Metadata;
    std::vector<int> Zooms;
  } rows[] = {
      {"deepest tiles", {}, {2, 3, 5}},
      {"maxzoom", {{"maxzoom", "3"}}, {2, 3}},
      {"maxzoom with no tile", {{"maxzoom", "4"}}, {2, 3, 4}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    const fs::path path = dir / (std::string(row.Name) + ".mbtiles");
    ASSERT_TRUE(test::WriteMbtiles(path, row.Metadata, tiles));
    EXPECT_EQ(OpenTileArchive(path)->Zooms(), row.Zooms);
  }
}

}  // namespace
}  // namespace meridane
