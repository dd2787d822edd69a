#include "combine/Decode.h"

#include <algorithm>

#include "task/ImageData.h"

namespace meridane {

bool DecodeTile(std::string_view bytes, TRgba& pixels) {
  pixels.resize(TilePixels * 4);
  const bool sound = DecodeImage(bytes, TileSide, TileSide, pixels.data()) == TImageCheck::Sound;
  if (!sound) std::fill(pixels.begin(), pixels.end(), 0);
  return sound;
}

void ShrinkToEighth(TRgba& pixels) {
  // Written over pixels already read: pixel (x, y) lies before block (x, y)'s rows and columns.
  for (int y = 0; y < EighthSide; ++y)
    for (int x = 0; x < EighthSide; ++x)
      for (int c = 0; c < 4; ++c) {
        unsigned sum = 0;
        for (int dy = 0; dy < 8; ++dy)
          for (int dx = 0; dx < 8; ++dx) sum += pixels[((y * 8 + dy) * TileSide + x * 8 + dx) * 4 + c];
        pixels[(y * EighthSide + x) * 4 + c] = static_cast<unsigned char>(sum / 64);
      }
  pixels.resize(static_cast<std::size_t>(EighthSide) * EighthSide * 4);
}

bool DecodeTileEighth(std::string_view bytes, TRgba& pixels) {
  const std::size_t size = static_cast<std::size_t>(EighthSide) * EighthSide * 4;
  bool sound = false;
  if (ImageFormatOf(bytes) == TImageFormat::Jpeg) {
    pixels.resize(size);
    sound = DecodeImage(bytes, TileSide, TileSide, pixels.data(), 8) == TImageCheck::Sound;
  } else if (DecodeTile(bytes, pixels)) {
    ShrinkToEighth(pixels);
    sound = true;
  }
  pixels.resize(size);
  if (!sound) std::fill(pixels.begin(), pixels.end(), 0);
  return sound;
}

}  // namespace meridane
