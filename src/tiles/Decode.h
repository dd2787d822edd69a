#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "tiles/Projection.h"

namespace meridane {

enum class TImageCheck { Sound, OtherSize, Undecodable };

// Whether an image decodes to its end and has the given size. A header that
// gives another size answers OtherSize without decoding the rest; data a
// decoder cannot read through (truncated, damaged, or data it had to make up)
// is Undecodable, as is a JPEG of more than 100 scans or in CMYK or YCCK (it has
// no RGBA here); a PNG is read up to its last row and no further, a WebP
// (Webp.h) is sized by its header. Anything not a JPEG, PNG, GIF or WebP is
// Undecodable too. GIF is not decoded here: it counts as sound.
// out: null to read the image through only (fast, as CheckImage does);
// otherwise the pixels as RGBA rows at 1/scale of the size (scale 1 or 8; a
// PNG or WebP only at 1), and GIF is Undecodable. Safe on several threads.
TImageCheck DecodeImage(std::string_view bytes, int width, int height, unsigned char* out = nullptr, int scale = 1);
// What the last DecodeImage on this thread read: the JPEG scans, the PNG bytes
// handed to the inflater. A damaged or hostile tile is given up after a bounded
// amount of both; tests count the work here rather than time it.
struct TDecodeWork {
  int Scans = 0;
  std::size_t PngBytes = 0;
};
const TDecodeWork& LastDecodeWork();

inline TImageCheck CheckImage(std::string_view bytes, int width, int height) {
  return DecodeImage(bytes, width, height);
}

// Every tile of a tile set is TileSide square, and the outputs' own tiles are too.
inline constexpr std::size_t TilePixels = static_cast<std::size_t>(TileSide) * TileSide;

// A tile's pixels, RGBA, 8 bits a sample, rows from the top. Alpha 0 is a
// pixel no tile covers.
using TRgba = std::vector<unsigned char>;

// Decodes a JPEG, PNG or WebP tile into pixels (resized to TilePixels * 4). False,
// with pixels all transparent, for data that is not a 256x256 JPEG, PNG or WebP or
// does not decode to its end: such a tile is left out like a missing one.
// Safe to call from several threads at once.
bool DecodeTile(std::string_view bytes, TRgba& pixels);

// An eighth of a tile's side, for pictures of many tiles.
inline constexpr int EighthSide = TileSide / 8;

// Decodes a tile as DecodeTile does, into EighthSide * EighthSide RGBA pixels:
// a JPEG through its scaled inverse transform (several times faster than a
// whole decode), a PNG or WebP whole and averaged.
bool DecodeTileEighth(std::string_view bytes, TRgba& pixels);

// A tile's TilePixels * 4 RGBA scaled to EighthSide a side in place, each
// pixel the mean of its 8 x 8 block.
void ShrinkToEighth(TRgba& pixels);

}  // namespace meridane
