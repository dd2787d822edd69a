#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "config/Config.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

using namespace test;

// A program folder with an empty "ini" folder, and HOME at a known place.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Home.Set("/home/tester");
    std::filesystem::create_directory(Dir / "ini");
  }
  TConfig Config() const { return TConfig(ConfigPathIn(Dir.Path())); }
  void Store(const std::string& content) const { WriteAll(ConfigPathIn(Dir.Path()), content); }

  TEnvironmentGuard Home{"HOME"};
  TTempDir Dir;
};

TEST_F(ConfigTest, DefaultsWithoutFile) {
  const TMainWindowConfig main = Config().ReadMainWindow();
  EXPECT_EQ(main.DefaultPath, "/home/tester/mrd");
  EXPECT_EQ(main.DefaultThreadCount, 1);
  EXPECT_EQ(main.Version, "6.91");

  const TOptionsConfig options = Config().ReadOptions();
  EXPECT_EQ(options.DefaultPath, "/home/tester/mrd");  // one default folder for both
  EXPECT_EQ(options.DefaultThreadCount, 3);
  EXPECT_FALSE(options.UseProxy);
  EXPECT_EQ(options.ProxyServer + options.ProxyPort + options.ProxyUsername + options.ProxyPassword, "");

  const TStartConfig start = Config().ReadStart();
  EXPECT_FALSE(start.UseProxy);
  EXPECT_EQ(start.ProxyServer + start.ProxyPort + start.ProxyUsername + start.ProxyPassword, "");
  const std::array<std::string, 4> hosts = {"khm0.google.com", "khm1.google.com", "khm2.google.com", "khm3.google.com"};
  EXPECT_EQ(start.Hosts, hosts);
  EXPECT_EQ(start.HomePage, "http://maps.google.com/");
  EXPECT_EQ(start.UrlTemplate, "http://{host}/kh/v=91&s={galileo}&x={x}&y={y}&z={z}");
  EXPECT_EQ(start.TilePauseMs, 1000);
  EXPECT_EQ(start.CookieFile, "");
  EXPECT_EQ(start.ConnectTimeoutSeconds, 30);
  EXPECT_EQ(start.StallTimeoutSeconds, 60);
  EXPECT_EQ(start.TileTimeoutSeconds, 300);
  EXPECT_EQ(start.MaxTileBytes, 16 * 1024 * 1024);
  // Reading must never create the file.
  EXPECT_FALSE(std::filesystem::exists(Config().FileName()));
}

TEST_F(ConfigTest, UseProxyOnlyForOne) {
  for (const auto& [value, expected] :
       {std::pair{"1", true}, {" 1 ", true}, {"0", false}, {"2", false}, {"yes", false}, {"-1", false}, {"", false}}) {
    Store(std::string("[Proxy]\r\nUseProxy=") + value + "\r\n");
    EXPECT_EQ(Config().ReadOptions().UseProxy, expected) << value;
    EXPECT_EQ(Config().ReadStart().UseProxy, expected) << value;
  }
}

TEST_F(ConfigTest, StoredValuesAndFallbacks) {
  Store("[iniparas]\r\nDefaultThreadCount=abc\r\nDefaultPath=\r\n");
  EXPECT_EQ(Config().ReadOptions().DefaultThreadCount, 3);
  EXPECT_EQ(Config().ReadMainWindow().DefaultThreadCount, 1);
  // An empty stored path is the user's choice, not a missing key.
  EXPECT_EQ(Config().ReadOptions().DefaultPath, "");
  EXPECT_EQ(Config().ReadMainWindow().DefaultPath, "");

  Store(
      "[Download]\r\nTilePause=-5\r\nConnectTimeout=-1\r\nStallTimeout=0\r\nTileTimeout=-3\r\nMaxTileBytes=0\r\n"
      "[Servers]\r\nHost2=h2\r\n");
  TStartConfig start = Config().ReadStart();
  EXPECT_EQ(start.TilePauseMs, 1000);
  EXPECT_EQ(start.ConnectTimeoutSeconds, 30);
  EXPECT_EQ(start.StallTimeoutSeconds, 0);
  EXPECT_EQ(start.TileTimeoutSeconds, 300);
  EXPECT_EQ(start.MaxTileBytes, 16 * 1024 * 1024);
  EXPECT_EQ(start.Hosts[1], "khm1.google.com");
  EXPECT_EQ(start.Hosts[2], "h2");
  Store("[Download]\r\nTileTimeout=0\r\nMaxTileBytes=1\r\n");
  start = Config().ReadStart();
  EXPECT_EQ(start.TileTimeoutSeconds, 0);
  EXPECT_EQ(start.MaxTileBytes, 1);
}

