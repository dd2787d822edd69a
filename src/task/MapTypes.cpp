#include "task/MapTypes.h"

#include <array>

namespace meridane {

namespace {
// clang-format off
constexpr std::array<TMapType, 9> MapTypes{{
    {"Google Street Maps",                    "gm", "png", 0},
    {"Google Satellite Maps",                 "gs", "jpg", 0},
    {"Google Terrain Maps",                   "gt", "png", 0},
    {"Yahoo Street Maps",                     "yn", "png", 0},
    {"Yahoo Satellite Maps",                  "ys", "jpg", 0},
    {"Microsoft VirtualEarth Street Maps",    "mn", "png", 1},
    {"Microsoft VirtualEarth Satellite Maps", "ms", "jpg", 1},
    {"Microsoft VirtualEarth Hybrid Maps",    "mh", "jpg", 1},
    {"",                                      "os", "png", 0},
}};
// clang-format on
constexpr TMapType Unknown{"", "", "", 0};
}  // namespace

const TMapType& MapTypeOf(int mapsType) {
  if (mapsType < 0 || mapsType >= static_cast<int>(MapTypes.size())) return Unknown;
  return MapTypes[static_cast<std::size_t>(mapsType)];
}

}  // namespace meridane
