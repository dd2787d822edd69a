#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "combine/Archives.h"
#include "combine/ReadBack.h"
#include "support/Images.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

TEST(Pmtiles, TileIdsFollowTheHilbertCurve) {
  struct TCase {
    int Zoom, X, Y;
    std::uint64_t Id;
  } cases[] = {
      {0, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 1, 2}, {1, 1, 1, 3}, {1, 1, 0, 4},
      // Zoom 2 starts after the 5 tiles above; its curve of 16 steps.
      {2, 0, 0, 5}, {2, 1, 0, 6}, {2, 1, 1, 7}, {2, 0, 1, 8}, {2, 0, 2, 9}, {2, 0, 3, 10}, {2, 1, 3, 11}, {2, 1, 2, 12},
      {2, 2, 2, 13}, {2, 2, 3, 14}, {2, 3, 3, 15}, {2, 3, 2, 16}, {2, 3, 1, 17}, {2, 2, 1, 18}, {2, 2, 0, 19}, {2, 3, 0, 20},
      // The last tile of zoom 30 is the one before zoom 31's first.
      {30, (1 << 30) - 1, 0, ((std::uint64_t{1} << 62) - 1) / 3 - 1},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(PmtilesTileId(c.Zoom, c.X, c.Y), c.Id) << c.Zoom << "/" << c.X << "/" << c.Y;
    // And back, as the feed walks the curve.
    const std::uint64_t before = PmtilesTileId(c.Zoom, 0, 0);
    EXPECT_EQ(PmtilesTileAt(c.Zoom, c.Id - before),
              std::pair(static_cast<std::uint32_t>(c.X), static_cast<std::uint32_t>(c.Y)))
        << c.Zoom << "/" << c.X << "/" << c.Y;
  }
}

// The sections lie where the header says: none overlaps the header or another,
// the root is in the first 16 KB, the file ends with the last one. Tiles given
// in tile id order were written straight, right after those 16 KB.
void ExpectSectionsInPlace(const fs::path& path, test::TOrder order) {
  const TPmtilesHeader h = TPmtilesReader(path).Header();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sections = {{0, PmtilesHeaderSize},
                                                                   {h.RootOffset, h.RootLength},
                                                                   {h.MetadataOffset, h.MetadataLength},
                                                                   {h.LeafOffset, h.LeafLength},
                                                                   {h.DataOffset, h.DataLength}};
  std::sort(sections.begin(), sections.end());
  for (std::size_t i = 1; i < sections.size(); ++i)
    EXPECT_LE(sections[i - 1].first + sections[i - 1].second, sections[i].first) << "section at " << sections[i].first;
  EXPECT_EQ(sections.back().first + sections.back().second, fs::file_size(path));
  EXPECT_LE(h.RootOffset + h.RootLength, TPmtilesWriter::RootLimit);
  EXPECT_EQ(h.DataOffset == TPmtilesWriter::RootLimit, order == test::TOrder::TileIds) << h.DataOffset;
}

