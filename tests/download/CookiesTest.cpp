#include <gtest/gtest.h>

#include "download/Cookies.h"
#include "download/HttpClient.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

TEST(Cookies, NetscapeFileLookup) {
  test::TTempDir dir;
  const auto file = dir / "cookies.txt";
  test::WriteAll(file,
                 "# Netscape HTTP Cookie File\n"
                 ".google.com\tTRUE\t/\tFALSE\t0\tNID\tabc\n"
                 "maps.google.com\tFALSE\t/\tFALSE\t4102444800\tPREF\tid=1\r\n"
                 "#HttpOnly_.google.com\tTRUE\t/\tFALSE\t0\tHSID\th1\n"
                 ".google.com\tTRUE\t/\tTRUE\t0\tSECURE\ts\n"
                 ".google.com\tTRUE\t/maps\tFALSE\t0\tDEEP\td\n"
                 ".google.com\tTRUE\t/\tFALSE\t1000\tOLD\to\n"
                 "google.com\tFALSE\t/\tFALSE\t0\tEXACT\te\n"
                 // Expiry times beyond 64 bits: far in the future, long past.
                 "far.example\tFALSE\t/\tFALSE\t99999999999999999999\tFAR\tf\n"
                 "far.example\tFALSE\t/\tFALSE\t-99999999999999999999\tGONE\tg\n"
                 "broken line\n");
  struct Case {
    const char* Url;
    const char* Cookie;
  };
  const Case cases[] = {
      {"http://maps.google.com/", "NID=abc; PREF=id=1; HSID=h1"},
      {"https://maps.google.com/", "NID=abc; PREF=id=1; HSID=h1; SECURE=s"},
      {"http://maps.google.com/maps/x", "NID=abc; PREF=id=1; HSID=h1; DEEP=d"},
      {"http://maps.google.com/maps?x=1", "NID=abc; PREF=id=1; HSID=h1; DEEP=d"},
      {"http://maps.google.com/mapsx", "NID=abc; PREF=id=1; HSID=h1"},
      {"http://maps.google.com/?p=/maps/", "NID=abc; PREF=id=1; HSID=h1"},
      {"http://MAPS.Google.com:80/", "NID=abc; PREF=id=1; HSID=h1"},
      {"http://google.com/", "NID=abc; HSID=h1; EXACT=e"},
      {"http://other.example/", ""},
      {"http://far.example/", "FAR=f"},
      {"http://notgoogle.com/", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupCookie(file, c.Url, 2000), c.Cookie) << c.Url;
  EXPECT_EQ(LookupCookie(dir / "missing.txt", "http://maps.google.com/"), "");
  EXPECT_EQ(LookupCookie("", "http://maps.google.com/"), "");
}

}  // namespace
}  // namespace meridane

namespace meridane {
namespace {

// The cookie lookup and the Host line both read URLs through this.
TEST(Url, Parts) {
  struct Case {
    const char *Url, *Scheme, *Authority, *Host, *Port, *Path;
  };
  const Case cases[] = {
      {"http://maps.google.com/", "http", "maps.google.com", "maps.google.com", "", "/"},
      {"HTTPS://u:p@Host:8443/a?b#c", "https", "Host:8443", "Host", "8443", "/a?b#c"},
      {"http://[::1]:8080?x", "http", "[::1]:8080", "[::1]", "8080", "?x"},
      {"http://[::1]", "http", "[::1]", "[::1]", "", ""},
      {"no scheme", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    const TUrlParts p = ParseUrl(c.Url);
    EXPECT_EQ(p.Scheme + "|" + p.Authority + "|" + p.Host + "|" + p.Port + "|" + p.Path,
              std::string(c.Scheme) + "|" + c.Authority + "|" + c.Host + "|" + c.Port + "|" + c.Path)
        << c.Url;
  }
}

}  // namespace
}  // namespace meridane
