#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace meridane {

// The cookies a browser would send to url, from a Netscape cookies.txt file:
// "name=value; name2=value2", or empty when the file is missing or holds none.
std::string LookupCookie(const std::filesystem::path& cookieFile, std::string_view url,
                         std::time_t now = std::time(nullptr));
// The same from the file's text.
std::string CookiesFor(std::string_view cookiesText, std::string_view url, std::time_t now);

}  // namespace meridane
