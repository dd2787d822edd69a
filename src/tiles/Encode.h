#pragma once

#include <string>

#include "tiles/Decode.h"

namespace meridane {

// A tile's TilePixels RGBA as a JPEG file at quality (1..100). JPEG has no
// transparency: a pixel is laid over white by its alpha, so a part no tile
// covers comes out white. Throws std::runtime_error when libjpeg fails.
std::string EncodeJpegTile(const TRgba& pixels, int quality);
// TileSide rows of TileSide pixels of 3 samples (RGB) or 4 (RGBA, the alpha
// left out) as a JPEG at quality in YCbCr with 2x2 chroma subsampling; jfif:
// with the JFIF header (a TIFF's tiles go without). Throws std::runtime_error
// when libjpeg fails.
std::string CompressJpegTile(const unsigned char* rows, int components, int quality, bool jfif = true);

// A tile's TilePixels RGBA as a PNG file, transparency kept (RGB when every
// pixel is opaque, which is smaller). Throws std::runtime_error when libpng fails.
std::string EncodePngTile(const TRgba& pixels);

// Halves a tile: each pixel of the TileSide / 2 square out is the mean of a
// 2x2 block of pixels, weighted by alpha, so a transparent pixel lends its
// block no colour and a half covered block is half transparent. out is resized.
void HalveTile(const unsigned char* pixels, TRgba& out);

}  // namespace meridane
