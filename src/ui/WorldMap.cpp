#include "ui/WorldMap.h"

#include <charconv>
#include <cstdint>
#include <cstring>

// The data's digest, which a compiler cache sees change with it.
#include MERIDANE_WORLD_STAMP

namespace meridane {

// The build's converted data (see scripts/world-data.mjs), linked in as it is.
extern "C" const unsigned char meridane_world_bin[], meridane_world_bin_end[];
extern "C" const char meridane_places_tsv[], meridane_places_tsv_end[];

asm("# data " MERIDANE_WORLD_DATA_STAMP "\n"
    ".section .rodata\n"
    ".balign 4\n"
    ".global meridane_world_bin\nmeridane_world_bin:\n.incbin \"" MERIDANE_WORLD_BIN "\"\n"
    ".global meridane_world_bin_end\nmeridane_world_bin_end:\n"
    ".global meridane_places_tsv\nmeridane_places_tsv:\n.incbin \"" MERIDANE_PLACES_TSV "\"\n"
    ".global meridane_places_tsv_end\nmeridane_places_tsv_end:\n"
    ".previous\n");

namespace {

std::uint32_t ReadCount(const unsigned char*& at, const unsigned char* end) {
  std::uint32_t count = 0;
  if (end - at < 4) return 0;
  std::memcpy(&count, at, 4);
  at += 4;
  return count;
}

std::vector<std::vector<TWorldPoint2>> ReadLines(const unsigned char*& at, const unsigned char* end) {
  std::vector<std::vector<TWorldPoint2>> lines(ReadCount(at, end));
  for (auto& line : lines) {
    const std::uint32_t points = ReadCount(at, end);
    if (static_cast<std::size_t>(end - at) / sizeof(TWorldPoint2) < points) break;
    line.resize(points);
    std::memcpy(line.data(), at, points * sizeof(TWorldPoint2));
    at += points * sizeof(TWorldPoint2);
  }
  return lines;
}

std::string_view Field(std::string_view& line) {
  const std::size_t tab = line.find('\t');
  const std::string_view field = line.substr(0, tab);
  line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
  return field;
}

// Whatever the locale: the data has "." for the decimal point.
template <class T>
void Number(std::string_view text, T& value) {
  std::from_chars(text.data(), text.data() + text.size(), value);
}

// U+00C0..U+017F without their accents, in lower case.
constexpr std::string_view LatinFolded =
    "aaaaaaaceeeeiiiidnoooooxouuuuytsaaaaaaaceeeeiiiidnooooo/ouuuuytyaaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiii"
    "iiiiiijjkkkllllllllllnnnnnnnnnoooooooorrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
static_assert(LatinFolded.size() == 0x180 - 0xC0);

}  // namespace

const TWorldOutlines& WorldOutlines() {
  static const TWorldOutlines outlines = [] {
    TWorldOutlines o;
    const unsigned char* at = meridane_world_bin;
    o.Land = ReadLines(at, meridane_world_bin_end);
    o.Lines = ReadLines(at, meridane_world_bin_end);
    return o;
  }();
  return outlines;
}

std::string PlaceKey(std::string_view text) {
  std::string key;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char folded = static_cast<char>(c);
    if (c >= 'A' && c <= 'Z') {
      folded = static_cast<char>(c - 'A' + 'a');
    } else if ((c == 0xC3 || c == 0xC4 || c == 0xC5) && i + 1 < text.size()) {
      const unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      if (code >= 0xC0 && code < 0x180) {
        folded = LatinFolded[code - 0xC0];
        ++i;
      }
    } else if (c == ' ' || c == '\t') {
      if (key.empty() || key.back() == ' ') continue;
      folded = ' ';
    }
    key += folded;
  }
  if (!key.empty() && key.back() == ' ') key.pop_back();
  return key;
}

std::vector<TPlace> FindPlaces(std::string_view text, std::size_t max) {
  std::vector<TPlace> found;
  const std::string key = PlaceKey(text);
  if (key.size() < 2) return found;
  const std::string word = " " + key;
  std::string_view rest(meridane_places_tsv, static_cast<std::size_t>(meridane_places_tsv_end - meridane_places_tsv));
  while (!rest.empty() && found.size() < max) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::string_view searched = Field(line);
    if (!searched.starts_with(key) && searched.find(word) == std::string_view::npos) continue;
    TPlace place;
    place.Name = Field(line);
    place.Country = Field(line);
    Number(Field(line), place.Population);
    Number(Field(line), place.Lat);
    Number(Field(line), place.Lon);
    found.push_back(std::move(place));
  }
  return found;
}

}  // namespace meridane
