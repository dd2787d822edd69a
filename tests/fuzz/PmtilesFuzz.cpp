// Any bytes as a PMTiles file: header, directories, leaves and metadata are
// the file's word, which the reader checks before it allocates or recurses.
#include <stdexcept>

#include "fuzz/FuzzInput.h"
#include "tiles/PmtilesReader.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = fuzz::Folder() / "input.pmtiles";
  test::WriteAll(path, std::string(reinterpret_cast<const char*>(data), size));
  try {
    TPmtilesReader reader(path, 1 << 16);
    const TTileSet& set = reader.TileSet();
    FUZZ_CHECK(set.Zoom >= 0 && set.Zoom <= 30 && set.MinX <= set.MaxX && set.MinY <= set.MaxY);
    // The corners and the middle of the set, and a tile of each lower zoom.
    const int xs[] = {set.MinX, set.MaxX, set.MinX + (set.MaxX - set.MinX) / 2};
    const int ys[] = {set.MinY, set.MaxY, set.MinY + (set.MaxY - set.MinY) / 2};
    for (int i = 0; i < 3; ++i)
      if (const auto tile = reader.Get(set.Zoom, xs[i], ys[i])) FUZZ_CHECK(tile->size() <= (1 << 16));
    for (int zoom = 0; zoom < set.Zoom && zoom < 4; ++zoom) reader.Get(zoom, 0, 0);
  } catch (const std::runtime_error&) {
  }
  return 0;
}
