#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Images.h"
#include "task/ImageData.h"
#include "tiles/Decode.h"
#include "tiles/Structure.h"
#include "tiles/Webp.h"

namespace meridane {
namespace {

using namespace std::string_literals;

TEST(ImageData, FormatByFirstBytes) {
  const std::pair<std::string, TImageFormat> cases[] = {
      {"\xFF\xD8\xFF\xE0\x00\x10JFIF"s, TImageFormat::Jpeg},
      {"\xFF\xD8\xFF"s, TImageFormat::Jpeg},
      {"\xFF\xD8"s, TImageFormat::None},
      {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, TImageFormat::Png},
      {"\x89PNG\r\n\x1A"s, TImageFormat::None},
      {"GIF87a\x01\0"s, TImageFormat::Gif},
      {"GIF89a"s, TImageFormat::Gif},
      {"GIF88a"s, TImageFormat::None},
      {"GIF8"s, TImageFormat::None},
      {"RIFF\x24\0\0\0WEBPVP8 "s, TImageFormat::WebP},
      {"RIFF\x24\0\0\0WAVEfmt "s, TImageFormat::None},
      {"RIFF\x24\0\0\0WEB"s, TImageFormat::None},
      {"RIFF"s, TImageFormat::None},
      {"<html><body>Not Found</body></html>"s, TImageFormat::None},
      {""s, TImageFormat::None},
  };
  for (const auto& [bytes, format] : cases) {
    EXPECT_EQ(ImageFormatOf(bytes), format) << ::testing::PrintToString(bytes);
    EXPECT_EQ(IsImageData(bytes), format != TImageFormat::None) << ::testing::PrintToString(bytes);
  }
}

// The first bytes of a lossless WebP whose header gives width x height, and
// a little data after them: enough for the header to be read, not for pixels.
std::string WebpHeaderOfSize(int width, int height) {
  const auto little = [](std::uint32_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                       static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  };
  const std::string chunk = "\x2F"s + little(static_cast<std::uint32_t>(width - 1) |
                                              static_cast<std::uint32_t>(height - 1) << 14) + std::string(27, '\0');
  return "RIFF" + little(static_cast<std::uint32_t>(12 + chunk.size())) + "WEBPVP8L" +
         little(static_cast<std::uint32_t>(chunk.size())) + chunk;
}

TEST(ImageData, DecodesWholeTilesOfTheirSize) {
  const std::string jpeg = test::EncodeJpeg(256, 256), png = test::EncodePng(256, 256);
  const std::string webp = test::EncodeWebp(256, 256), lossless = test::EncodeWebp(256, 256, true);
  const struct {
    const char* Name;
    std::string Bytes;
    TImageCheck Expected;
  } cases[] = {
      {"jpeg", jpeg, TImageCheck::Sound},
      {"jpeg cut in its data", jpeg.substr(0, jpeg.size() / 2), TImageCheck::Undecodable},
      {"jpeg without its end marker", jpeg.substr(0, jpeg.size() - 2), TImageCheck::Undecodable},
      {"jpeg cut in its header", jpeg.substr(0, 40), TImageCheck::Undecodable},
      {"jpeg 512x512", test::EncodeJpeg(512, 512), TImageCheck::OtherSize},
      {"jpeg 256x128", test::EncodeJpeg(256, 128), TImageCheck::OtherSize},
      {"jpeg magic alone", "\xFF\xD8\xFF\xE0"s, TImageCheck::Undecodable},
      {"png", png, TImageCheck::Sound},
      {"png cut in its data", png.substr(0, png.size() / 2), TImageCheck::Undecodable},
      {"png cut in its header", png.substr(0, 20), TImageCheck::Undecodable},
      {"png 512x512", test::EncodePng(512, 512), TImageCheck::OtherSize},
      {"webp", webp, TImageCheck::Sound},
      {"lossless webp", lossless, TImageCheck::Sound},
      {"webp cut in its data", webp.substr(0, webp.size() * 3 / 4), TImageCheck::Undecodable},
      {"lossless webp cut in its data", lossless.substr(0, lossless.size() * 3 / 4), TImageCheck::Undecodable},
      {"webp cut in its header", webp.substr(0, 24), TImageCheck::Undecodable},
      {"webp magic alone", "RIFF\x24\0\0\0WEBP"s, TImageCheck::Undecodable},
      {"webp 512x512", test::EncodeWebp(512, 512), TImageCheck::OtherSize},
      {"webp 256x128", test::EncodeWebp(256, 128, true), TImageCheck::OtherSize},
      // Refused from the header: its pixels would take a gigabyte.
      {"webp header of 16384x16384", WebpHeaderOfSize(16384, 16384), TImageCheck::OtherSize},
      {"webp header of 256x256 and no pixels", WebpHeaderOfSize(256, 256), TImageCheck::Undecodable},
      {"gif", "GIF89a\x01\0\x01\0"s, TImageCheck::Sound},
      {"html", "<html>Not Found</html>"s, TImageCheck::Undecodable},
      {"cmyk jpeg", test::EncodeCmykJpeg(256, 256), TImageCheck::Undecodable},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckImage(c.Bytes, 256, 256), c.Expected) << c.Name;
}

// An interlaced PNG's rows come in seven passes: the decode must still put
// each where it belongs and stop after the last.
std::string EncodeInterlacedPng(const std::vector<unsigned char>& grey) {
  std::string bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &bytes,
      [](png_structp p, png_bytep data, png_size_t size) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), size);
      },
      nullptr);
  png_set_IHDR(png, info, 256, 256, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_bytep> rows(256);
  for (int y = 0; y < 256; ++y) rows[y] = const_cast<png_bytep>(grey.data()) + y * 256;
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

// The check by structure that archives use calls whole, cut and foreign files
// what a decode calls them.
TEST(ImageData, TheStructureCheckAgreesWithTheDecoder) {
  using namespace test;
  const std::string jpeg = EncodeJpeg(256, 256), png = EncodePng(256, 256), webp = EncodeWebp(256, 256);
  std::string flipped = png;
  flipped[png.size() / 2] = static_cast<char>(~flipped[png.size() / 2]);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"jpeg", jpeg},
      {"progressive jpeg", EncodeJpegPixels(Gradient(256, 256), 256, 256, 1, 75, true)},
      {"jpeg and bytes after its end", jpeg + "trailing"},
      {"jpeg without its end marker", jpeg.substr(0, jpeg.size() - 2)},
      {"png", png},
      {"rgba png", EncodePngPixels(GradientRgba(256, 256), 256, 256, PNG_FORMAT_RGBA)},
      {"png with a byte changed", flipped},
      {"webp", webp},
      {"lossless webp", EncodeWebp(256, 256, true)},
      {"webp cut by a byte", webp.substr(0, webp.size() - 1)},
      {"512x512 jpeg", EncodeJpeg(512, 512)},
      {"512x512 png", EncodePng(512, 512)},
      {"512x512 webp", EncodeWebp(512, 512)},
  };
  for (const auto& [name, bytes] : UndecodableTiles()) cases.emplace_back(name, bytes);
  for (const auto& [name, bytes] : cases)
    EXPECT_EQ(CheckImageStructure(bytes, 256, 256), DecodeImage(bytes, 256, 256)) << name;
  // Stricter than the decoder, which stops at the last row: without its end a
  // PNG may be cut between two data chunks.
  EXPECT_EQ(CheckImageStructure(png.substr(0, png.size() - 12), 256, 256), TImageCheck::Undecodable);
}

