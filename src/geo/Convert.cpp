#include "geo/Convert.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "geo/GeneralReal.h"

namespace meridane {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipDigits(std::string_view text, std::size_t i) {
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i;
}
}  // namespace

long long LeadingExponent(std::string_view number) {
  long long lead = 0;
  bool point = false, significant = false;
  std::size_t i = 0;
  for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
    if (number[i] == '.') {
      point = true;
    } else if (!significant && number[i] == '0') {
      if (point) --lead;
    } else if (!significant) {
      significant = true;
      if (point) --lead;
    } else if (!point) {
      ++lead;
    }
  }
  if (i == number.size()) return lead;
  long long exponent = 0;
  ++i;
  const bool negative = i < number.size() && number[i] == '-';
  if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
  for (; i < number.size(); ++i) exponent = std::min(exponent * 10 + (number[i] - '0'), 1'000'000'000LL);
  return lead + (negative ? -exponent : exponent);
}

std::optional<int> ParseWholeNumber(std::string_view text) {
  std::size_t start = 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) start = 1;
  if (start == text.size() || SkipDigits(text, start) != text.size()) return std::nullopt;
  long long value = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1LL + std::numeric_limits<int>::max()) return std::nullopt;
  }
  if (text[0] == '-') value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(value);
}

float ReadLeadingReal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t mantissa = i;
  i = SkipDigits(text, i);
  bool anyDigit = i > mantissa;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fraction = i + 1;
    const std::size_t after = SkipDigits(text, fraction);
    if (anyDigit || after > fraction) {
      anyDigit = true;
      i = after;
    }
  }
  if (!anyDigit) return 0;
  // An exponent counts only when digits follow it.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t e = i + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    const std::size_t after = SkipDigits(text, e);
    if (after > e) i = after;
  }
  const std::string_view number = text.substr(mantissa, i - mantissa);
  float value = 0;
  auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    // Too large becomes infinite, too small becomes zero, as a float would hold them.
    value = LeadingExponent(number) < 0 ? 0.0f : std::numeric_limits<float>::infinity();
  }
  return negative ? -value : value;
}

std::optional<float> DegreesMinutesSecondsToDegrees(std::string_view degrees, std::string_view minutes,
                                                    std::string_view seconds) {
  const std::optional<int> d = ParseWholeNumber(degrees);
  const std::optional<int> m = ParseWholeNumber(minutes);
  const float s = ReadLeadingReal(seconds);
  if (!d || !m) return std::nullopt;
  constexpr long double OneSixtieth = 1.0L / 60.0L;
  constexpr long double OneThirtySixHundredth = 1.0L / 3600.0L;
  // A sign on the degrees is the angle's: -10 30' is -10.5, not -9.5, and "-0"
  // with minutes is still south or west.
  if (degrees.starts_with('-')) {
    const long double r =
        (std::fabs(static_cast<long double>(*d)) + std::fabs(*m * OneSixtieth)) + OneThirtySixHundredth * std::fabs(s);
    return static_cast<float>(-r);
  }
  const long double r = (static_cast<long double>(*d) + *m * OneSixtieth) + OneThirtySixHundredth * s;
  return static_cast<float>(r);
}

std::optional<std::string> ConvertDegreesText(std::string_view degrees, std::string_view minutes,
                                              std::string_view seconds) {
  const std::optional<float> r = DegreesMinutesSecondsToDegrees(degrees, minutes, seconds);
  if (!r) return std::nullopt;
  return FormatGeneralReal(static_cast<double>(*r));
}

std::optional<double> ParseCoordinate(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i > start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t mantissa = i;
  bool any = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    any = digits() || any;
  }
  if (!any) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data() + mantissa, text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  // A number beyond a double's range is still a number: one too small is 0, one
  // too large is infinite, which the range checks then refuse.
  if (ec == std::errc::result_out_of_range)
    value = LeadingExponent(text.substr(mantissa)) < 0 ? 0.0 : std::numeric_limits<double>::infinity();
  else if (ec != std::errc())
    return std::nullopt;
  return text.front() == '-' ? -value : value;
}

}  // namespace meridane
