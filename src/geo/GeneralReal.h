#pragma once

#include <string>

namespace meridane {

// The "general real" text of a number: at most 15 significant digits, trailing
// zeros dropped, "." as the decimal separator whatever the locale, and exponent
// form (5E-5, 1E15) for magnitudes below 0.0001 or of 16 digits and more.
std::string FormatGeneralReal(double value);

}  // namespace meridane
