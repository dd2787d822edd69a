#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

// What the map dialog shows without a network, shipped inside the program:
// land and country outlines (Natural Earth, 1:50m) and a gazetteer of the
// places of at least 15,000 people (GeoNames).

struct TWorldPoint2 {
  float Lon = 0, Lat = 0;
};
struct TWorldOutlines {
  std::vector<std::vector<TWorldPoint2>> Land;   // closed rings, to fill
  std::vector<std::vector<TWorldPoint2>> Lines;  // coasts and borders, each once
};
// Read once, on the first call.
const TWorldOutlines& WorldOutlines();

struct TPlace {
  std::string Name, Country;  // "Zürich", "CH"
  long long Population = 0;
  double Lat = 0, Lon = 0;
};
// The places whose name, or a word of it, begins with text, the most populous
// first, at most max. Case and accents do not count ("zurich" finds Zürich);
// fewer than two letters find nothing.
std::vector<TPlace> FindPlaces(std::string_view text, std::size_t max = 12);

// Lower case without accents, runs of blanks as one space, trimmed: how names
// are compared. Latin letters of UTF-8 are folded; other text stays as it is.
std::string PlaceKey(std::string_view text);

}  // namespace meridane