TEST_F(ConfigTest, LargeThreadCountSurvivesRoundTrip) {
  Store("[IniParas]\r\nDefaultThreadCount=100\r\n");
  EXPECT_EQ(Config().ReadOptions().DefaultThreadCount, 100);
  Config().WriteOptions(Config().ReadOptions());
  EXPECT_NE(ReadAll(Config().FileName()).find("\r\nDefaultThreadCount=100\r\n"), std::string::npos);
}

TEST_F(ConfigTest, WriteOptionsCreatesFile) {
  Config().WriteOptions({"/data/tiles", 5, true, "proxy.local", "8080", "me", "p=w"});
  const TOptionsConfig b = Config().ReadOptions();
  EXPECT_TRUE(b.UseProxy);
  EXPECT_EQ(b.DefaultPath + "|" + std::to_string(b.DefaultThreadCount) + "|" + b.ProxyServer + "|" + b.ProxyPort + "|" +
                b.ProxyUsername + "|" + b.ProxyPassword,
            "/data/tiles|5|proxy.local|8080|me|p=w");
  EXPECT_EQ(ReadAll(Config().FileName()),
            "[IniParas]\r\nDefaultPath=/data/tiles\r\nDefaultThreadCount=5\r\n\r\n"
            "[Proxy]\r\nUseProxy=1\r\nProxyServer=proxy.local\r\nProxyPort=8080\r\n"
            "ProxyUsername=me\r\nProxyPassword=p=w\r\n");
}

TEST(Config, WriteOptionsIntoMissingFolderThrows) {
  TTempDir dir;
  const auto path = ConfigPathIn(dir.Path());
  try {
    TConfig(path).WriteOptions(TOptionsConfig{});
    ADD_FAILURE() << "no error";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path.string());
  }
}

TEST(Config, ConfigPathIn) {
  TTempDir dir;
  const std::string expected = (dir.Path() / "ini" / "config.ini").string();
  EXPECT_EQ(ConfigPathIn(dir.Path()).string(), expected);
  EXPECT_EQ(ConfigPathIn(dir.Folder()).string(), expected);
}

// A program folder holding ini/, HOME and XDG_CONFIG_HOME beside it.
struct TLookup {
  TLookup() {
    Home.Set((Dir / "home").string());
    Xdg.Set((Dir / "xdg").string());
    ::unsetenv("MERIDANE_CONFIG");
    std::filesystem::create_directories(Program / "ini");
  }
  TEnvironmentGuard Home{"HOME"}, Xdg{"XDG_CONFIG_HOME"}, Own{"MERIDANE_CONFIG"};
  TTempDir Dir;
  std::filesystem::path Program = Dir / "program", Shipped = ConfigPathIn(Program);
  std::filesystem::path HomeConfig = Dir / "home/.config/meridane/config.ini";
  std::filesystem::path XdgConfig = Dir / "xdg/meridane/config.ini";
};

