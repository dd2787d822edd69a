#include <gtest/gtest.h>

#include <string>

#include "support/Images.h"
#include "task/ImageData.h"
#include "tiles/Decode.h"

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

TEST(ImageData, DecodesWholeTilesOfTheirSize) {
  const std::string jpeg = test::EncodeJpeg(256, 256), png = test::EncodePng(256, 256);
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
      {"gif", "GIF89a\x01\0\x01\0"s, TImageCheck::Sound},
      {"html", "<html>Not Found</html>"s, TImageCheck::Undecodable},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckImage(c.Bytes, 256, 256), c.Expected) << c.Name;
}

}  // namespace
}  // namespace meridane
