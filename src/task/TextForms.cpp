#include "task/TextForms.h"

#include <charconv>
#include <cstring>

namespace meridane {

std::size_t FormatFixed20(double value, char* out) {
  // to_chars ignores the locale, so the point stays a point.
  char digits[400];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 14);
  (void)ec;
  const auto length = static_cast<std::size_t>(end - digits);
  const std::size_t pad = length < 20 ? 20 - length : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, digits, length);
  return pad + length;
}

std::string FormatFixed20(double value) {
  char buffer[420];
  return std::string(buffer, FormatFixed20(value, buffer));
}

std::string FormatDateTime(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char buffer[256];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%x %X", &local);
  return std::string(buffer, length);
}

std::string NowText() { return FormatDateTime(std::time(nullptr)); }

}  // namespace meridane
