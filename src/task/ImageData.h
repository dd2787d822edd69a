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

}  // namespace meridane
