#pragma once

#include <cstddef>
#include <string_view>

namespace meridane {

// The image formats a tile server sends, told apart by their first bytes.
enum class TImageFormat { None, Jpeg, Png, Gif, WebP };

// How many first bytes ImageFormatOf needs to tell every format.
inline constexpr std::size_t ImageMagicSize = 12;
TImageFormat ImageFormatOf(std::string_view bytes);

// Whether bytes begin like a JPEG, PNG, GIF or WebP image.
inline bool IsImageData(std::string_view bytes) { return ImageFormatOf(bytes) != TImageFormat::None; }

enum class TImageCheck { Sound, OtherSize, Undecodable };

// Whether an image decodes to its end and has the given size. A header that
// gives another size answers OtherSize without decoding the rest; data a
// decoder cannot read through (truncated, damaged, or data it had to make up)
// is Undecodable, and so is anything not a JPEG, PNG, GIF or WebP. GIF and
// WebP are not decoded here: they count as sound.
// out: null to read the image through only (fast, as CheckImage does);
// otherwise the pixels as RGBA rows at 1/scale of the size (scale 1 or 8; a
// PNG only at 1), and GIF and WebP are Undecodable. Safe on several threads.
TImageCheck DecodeImage(std::string_view bytes, int width, int height, unsigned char* out = nullptr, int scale = 1);
inline TImageCheck CheckImage(std::string_view bytes, int width, int height) {
  return DecodeImage(bytes, width, height);
}

}  // namespace meridane
