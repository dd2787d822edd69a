// demo-tiles FOLDER ZOOM MINX MINY MAXX MAXY: writes the demo tile server's
// tiles for that area (and its background at zooms 0-8) as FOLDER/Z/X/Y.jpg.
#include <charconv>
#include <cstdio>
#include <exception>
#include <string_view>

#include "demo/DemoTiles.h"

namespace {

bool Number(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  int n[5];
  bool ok = argc == 7;
  for (int i = 0; ok && i < 5; ++i) ok = Number(argv[i + 2], n[i]);
  ok = ok && n[0] <= 20 && n[1] <= n[3] && n[2] <= n[4] && n[3] < (1 << n[0]) && n[4] < (1 << n[0]);
  if (!ok) {
    std::fprintf(stderr, "usage: demo-tiles FOLDER ZOOM MINX MINY MAXX MAXY (zoom at most 20, the area within it)\n");
    return 2;
  }
  try {
    const auto tiles = meridane::DemoTileSet(n[0], n[1], n[2], n[3], n[4]);
    meridane::WriteDemoTiles(argv[1], tiles);
    std::printf("%zu tiles in %s\n", tiles.size(), argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "demo-tiles: %s\n", e.what());
    return 1;
  }
  return 0;
}
