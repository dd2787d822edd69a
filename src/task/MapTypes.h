#pragma once

#include <string_view>

namespace meridane {

// One kind of map: its entry in the map-type list, the prefix and extension of
// its tile files and the direction its rows count in.
struct TMapType {
  std::string_view Name;  // empty: not offered in the list
  std::string_view Prefix;
  std::string_view Extension;
  int FromSouth;
};

// Map types 0..8; any other index has an empty prefix and extension.
const TMapType& MapTypeOf(int mapsType);

// The only map type with a tile URL, and the one every task uses.
inline constexpr int SatelliteMapType = 1;

}  // namespace meridane
