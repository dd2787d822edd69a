// The number readers of the input fields against the C library's: a coordinate
// reads as strtod reads it, and the two whole-number readers agree.
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "config/IniFile.h"
#include "fuzz/FuzzInput.h"
#include "geo/Convert.h"
#include "ui/MainForm.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (const auto coordinate = ParseCoordinate(text)) {
    // Accepted texts are plain decimals, which strtod in the C locale reads whole.
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    char* end = nullptr;
    const double expected = std::strtod(text.c_str(), &end);
    FUZZ_CHECK(end == text.c_str() + text.size());
    FUZZ_CHECK(*coordinate == expected || (std::isinf(*coordinate) && std::isinf(expected)));
    FUZZ_CHECK(std::signbit(*coordinate) == std::signbit(expected));
  }

  const auto whole = ParseWholeNumber(text);
  int value = 0;
  const bool integer = ParseDecimalInteger(text, value);
  FUZZ_CHECK(whole.has_value() == integer);
  if (whole) {
    FUZZ_CHECK(*whole == value);
    errno = 0;
    FUZZ_CHECK(std::strtoll(text.c_str(), nullptr, 10) == value && errno == 0);
  }
  return 0;
}
