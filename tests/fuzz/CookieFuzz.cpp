// A cookies file and a home page address of any content: the lookup reads the
// file, and whatever it holds, the request it goes into keeps one header a line.
#include "download/Cookies.h"
#include "download/HttpClient.h"
#include "fuzz/FuzzInput.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = fuzz::Fields(data, size, 2);
  const std::string_view url = fields[0], cookies = fields[1];
  const std::string cookie = CookiesFor(cookies, url, 1'700'000'000);
  if (cookie.empty()) return 0;
  FUZZ_CHECK(cookie.find('\n') == std::string::npos);

  THttpSettings settings;
  settings.Referer = std::string(url);
  settings.ExtraHeaders.push_back("Cookie: " + cookie);
  const std::vector<std::string> lines = RequestHeaderLines(settings, url);
  for (const std::string& line : lines) FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
  FUZZ_CHECK(lines.back().starts_with("Cookie: "));
  return 0;
}