TEST(ImageData, PngPixelsAlikeInterlacedOrNot) {
  const std::vector<unsigned char> grey = test::Gradient(256, 256);
  TRgba plain, interlaced;
  ASSERT_TRUE(DecodeTile(test::EncodePng(256, 256), plain));
  ASSERT_TRUE(DecodeTile(EncodeInterlacedPng(grey), interlaced));
  EXPECT_EQ(plain, interlaced);
  EXPECT_EQ(plain[(10 * 256 + 20) * 4], grey[10 * 256 + 20]);
  EXPECT_EQ(plain[(10 * 256 + 20) * 4 + 3], 255);
}

// A tile encoded and decoded again: every pixel as it was when lossless, the
// alpha exactly and the colours closely when lossy. The viewer's eighth is the
// whole tile's, averaged.
TEST(Webp, TilesEncodeAndDecodeBack) {
  // Colour gradients; alpha 255, or falling to 0 in the east as at a map's edge.
  const auto tile = [](bool edge) {
    TRgba pixels;
    for (int y = 0; y < TileSide; ++y)
      for (int x = 0; x < TileSide; ++x)
        pixels.insert(pixels.end(), {static_cast<unsigned char>(x), static_cast<unsigned char>(y),
                                     static_cast<unsigned char>((x + y) / 2),
                                     static_cast<unsigned char>(edge && x >= 192 ? (x >= 224 ? 0 : 128) : 255)});
    return pixels;
  };
  const struct {
    const char* Name;
    int Quality;
    bool Edge;
    double MaxMeanDifference;
  } cases[] = {
      {"lossless", 100, false, 0},
      {"lossless with an edge", 100, true, 0},
      {"lossy", 90, false, 3},
      {"lossy with an edge", 75, true, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRgba pixels = tile(c.Edge);
    const std::string bytes = EncodeWebpTile(pixels, c.Quality);
    EXPECT_EQ(ImageFormatOf(bytes), TImageFormat::WebP);
    TRgba got;
    ASSERT_TRUE(DecodeTile(bytes, got));
    ASSERT_EQ(got.size(), pixels.size());
    double difference = 0;
    long long counted = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
      ASSERT_EQ(got[i + 3], pixels[i + 3]) << "alpha of pixel " << i / 4;
      if (pixels[i + 3] == 0) continue;  // no colour to keep under a pixel no one sees
      for (int k = 0; k < 3; ++k) difference += std::abs(got[i + k] - pixels[i + k]);
      counted += 3;
    }
    EXPECT_LE(difference / static_cast<double>(counted), c.MaxMeanDifference);
    if (c.Quality == 100) {
      EXPECT_LT(bytes.size(), pixels.size() / 4);  // compressed all the same
    }
    TRgba eighth;
    ASSERT_TRUE(DecodeTileEighth(bytes, eighth));
    ShrinkToEighth(got);
    EXPECT_EQ(eighth, got);
  }
  for (const auto& [pixels, quality] : {std::pair{TRgba(TilePixels * 4 - 4), 80}, std::pair{tile(false), 0},
                                        std::pair{tile(false), 101}})
    EXPECT_THROW(EncodeWebpTile(pixels, quality), std::invalid_argument) << pixels.size() << " " << quality;
}

