#include <gtest/gtest.h>

#include <set>

#include "demo/DemoTiles.h"
#include "support/TempDir.h"
#include "tiles/Decode.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;

// Reads a label line back from decoded RGBA pixels: the glyph whose cells
// match the dark and light cell centres, or '?' for none.
std::string ReadLine(const TRgba& pixels, int line, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    std::array<std::uint8_t, GlyphRows> seen{};
    for (int row = 0; row < GlyphRows; ++row)
      for (int column = 0; column < GlyphColumns; ++column) {
        const int x = DemoLabelLeft + static_cast<int>(i) * DemoGlyphPitch + column * DemoCell + DemoCell / 2;
        const int y = DemoLineTop + line * DemoLinePitch + row * DemoCell + DemoCell / 2;
        const unsigned char* p = &pixels[(static_cast<std::size_t>(y) * TileSide + x) * 4];
        if (p[0] + p[1] + p[2] < 3 * 128) seen[row] |= static_cast<std::uint8_t>(4 >> column);
      }
    char found = '?';
    for (const char name : DemoGlyphNames)
      if (DemoGlyph(name) == seen) found = name;
    text += found;
  }
  return text;
}

TEST(DemoTiles, GlyphsDiffer) {
  std::set<std::array<std::uint8_t, GlyphRows>> glyphs;
  for (const char name : DemoGlyphNames) glyphs.insert(DemoGlyph(name));
  EXPECT_EQ(glyphs.size(), DemoGlyphNames.size());
}

// Each written tile decodes as a sound 256x256 JPEG whose digits read back as
// its own zoom, column and row, and no two tiles look alike.
TEST(DemoTiles, WrittenTilesShowTheirPlace) {
  test::TTempDir dir;
  const std::vector<TTileKey> tiles = DemoTileSet(14, 13489, 6205, 13490, 6206);
  WriteDemoTiles(dir.Path(), tiles);
  std::set<std::string> seen;
  for (const TTileKey& key : tiles) {
    const fs::path path = dir / std::to_string(key.Zoom) / std::to_string(key.X) / (std::to_string(key.Y) + ".jpg");
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    TRgba pixels;
    ASSERT_TRUE(DecodeTile(bytes, pixels)) << path;
    const auto label = DemoLabel(key);
    for (int line = 0; line < 3; ++line) EXPECT_EQ(ReadLine(pixels, line, label[line].size()), label[line]) << path;
    EXPECT_TRUE(seen.insert(bytes).second) << path;
  }
}

TEST(DemoTiles, TheSetCoversTheAreaAndItsBackground) {
  const struct {
    int Zoom, MinX, MinY, MaxX, MaxY;
    std::vector<TTileKey> In, Out;
  } cases[] = {
      {14,
       13480,
       6200,
       13497,
       6215,
       {{14, 13480, 6200}, {14, 13497, 6215}, {0, 0, 0}, {3, 0, 7}, {3, 7, 0}, {8, 210, 96}, {8, 212, 99}, {4, 11, 4}},
       {{14, 13479, 6200}, {14, 13480, 6216}, {8, 213, 96}, {8, 207, 96}, {9, 421, 193}, {13, 6740, 3100}}},
      // At the world's corner the ring stays inside the world.
      {10, 0, 0, 1, 1, {{10, 0, 0}, {10, 1, 1}, {5, 2, 2}, {8, 0, 2}}, {{5, 3, 0}, {8, 0, 3}, {9, 0, 0}}},
  };
  for (const auto& c : cases) {
    const auto tiles = DemoTileSet(c.Zoom, c.MinX, c.MinY, c.MaxX, c.MaxY);
    const std::set<TTileKey> set(tiles.begin(), tiles.end());
    EXPECT_EQ(set.size(), tiles.size());
    for (const auto& key : tiles) {
      EXPECT_GE(key.X, 0);
      EXPECT_GE(key.Y, 0);
      EXPECT_LT(key.X, 1 << key.Zoom);
      EXPECT_LT(key.Y, 1 << key.Zoom);
    }
    for (const auto& key : c.In) EXPECT_TRUE(set.contains(key)) << key.Zoom << "/" << key.X << "/" << key.Y;
    for (const auto& key : c.Out) EXPECT_FALSE(set.contains(key)) << key.Zoom << "/" << key.X << "/" << key.Y;
  }
}

}  // namespace
}  // namespace meridane
