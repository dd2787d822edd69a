#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace meridane {

// A cookie file of a browser is far smaller; a larger one is not read.
inline constexpr std::uintmax_t MaxCookieFileBytes = 16 * 1024 * 1024;

// The cookies a browser would send to url, from a Netscape cookies.txt file:
// "name=value; name2=value2", or empty when the file is missing or holds none.
// Throws EFileError naming the problem when the file is no regular file (a
// pipe would wait for a writer for ever, a device never end), is larger than
// MaxCookieFileBytes, or cannot be read.
std::string LookupCookie(const std::filesystem::path& cookieFile, std::string_view url,
                         std::time_t now = std::time(nullptr));
// The same from the file's text.
std::string CookiesFor(std::string_view cookiesText, std::string_view url, std::time_t now);

}  // namespace meridane
