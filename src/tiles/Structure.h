#pragma once

#include <string_view>

#include "tiles/Decode.h"

namespace meridane {

// Whether an image is whole and of a kind and size the decoders take, from its
// structure alone, without decoding a pixel: a JPEG's markers from its start to
// its end (8-bit, grey or three colours, at most 100 scans, the compressed data
// ending in a marker), a PNG's chunks with their checksums up to IEND, a WebP's
// RIFF size against the bytes there are. Cut-off files, error pages, stubs and
// colours without a display form (CMYK) are found so; damage inside a JPEG's
// compressed data that keeps its structure is not. Fast enough to check tiles
// at the pace they are copied. GIF is left to DecodeImage.
TImageCheck CheckImageStructure(std::string_view bytes, int width, int height);

}  // namespace meridane
