#include "download/Cookies.h"

#include <fstream>
#include <vector>

#include "download/HttpClient.h"

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

}  // namespace

std::string LookupCookie(const std::filesystem::path& cookieFile, std::string_view url, std::time_t now) {
  if (cookieFile.empty()) return {};
  std::ifstream in(cookieFile);
  if (!in) return {};

  const TUrlParts parts = ParseUrl(url);
  if (parts.Scheme.empty()) return {};
  const bool secure = parts.Scheme == "https";
  const std::string host = Lower(parts.Host);
  std::string_view path = parts.Path.starts_with('/') ? std::string_view(parts.Path) : "/";
  path = path.substr(0, path.find_first_of("?#"));

  std::string cookies;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view text = line;
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
    const long long expires = std::atoll(std::string(f[4]).c_str());
    if (expires != 0 && expires < now) continue;
    if (!cookies.empty()) cookies += "; ";
    cookies += std::string(f[5]) + "=" + std::string(f[6]);
  }
  return cookies;
}

}  // namespace meridane
