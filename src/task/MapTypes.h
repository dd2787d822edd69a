#pragma once

#include <string_view>

namespace meridane {

// One kind of map: its entry in the map-type list, the prefix and extension of
// its tile files, the direction its rows count in, and the zoom levels a
// request may ask for (and the one the list selects).
struct TMapType {
  std::string_view Name;  // empty: not offered in the list
  std::string_view Prefix;
  std::string_view Extension;
  int FromSouth;
  int ZoomMin = 1, ZoomMax = 20, ZoomOnSelect = 12;
};

// Map types 0..8; any other index has an empty prefix and extension.
const TMapType& MapTypeOf(int mapsType);

// The map-type list offers types 0 .. ListedMapTypes - 1.
inline constexpr int ListedMapTypes = 8;

// The only map type with a tile URL, and the one every task uses.
inline constexpr int SatelliteMapType = 1;

}  // namespace meridane
