#pragma once

#include <string>
#include <string_view>

#include "tiles/Decode.h"

namespace meridane {

// A WebP image (lossy or lossless, with or without alpha; not animated) read
// through to its end. Its header gives its size, so an image of another size
// is OtherSize before anything is allocated or decoded. out: null to read it
// through only, or width * height RGBA pixels (alpha 255 where the image has
// none). Safe on several threads.
TImageCheck DecodeWebp(std::string_view bytes, int width, int height, unsigned char* out = nullptr);

// A tile's TilePixels * 4 RGBA as a WebP file. Quality 100 is lossless (every
// pixel back as it was); below it lossy at that quality (1-99), alpha kept
// exactly either way, so the edge of a map stays sharp. Throws
// std::invalid_argument for pixels of another size or a quality outside 1-100.
std::string EncodeWebpTile(const TRgba& pixels, int quality);

}  // namespace meridane