// Tiles under the size cap that would take seconds each: the work done on
// them is counted, not timed.
TEST(ImageData, BombsAreGivenUpAfterBoundedWork) {
  const std::string png = test::PngInflateBomb(std::size_t{16} << 20);
  // The rows are sound and what follows them is never inflated.
  EXPECT_EQ(CheckImage(png, 256, 256), TImageCheck::Sound);
  EXPECT_LT(LastDecodeWork().PngBytes * 4, png.size());
  TRgba pixels;
  EXPECT_TRUE(DecodeTile(png, pixels));
  EXPECT_LT(LastDecodeWork().PngBytes * 4, png.size());

  const std::string jpeg = test::JpegScanBomb(1000);
  EXPECT_EQ(CheckImage(jpeg, 256, 256), TImageCheck::Undecodable);
  EXPECT_LE(LastDecodeWork().Scans, 101);
  EXPECT_FALSE(DecodeTile(jpeg, pixels));
  EXPECT_LE(LastDecodeWork().Scans, 101);
  // A tile's usual few scans are well within the bound.
  EXPECT_EQ(CheckImage(test::JpegScanBomb(0), 256, 256), TImageCheck::Sound);
  EXPECT_GT(LastDecodeWork().Scans, 1);
}

}  // namespace
}  // namespace meridane
