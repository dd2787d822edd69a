#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace meridane {

// "%20.14f": 14 decimals after a point, right-aligned in 20 characters.
// Writes exactly 20 characters into out (more only for magnitudes of 1e5 and up,
// which no longitude or latitude reaches) and returns how many.
std::size_t FormatFixed20(double value, char* out);
std::string FormatFixed20(double value);

// The local date and time as the user's LC_TIME locale writes it ("%x %X").
std::string FormatDateTime(std::time_t when);

// Gives the date-time text of "now"; tests replace it to get fixed files.
using TNowText = std::function<std::string()>;
std::string NowText();

}  // namespace meridane