// Tiles alike are stored once, and one entry stands for a run of them.
TEST(Pmtiles, RepeatedTilesAreStoredOnce) {
  struct TCase {
    const char* Name;
    test::TTileRule Rule;
    std::uint64_t Addressed, Entries, Contents, DataLength;
  } cases[] = {
      {"all alike", [](int, int) { return "sea"; }, 16, 1, 1, 3},
      {"two kinds in turn", [](int x, int y) { return (x + y) % 2 ? "ab" : "abc"; }, 16, 16, 2, 5},
      // The curve passes column 0 at steps 0, 3, 4 and 5: two runs remain.
      {"alike but column 0", [](int x, int) { return x ? std::optional("land") : std::nullopt; }, 12, 2, 1, 4},
      // Large enough that the first of each kind has left the write buffer when it repeats.
      {"three large kinds by column", [](int x, int) { return std::string(400'000, static_cast<char>('a' + x % 3)); }, 16, 8,
       3, 1'200'000},
      {"all distinct", [](int x, int y) { return std::string(static_cast<std::size_t>(x * 4 + y + 1), 'd'); }, 16, 16, 16,
       136},
  };
  for (const TCase& c : cases)
    for (const test::TOrder order : {test::TOrder::Rows, test::TOrder::TileIds}) {
      SCOPED_TRACE(std::string(c.Name) + (order == test::TOrder::Rows ? " in rows" : " in tile ids"));
      TTempDir dir;
      const TTileSet set = test::SetOf(2, 0, 0, 3, 3);
      test::WriteSet(*test::WriterOf(test::TArchiveKind::Pmtiles, dir / "t.pmtiles", set), set, c.Rule, order);
      TPmtilesReader reader(dir / "t.pmtiles");
      const TPmtilesHeader& h = reader.Header();
      EXPECT_EQ(std::tie(h.AddressedTiles, h.TileEntries, h.TileContents, h.DataLength),
                std::tie(c.Addressed, c.Entries, c.Contents, c.DataLength));
      ExpectSectionsInPlace(dir / "t.pmtiles", order);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(reader.Get(2, x, y), c.Rule(x, y)) << x << "," << y;
    }
}

// A set too large for the root alone gets leaf directories, and the package's
// reader, like ours, finds every tile: a small set of real images with gaps
// and repeats, and 100,000 tiny tiles of many lengths; whether they came in
// tile id order and went straight into the file, or out of it, early or at
// the very end (after the write buffer was flushed to the file).
TEST(Pmtiles, ThePackageReaderReadsEveryTile) {
  const bool haveNode = test::HaveProgram("node");
  const std::string jpeg = test::EncodeJpeg(256, 256), webp = test::EncodeWebp(256, 256);
  const struct {
    const char* Name;
    TTileSet Set;
    test::TTileRule Rule;
    bool Leaves;
    std::string Metadata;
    int TileType;
    std::vector<test::TOrder> Orders;
  } cases[] = {
      {"images", test::SetOf(9, 300, 200, 309, 205), [&](int x, int y) -> std::optional<std::string> {
         if (x == y + 101) return std::nullopt;
         return x % 4 ? jpeg : jpeg + std::to_string(x);
       }, false,
       R"("metadata":{"name":"Lake \"Ohrid\" \\ 2","format":"jpg","bounds":"30.9375,33.13755119234616,37.96875,36.597889133070204",)"
       R"("center":"34.453125,34.86772016270818,9","minzoom":"9","maxzoom":"9","type":"baselayer","version":"1",)"
       R"("description":"tiles of\na lake"}})",
       3, {test::TOrder::Rows, test::TOrder::TileIds}},
      // WebP tiles of a map type saying "jpg": stored as they are, and said to be WebP.
      {"webp images", test::SetOf(4, 3, 5, 5, 6), [&](int x, int y) { return webp + std::to_string(x * y); }, false,
       R"("format":"webp")", 4, {test::TOrder::TileIds}},
      {"100,000 tiny tiles", test::SetOf(10, 100, 200, 499, 449, "png"), [](int x, int y) {
         const unsigned mixed = static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u;
         return std::to_string(x) + "," + std::to_string(y) + std::string(mixed % 23, '.');
       }, true, "", 2, {test::TOrder::TileIds, test::TOrder::LastTwoSwapped}},
  };
  for (const auto& c : cases)
    for (const test::TOrder order : c.Orders) {
      SCOPED_TRACE(std::string(c.Name) + " in order " + std::to_string(static_cast<int>(order)));
      TTempDir dir;
      const fs::path archive = dir / "t.pmtiles";
      test::WriteSet(*test::WriterOf(test::TArchiveKind::Pmtiles, archive, c.Set), c.Set, c.Rule, order);
      TPmtilesReader reader(archive);
      EXPECT_EQ(reader.Header().LeafLength > 0, c.Leaves);
      ExpectSectionsInPlace(archive, order);
      std::string ours;
      for (int y = c.Set.MinY - 1; y <= c.Set.MaxY + 1; ++y)
        for (int x = c.Set.MinX - 1; x <= c.Set.MaxX + 1; ++x)
          if (reader.Get(c.Set.Zoom, x, y) !=
              (x >= c.Set.MinX && x <= c.Set.MaxX && y >= c.Set.MinY && y <= c.Set.MaxY ? c.Rule(x, y) : std::nullopt))
            ours += std::to_string(x) + "," + std::to_string(y) + " ";
      EXPECT_EQ(ours, "");

      if (!haveNode) continue;
      const std::string read = test::ReadWithPackage(dir, archive, c.Set);
      const std::size_t firstLine = read.find('\n') + 1;
      EXPECT_TRUE(read.substr(firstLine) == test::PackageExpected(c.Set, c.Rule)) << read.substr(0, 2000);
      const std::string head = read.substr(0, firstLine);
      for (const std::string& part :
           {std::string("\"specVersion\":3,"), std::string("\"clustered\":true,\"internalCompression\":2,"),
            "\"minZoom\":" + std::to_string(c.Set.Zoom), c.Metadata,
            "\"tileType\":" + std::to_string(c.TileType) + ","})
        EXPECT_NE(head.find(part), std::string::npos) << part << " in " << head;
    }
  if (!haveNode) GTEST_SKIP() << "node is not installed: the pmtiles package's reader was not run";
}

}  // namespace
}  // namespace meridane
