#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "combine/Archives.h"
#include "combine/Picture.h"
#include "combine/ReadBack.h"
#include "support/Images.h"
#include "support/TempDir.h"
#include "tiles/Decode.h"

namespace meridane {
namespace {

// A PNG tile whose alpha runs from 0 on the left to 255 on the right.
std::string TranslucentTile(int column, int row) {
  TRgba pixels;
  if (!DecodeTile(test::SourceTile(column, row, "png"), pixels)) return {};
  for (std::size_t i = 0; i < TilePixels; ++i) pixels[i * 4 + 3] = static_cast<unsigned char>(i % TileSide);
  return test::EncodePngPixels(pixels, TileSide, TileSide, PNG_FORMAT_RGBA);
}

// The PNG picture, read by Python's zlib (its stream) and by GDAL (its pixels),
// is RGB exactly while every tile is opaque, and holds each tile's pixels byte
// for byte: over strips cut into several segments, across the rewrite as RGBA
// wherever the first tile that is not opaque comes.
TEST(PngPicture, ReadersSeeEveryTileExactlyInRgbOrRgba) {
  const std::string damaged = "<html>not a tile</html>";
  struct TCase {
    const char* Name;
    int Columns, Rows;
    std::string Format;
    std::map<std::pair<int, int>, std::optional<std::string>> Special;  // tiles by column, row: nothing is missing
    int ColourType;
    bool Ahead = false;  // told of a tile left out before the first
  };
  const std::vector<TCase> cases = {
      {"opaque tiles", 3, 3, "jpg", {}, 2},
      {"a tile missing at the very end", 3, 3, "jpg", {{{2, 2}, std::nullopt}}, 6},
      {"told ahead of a tile missing at the end", 3, 3, "jpg", {{{2, 2}, std::nullopt}}, 6, true},
      {"the first tile missing, a damaged one later", 3, 2, "jpg", {{{0, 0}, std::nullopt}, {{1, 1}, damaged}}, 6},
      {"wide and opaque", 40, 2, "jpg", {}, 2},
      {"wide, a tile damaged in the second row", 40, 2, "jpg", {{{17, 1}, damaged}}, 6},
      {"opaque PNG tiles", 2, 2, "png", {}, 2},
      {"a PNG tile partly transparent", 2, 2, "png", {{{1, 0}, TranslucentTile(1, 0)}}, 6},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TTempDir dir;
    const std::string path = (dir / "out.png").string();
    const TTileSet set = test::SetOf(14, 8800, 5370, 8800 + c.Columns - 1, 5370 + c.Rows - 1, c.Format);
    std::map<std::pair<int, int>, TRgba> want;
    {
      TPictureSink sink(set, path, TPictureFormat::Png);
      if (c.Ahead) sink.LeftOutAhead();
      for (int row = 0; row < c.Rows; ++row)
        for (int column = 0; column < c.Columns; ++column) {
          const auto special = c.Special.find({column, row});
          const std::optional<std::string> bytes =
              special != c.Special.end() ? special->second : test::SourceTile(column, row, c.Format);
          TRgba& pixels = want[{column, row}];
          if (!bytes || !DecodeTile(*bytes, pixels)) pixels.assign(TilePixels * 4, 0);
          sink.Add(set.MinX + column, set.MinY + row, bytes);
        }
      sink.Finish();
    }

    const auto [checked, status] =
        test::RunCommand("/usr/bin/python3 '" MERIDANE_TEST_SOURCE_DIR "/combine/check_png.py' '" + path + "' 2>&1");
    ASSERT_EQ(status, 0) << checked;
    EXPECT_EQ(std::stoi(checked), c.ColourType) << checked;

    const std::string raw = (dir / "pixels.raw").string();
    ASSERT_EQ(test::RunCommand("gdal_translate -q -of ENVI -co INTERLEAVE=BIP '" + path + "' '" + raw + "'").second, 0);
    const std::string pixels = test::ReadAll(raw);
    const std::size_t channels = c.ColourType == 6 ? 4 : 3, width = static_cast<std::size_t>(c.Columns) * TileSide;
    ASSERT_EQ(pixels.size(), width * c.Rows * TileSide * channels);
    for (const auto& [place, tile] : want) {
      std::size_t wrong = 0;
      for (std::size_t y = 0; y < TileSide; ++y)
        for (std::size_t x = 0; x < TileSide; ++x) {
          const std::size_t at = ((place.second * TileSide + y) * width + place.first * TileSide + x) * channels;
          wrong += std::memcmp(&pixels[at], &tile[(y * TileSide + x) * 4], channels) != 0;
        }
      EXPECT_EQ(wrong, 0u) << "pixels differ in tile " << place.first << "," << place.second;
    }
  }
}

}  // namespace
}  // namespace meridane
