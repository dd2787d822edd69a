// Any bytes as an MBTiles file: SQLite reads the database, the reader the
// numbers and tiles in it, and neither writes beside the file.
#include <stdexcept>

#include "fuzz/FuzzInput.h"
#include "tiles/MbtilesReader.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = fuzz::Folder() / "input.mbtiles";
  test::WriteAll(path, std::string(reinterpret_cast<const char*>(data), size));
  try {
    TMbtilesReader reader(path, 1 << 16);
    const TTileSet& set = reader.TileSet();
    FUZZ_CHECK(set.Zoom >= 0 && set.Zoom <= 30 && set.MinX <= set.MaxX && set.MinY <= set.MaxY);
    for (const auto& [x, y] : {std::pair(set.MinX, set.MinY), std::pair(set.MaxX, set.MaxY)})
      if (const auto tile = reader.Get(set.Zoom, x, y)) FUZZ_CHECK(tile->size() <= (1 << 16));
  } catch (const std::runtime_error&) {
  }
  FUZZ_CHECK(!std::filesystem::exists(path.string() + "-wal") && !std::filesystem::exists(path.string() + "-shm"));
  return 0;
}
