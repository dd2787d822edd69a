#pragma once

#include <string>

#include "tiles/Decode.h"

namespace meridane {

// A tile's TilePixels RGBA as a JPEG file at quality (1..100). JPEG has no
// transparency: a pixel is laid over white by its alpha, so a part no tile
// covers comes out white. Throws std::runtime_error when libjpeg fails.
std::string EncodeJpegTile(const TRgba& pixels, int quality);

// A tile's TilePixels RGBA as a PNG file, transparency kept (RGB when every
// pixel is opaque, which is smaller). Throws std::runtime_error when libpng fails.
std::string EncodePngTile(const TRgba& pixels);

// Halves a tile: each pixel of the TileSide / 2 square out is the mean of a
// 2x2 block of pixels, weighted by alpha, so a transparent pixel lends its
// block no colour and a half covered block is half transparent. out is resized.
void HalveTile(const unsigned char* pixels, TRgba& out);

}  // namespace meridane
