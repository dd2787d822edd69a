#include "geo/GeneralReal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace meridane {

namespace {
constexpr int Precision = 15;
}

std::string FormatGeneralReal(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";

  // to_chars rounds correctly to 15 significant digits and never looks at the locale.
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific, Precision - 1);
  (void)ec;
  *end = '\0';  // the exponent is read with atoi
  const std::string_view text(buf, static_cast<std::size_t>(end - buf));
  const bool negative = text.front() == '-';
  const std::size_t ePos = text.find('e');
  std::string digits;
  for (char c : text.substr(negative ? 1 : 0, ePos - (negative ? 1 : 0)))
    if (c != '.') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  // Decimal exponent such that value = 0.d1d2d3... * 10^exponent.
  const int exponent = std::atoi(text.data() + ePos + 1) + 1;

  std::string out = negative ? "-" : "";
  if (exponent > Precision || exponent < -3) {
    out += digits[0];
    if (digits.size() > 1) (out += '.') += digits.substr(1);
    out += 'E';
    out += std::to_string(exponent - 1);
    return out;
  }
  if (exponent <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent), '0');
    out += digits;
    return out;
  }
  const auto whole = static_cast<std::size_t>(exponent);
  if (digits.size() <= whole) {
    out += digits;
    out.append(whole - digits.size(), '0');
  } else {
    out += digits.substr(0, whole);
    (out += '.') += digits.substr(whole);
  }
  return out;
}

}  // namespace meridane
