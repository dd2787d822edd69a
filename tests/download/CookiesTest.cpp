#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "config/AtomicFile.h"
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

// Only a regular file of a browser's size is read: a pipe would wait for a
// writer for ever, a device or a huge file would fill the memory.
TEST(Cookies, FilesThatAreNotRead) {
  test::TTempDir dir;
  const std::string line = "\n.google.com\tTRUE\t/\tFALSE\t0\tNID\tabc\n";
  const auto sized = [&dir, &line](const std::string& name, std::uintmax_t size) {
    // Sparse: zeros that take no room, then the cookie at the very end.
    const auto path = dir / name;
    test::WriteAll(path, "");
    std::filesystem::resize_file(path, size - line.size());
    std::ofstream(path, std::ios::binary | std::ios::app) << line;
    return path;
  };
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  struct Case {
    std::filesystem::path File;
    std::string Error;  // empty: read
  };
  const Case cases[] = {
      {dir / "fifo", "Not a regular file: " + (dir / "fifo").string()},
      {"/dev/zero", "Not a regular file: /dev/zero"},
      {dir / "folder", "Not a regular file: " + (dir / "folder").string()},
      {sized("limit.txt", MaxCookieFileBytes), ""},
      {sized("over.txt", MaxCookieFileBytes + 1), "File larger than 16 MB: " + (dir / "over.txt").string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    try {
      EXPECT_EQ(LookupCookie(c.File, "http://maps.google.com/"), "NID=abc");
      EXPECT_EQ(c.Error, "");
    } catch (const EFileError& e) {
      EXPECT_EQ(e.what(), c.Error);
    }
  }
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
