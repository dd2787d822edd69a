// The INI rules on any text: reading never fails, and writing a key reads back
// as written while every other key keeps its value.
#include <optional>
#include <string>
#include <utility>

#include "config/IniFile.h"
#include "fuzz/FuzzInput.h"

namespace {

using namespace meridane;

constexpr std::string_view Blanks = " \t";

// A name the program could write: one the file's own syntax cannot swallow.
bool PlainName(std::string_view name) {
  return !name.empty() && Blanks.find(name.front()) == std::string_view::npos &&
         Blanks.find(name.back()) == std::string_view::npos && name.front() != ';' &&
         name.find_first_of(std::string_view("\r\n=[]\0", 6)) == std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(Blanks);
  return first == std::string_view::npos ? std::string_view() : s.substr(first, s.find_last_not_of(Blanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Section and key names that the text seems to hold, as keys to watch.
std::vector<std::pair<std::string, std::string>> Probes(std::string_view content) {
  std::vector<std::pair<std::string, std::string>> probes = {{"AREA", "LeftLongitude"}, {"THREADS", "T1X"}};
  std::string section;
  while (!content.empty() && probes.size() < 32) {
    const std::size_t lf = content.find('\n');
    const std::string_view line = Trim(content.substr(0, lf));
    content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
    if (line.starts_with('[')) {
      section = Trim(line.substr(1, line.find(']') == std::string_view::npos ? line.npos : line.find(']') - 1));
    } else if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
      probes.emplace_back(section, Trim(line.substr(0, eq)));
    }
  }
  return probes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = fuzz::Fields(data, size, 4);
  std::string content(fields[0]);
  const std::string_view section = fields[1], key = fields[2], value = fields[3];

  int number = 0;
  if (const auto text = ReadIniValue(content, section, key)) ParseDecimalInteger(*text, number);
  if (!PlainName(section) || !PlainName(key)) return 0;

  const auto probes = Probes(content);
  std::vector<std::optional<std::string>> before;
  for (const auto& [s, k] : probes) before.push_back(ReadIniValue(content, s, k));

  SetIniValue(content, section, key, value);
  std::string expected(value);
  for (char& c : expected)
    if (c == '\r' || c == '\n') c = ' ';
  FUZZ_CHECK(ReadIniValue(content, section, key) == std::string(Trim(expected)));
  for (std::size_t i = 0; i < probes.size(); ++i) {
    if (SameName(probes[i].first, section) && SameName(probes[i].second, key)) continue;
    FUZZ_CHECK(ReadIniValue(content, probes[i].first, probes[i].second) == before[i]);
  }
  return 0;
}