TEST(Config, LocateConfig) {
  enum TWhere { Shipped, HomeConfig, XdgConfig };
  // The package's ini/ is a link to the folder of the shipped defaults.
  enum TIni { IniFolder, NoIni, IniLink };
  const struct {
    const char* Name;
    TIni Ini;
    bool IniWritable, ProgramWritable;
    std::optional<std::string> Xdg;  // none: unset; "@": the absolute folder
    bool UserFileExists;
    TWhere Read, Write;
  } cases[] = {
      {"writable ini folder", IniFolder, true, false, "@", true, Shipped, Shipped},
      {"writable program folder without ini", NoIni, false, true, "@", false, Shipped, Shipped},
      {"read-only ini folder in a writable program folder", IniFolder, false, true, "@", false, Shipped, XdgConfig},
      {"read-only program folder without ini", NoIni, false, false, "@", false, Shipped, XdgConfig},
      {"ini a link to a read-only folder", IniLink, false, false, "@", false, Shipped, XdgConfig},
      {"ini a link to a read-only folder in a writable program folder", IniLink, false, true, "@", false, Shipped,
       XdgConfig},
      {"ini a link, the user's file exists", IniLink, false, false, "@", true, XdgConfig, XdgConfig},
      {"user's file exists", IniFolder, false, false, "@", true, XdgConfig, XdgConfig},
      {"XDG_CONFIG_HOME unset", IniFolder, false, false, std::nullopt, false, Shipped, HomeConfig},
      {"XDG_CONFIG_HOME empty", IniFolder, false, false, "", true, HomeConfig, HomeConfig},
      {"XDG_CONFIG_HOME relative", IniFolder, false, false, "rel", true, HomeConfig, HomeConfig},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TLookup at;
    if (!c.Xdg) ::unsetenv("XDG_CONFIG_HOME");
    if (c.Xdg && c.Xdg != "@") at.Xdg.Set(*c.Xdg);
    if (c.Ini != IniFolder) std::filesystem::remove(at.Program / "ini");
    if (c.Ini == IniLink) {
      std::filesystem::create_directories(at.Dir / "etc/meridane");
      std::filesystem::create_directory_symlink(at.Dir / "etc/meridane", at.Program / "ini");
    }
    const std::filesystem::path user = c.Xdg == "@" ? at.XdgConfig : at.HomeConfig;
    if (c.UserFileExists) {
      std::filesystem::create_directories(user.parent_path());
      WriteAll(user, "");
    }
    std::set<std::filesystem::path> readOnly;
    if (!c.IniWritable) readOnly.insert(at.Program / "ini");
    if (!c.ProgramWritable) readOnly.insert(at.Program);
    const TConfigLocation found =
        LocateConfig(at.Program, [&](const std::filesystem::path& folder) { return !readOnly.contains(folder); });
    const std::filesystem::path paths[] = {at.Shipped, at.HomeConfig, at.XdgConfig};
    EXPECT_EQ(found.Read, paths[c.Read]);
    EXPECT_EQ(found.Write, paths[c.Write]);
    EXPECT_EQ(found.PerUser, c.Write != Shipped);
  }
}

// MERIDANE_CONFIG names the file to read and write wherever the others lie;
// --config (the given file) still wins, and an empty value counts as unset.
TEST(Config, MeridaneConfigComesFirst) {
  TLookup at;
  const std::filesystem::path own = at.Dir / "trial.ini";
  std::filesystem::create_directories(at.XdgConfig.parent_path());
  WriteAll(at.XdgConfig, "");
  at.Own.Set(own.string());
  for (const bool writable : {true, false}) {
    const TConfigLocation found = LocateConfig(at.Program, [&](const std::filesystem::path&) { return writable; });
    EXPECT_EQ(found.Read, own);
    EXPECT_EQ(found.Write, own);
    EXPECT_FALSE(found.PerUser);
  }
  EXPECT_EQ(TConfigSource({}, at.Program).Read(), own);
  EXPECT_EQ(TConfigSource(at.Dir / "given.ini", at.Program).Read(), at.Dir / "given.ini");
  at.Own.Set("");
  EXPECT_EQ(TConfigSource({}, at.Program).Read(), at.Shipped);
}

TEST(Config, LocateConfigChecksTheFoldersPermissions) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any folder";
  TLookup at;
  namespace fs = std::filesystem;
  for (const fs::path& folder : {at.Program / "ini", at.Program})
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  const TConfigLocation found = LocateConfig(at.Program);
  for (const fs::path& folder : {at.Program, at.Program / "ini"}) fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(found.Write, at.XdgConfig);
}

}  // namespace
}  // namespace meridane
