#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "task/Coverage.h"

namespace meridane {

// Every tile of a tile set is TileSide square, and the outputs' own tiles are too.
inline constexpr std::size_t TilePixels = static_cast<std::size_t>(TileSide) * TileSide;

// A tile's pixels, RGBA, 8 bits a sample, rows from the top. Alpha 0 is a
// pixel no tile covers.
using TRgba = std::vector<unsigned char>;

// Decodes a JPEG or PNG tile into pixels (resized to TilePixels * 4). False,
// with pixels all transparent, for data that is not a 256x256 JPEG or PNG or
// does not decode to its end: such a tile is left out like a missing one.
// Safe to call from several threads at once.
bool DecodeTile(std::string_view bytes, TRgba& pixels);

}  // namespace meridane
