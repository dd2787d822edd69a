// The converter's fields: degrees and minutes strict, the seconds read as the
// longest leading decimal number, as strtof reads one in the C locale; the
// degrees' minus sign is the whole angle's.
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzInput.h"
#include "geo/Convert.h"

using namespace meridane;

namespace {

// Whether strtof would read the same number: blanks, a sign, then a decimal
// (strtof also takes more blanks, hexadecimal, "inf" and "nan").
bool PlainDecimal(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  if (text[i] == '+' || text[i] == '-') ++i;
  auto digit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
  if (text.substr(i).starts_with("0x") || text.substr(i).starts_with("0X")) return false;
  return digit(i) || (i < text.size() && text[i] == '.' && digit(i + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = fuzz::Fields(data, size, 3);
  (void)ConvertDegreesText(fields[0], fields[1], fields[2]);
  // Negative degrees make a negative angle, whatever minutes and seconds say.
  const auto degrees = DegreesMinutesSecondsToDegrees(fields[0], fields[1], fields[2]);
  if (degrees && fields[0].starts_with('-')) FUZZ_CHECK(std::signbit(*degrees));

  const std::string seconds(fields[2]);
  const float value = ReadLeadingReal(seconds);
  if (!PlainDecimal(seconds)) {
    FUZZ_CHECK(value == 0);
    return 0;
  }
  const float expected = std::strtof(seconds.c_str(), nullptr);
  // A float too small for a normal number may read as 0.
  FUZZ_CHECK(value == expected || (value == 0 && std::fabs(expected) < FLT_MIN));
  FUZZ_CHECK(std::signbit(value) == std::signbit(expected));
  return 0;
}
