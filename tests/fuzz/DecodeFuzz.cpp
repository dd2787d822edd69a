// Any bytes as a tile, decoded whole and at an eighth as the viewer does: a
// tile that decodes fills exactly its pixels; and checked by its structure as
// an archive's tiles are, which reads nothing beyond the bytes.
#include <string_view>

#include "fuzz/FuzzInput.h"
#include "tiles/Decode.h"
#include "tiles/Structure.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TRgba pixels;
  DecodeTile(bytes, pixels);
  FUZZ_CHECK(pixels.size() == TilePixels * 4);
  if (DecodeTileEighth(bytes, pixels)) FUZZ_CHECK(pixels.size() == std::size_t{EighthSide} * EighthSide * 4);
  CheckImageStructure(bytes, TileSide, TileSide);
  return 0;
}
