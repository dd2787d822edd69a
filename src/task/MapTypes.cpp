#include "task/MapTypes.h"

#include <array>

namespace meridane {

namespace {
// clang-format off
constexpr std::array<TMapType, 9> MapTypes{{
    {"Google Street Maps",                    "gm", "png", 0, 1, 19, 12},
    {"Google Satellite Maps",                 "gs", "jpg", 0, 1, 20, 12},
    {"Google Terrain Maps",                   "gt", "png", 0, 1, 15, 12},
    {"Yahoo Street Maps",                     "yn", "png", 0, 1, 18, 12},
    {"Yahoo Satellite Maps",                  "ys", "jpg", 0, 1, 18, 12},
    {"Microsoft VirtualEarth Street Maps",    "mn", "png", 1, 1, 19, 12},
    {"Microsoft VirtualEarth Satellite Maps", "ms", "jpg", 1, 1, 19, 12},
    {"Microsoft VirtualEarth Hybrid Maps",    "mh", "jpg", 1, 1, 19, 12},
    {"",                                      "os", "png", 0, 1, 20, 12},
}};
// clang-format on
static_assert(ListedMapTypes < static_cast<int>(MapTypes.size()) && !MapTypes[ListedMapTypes - 1].Name.empty() &&
              MapTypes[ListedMapTypes].Name.empty());
constexpr TMapType Unknown{"", "", "", 0};
}  // namespace

const TMapType& MapTypeOf(int mapsType) {
  if (mapsType < 0 || mapsType >= static_cast<int>(MapTypes.size())) return Unknown;
  return MapTypes[static_cast<std::size_t>(mapsType)];
}

}  // namespace meridane
