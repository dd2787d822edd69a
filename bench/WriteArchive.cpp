// meridane_write_archive mbtiles|pmtiles|pmtiles-rows OUT TILES FOLDER: writes the archive
// of the task meridane_link_tiles made of about TILES tiles in FOLDER, reading
// every tile file once, in the order the archive asks for (pmtiles-rows: in
// rows, as with the zooms below, which the PMTiles writer puts in order at
// the end). Each tile gets its column and row appended, so that no
// two are alike even when the files are links to a few (an archive that stores
// repeats once would otherwise write almost nothing). With FOLDER "-" the tiles
// are 100 bytes made up on the spot: the archive's own memory, without files.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "SquareTask.h"
#include "combine/Mbtiles.h"
#include "combine/Pmtiles.h"
#include "combine/Source.h"
#include "geo/Commonfunc.h"
#include "task/TileGrid.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s mbtiles|pmtiles|pmtiles-rows OUT TILES FOLDER\n", argv[0]);
    return 2;
  }
  const std::string format = argv[1], folder = argv[4];
  const bool madeUp = folder == "-";
  const meridane::TTileGrid grid(meridane::bench::SquareRequest(std::atoll(argv[3]), madeUp ? "/" : folder + "/"));
  const meridane::TTileSet set = meridane::TileSetOf(grid, "bench.mrd");
  try {
    std::unique_ptr<meridane::ITileSink> sink;
    if (format == "mbtiles")
      sink = std::make_unique<meridane::TMbtilesWriter>(argv[2], set);
    else
      sink = std::make_unique<meridane::TPmtilesWriter>(argv[2], set);
    const long long last = meridane::GridSize(set.Zoom) - 1;
    std::string tile;
    unsigned long long bytes = 0;
    // In the order the sink asks for, as the combiner's feed gives it.
    const meridane::TTileOrder order(set, sink->WantsTileIdOrder() && format != "pmtiles-rows");
    for (long long i = 0; i < order.Count(); ++i) {
      const auto [x, y] = order.At(i);
      if (madeUp) {
        tile.assign(92, static_cast<char>('a' + (x + y) % 26));
      } else {
        // One read of the whole file, as a reader of tiles would do it.
        const std::string path = grid.TilePath(x, grid.FromSouth() == 1 ? static_cast<int>(last - y) : y);
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        tile.resize(static_cast<std::size_t>(in.tellg()));
        in.seekg(0).read(tile.data(), static_cast<std::streamsize>(tile.size()));
        if (!in) throw std::runtime_error("Cannot open file " + path);
      }
      tile += std::to_string(x) + "," + std::to_string(y);
      bytes += tile.size();
      sink->Add(x, y, tile);
    }
    sink->Finish();
    std::printf("%lld tiles, %llu bytes\n", set.Count(), bytes);
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
