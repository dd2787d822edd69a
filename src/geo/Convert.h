#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace meridane {

inline constexpr std::string_view InputErrorMessage = "Input Error.";

// Degrees, minutes and seconds to decimal degrees, held as a 32-bit float as the
// converter window shows it. Degrees and minutes must be whole numbers; seconds
// are read leniently. Negative degrees (or "-0") negate the whole angle,
// whatever the signs of minutes and seconds; otherwise the three are added.
// Empty result: the input is refused with InputErrorMessage.
std::optional<float> DegreesMinutesSecondsToDegrees(std::string_view degrees, std::string_view minutes,
                                                    std::string_view seconds);

// The converter's result text: the float widened to double, in general real form.
std::optional<std::string> ConvertDegreesText(std::string_view degrees, std::string_view minutes,
                                              std::string_view seconds);

// A whole number: optional sign and decimal digits, nothing else, within 32 bits.
std::optional<int> ParseWholeNumber(std::string_view text);

// The power of ten of the first significant digit of an unsigned decimal number
// ("0.05e3" gives 1), saturated far beyond any double's range: for a number out
// of a floating type's range, whether it is too large or too small.
long long LeadingExponent(std::string_view number);
// The longest leading decimal number after leading blanks; 0 when there is none.
float ReadLeadingReal(std::string_view text);

// A coordinate as typed: optional sign, digits with an optional "." and
// fraction, an optional exponent, nothing else; "." whatever the locale.
std::optional<double> ParseCoordinate(std::string_view text);

}  // namespace meridane
