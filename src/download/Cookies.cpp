#include "download/Cookies.h"

#include <limits>
#include <vector>

#include "download/HttpClient.h"
#include "task/TextFile.h"

namespace meridane {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

// A cookie for "/maps" belongs to "/maps" and "/maps/..." but not to "/mapsx".
bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (!requestPath.starts_with(cookiePath)) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') || requestPath[cookiePath.size()] == '/';
}

// The expiry field: seconds since 1970, 0 for a session cookie. Read as
// strtoll would, saturating (atoll's overflow is undefined); a text without a
// number reads as 0, as browsers' files never hold one.
bool Expired(std::string_view field, std::time_t now) {
  std::size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
  const bool negative = i < field.size() && field[i] == '-';
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
  long long expires = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
    expires = expires > (std::numeric_limits<long long>::max() - 9) / 10 ? std::numeric_limits<long long>::max()
                                                                         : expires * 10 + (field[i] - '0');
  if (negative) expires = -expires;
  return expires != 0 && expires < now;
}

// The whole file, or nothing when there is none.
std::string ReadCookieFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found) return {};
  return ReadRegularFile(path, MaxCookieFileBytes);
}

}  // namespace

std::string LookupCookie(const std::filesystem::path& cookieFile, std::string_view url, std::time_t now) {
  if (cookieFile.empty()) return {};
  return CookiesFor(ReadCookieFile(cookieFile), url, now);
}

std::string CookiesFor(std::string_view cookiesText, std::string_view url, std::time_t now) {
  const TUrlParts parts = ParseUrl(url);
  if (parts.Scheme.empty()) return {};
  const bool secure = parts.Scheme == "https";
  const std::string host = Lower(parts.Host);
  std::string_view path = parts.Path.starts_with('/') ? std::string_view(parts.Path) : "/";
  path = path.substr(0, path.find_first_of("?#"));

  std::string cookies;
  while (!cookiesText.empty()) {
    const std::size_t lf = cookiesText.find('\n');
    std::string_view text = cookiesText.substr(0, lf);
    cookiesText.remove_prefix(lf == std::string_view::npos ? cookiesText.size() : lf + 1);
    if (text.ends_with('\r')) text.remove_suffix(1);
    // Browsers mark HttpOnly cookies this way; they are still sent over HTTP.
    if (text.starts_with("#HttpOnly_"))
      text.remove_prefix(10);
    else if (text.empty() || text.front() == '#')
      continue;
    const auto f = Fields(text);
    if (f.size() < 7) continue;
    std::string domain = Lower(f[0]);
    const bool includeSubdomains = f[1] == "TRUE";
    if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
    const bool domainMatches =
        host == domain || (includeSubdomains && host.size() > domain.size() && host.ends_with("." + domain));
    if (!domainMatches || !PathMatches(path, f[2]) || (f[3] == "TRUE" && !secure)) continue;
    if (Expired(f[4], now)) continue;
    if (!cookies.empty()) cookies += "; ";
    cookies += std::string(f[5]) + "=" + std::string(f[6]);
  }
  return cookies;
}

}  // namespace meridane
