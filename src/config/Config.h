#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "config/IniFile.h"
#include "meridane/Version.h"

namespace meridane {

// The three places that read config.ini, each with defaults of its own.
enum class TConfigReader { MainWindow, Options, Start };

// One key of config.ini. A null default means that reader does not read the key.
// Defaults starting with "~/" lie in the user's home folder.
struct TConfigKey {
  std::string_view Section;
  std::string_view Name;
  const char* MainWindowDefault;
  const char* OptionsDefault;
  const char* StartDefault;

  const char* DefaultFor(TConfigReader reader) const;
};

// The download folder without a DefaultPath: the main window starts in it and
// the Options dialog shows it, so OK there keeps what the window used.
inline constexpr const char* DefaultDownloadFolder = "~/mrd";

namespace ConfigKeys {
// clang-format off
inline constexpr TConfigKey DefaultPath        {"IniParas", "DefaultPath",        DefaultDownloadFolder, DefaultDownloadFolder, nullptr};
inline constexpr TConfigKey DefaultThreadCount {"IniParas", "DefaultThreadCount", "1",     "3",           nullptr};
inline constexpr TConfigKey Version            {"IniParas", "Version",            ProgramVersion, nullptr, nullptr};
inline constexpr TConfigKey UseProxy           {"Proxy",    "UseProxy",           nullptr, "0",           "0"};
inline constexpr TConfigKey ProxyServer        {"Proxy",    "ProxyServer",        nullptr, "",            ""};
inline constexpr TConfigKey ProxyPort          {"Proxy",    "ProxyPort",          nullptr, "",            ""};
inline constexpr TConfigKey ProxyUsername      {"Proxy",    "ProxyUsername",      nullptr, "",            ""};
inline constexpr TConfigKey ProxyPassword      {"Proxy",    "ProxyPassword",      nullptr, "",            ""};
inline constexpr TConfigKey Host0              {"Servers",  "Host0",              nullptr, nullptr,       "khm0.google.com"};
inline constexpr TConfigKey Host1              {"Servers",  "Host1",              nullptr, nullptr,       "khm1.google.com"};
inline constexpr TConfigKey Host2              {"Servers",  "Host2",              nullptr, nullptr,       "khm2.google.com"};
inline constexpr TConfigKey Host3              {"Servers",  "Host3",              nullptr, nullptr,       "khm3.google.com"};
inline constexpr TConfigKey HomePage           {"Servers",  "HomePage",           nullptr, nullptr,       "http://maps.google.com/"};
inline constexpr TConfigKey UrlTemplate        {"Servers",  "UrlTemplate",        nullptr, nullptr,
                                                "http://{host}/kh/v=91&s={galileo}&x={x}&y={y}&z={z}"};
inline constexpr TConfigKey TilePause          {"Download", "TilePause",          nullptr, nullptr,       "1000"};
inline constexpr TConfigKey CookieFile         {"Download", "CookieFile",         nullptr, nullptr,       ""};
inline constexpr TConfigKey ConnectTimeout     {"Download", "ConnectTimeout",     nullptr, nullptr,       "30"};
inline constexpr TConfigKey StallTimeout       {"Download", "StallTimeout",       nullptr, nullptr,       "60"};
inline constexpr TConfigKey TileTimeout        {"Download", "TileTimeout",        nullptr, nullptr,       "300"};
inline constexpr TConfigKey MaxTileBytes       {"Download", "MaxTileBytes",       nullptr, nullptr,       "16777216"};
// clang-format on
}  // namespace ConfigKeys

// What the main window reads once, when it is first shown.
struct TMainWindowConfig {
  std::string DefaultPath;
  int DefaultThreadCount = 1;
  std::string Version;
};

// What the Options dialog shows and saves.
struct TOptionsConfig {
  std::string DefaultPath;
  int DefaultThreadCount = 3;
  bool UseProxy = false;
  std::string ProxyServer, ProxyPort, ProxyUsername, ProxyPassword;
};

// What Start reads afresh for every task.
struct TStartConfig {
  bool UseProxy = false;
  std::string ProxyServer, ProxyPort, ProxyUsername, ProxyPassword;
  std::array<std::string, 4> Hosts;
  std::string HomePage;
  std::string UrlTemplate;
  int TilePauseMs = 1000;
  std::string CookieFile;
  int ConnectTimeoutSeconds = 30;
  int StallTimeoutSeconds = 60;
  int TileTimeoutSeconds = 300;
  int MaxTileBytes = 16 * 1024 * 1024;
};

// Reads and writes config.ini through the key table above.
class TConfig {
 public:
  // A file the Options dialog creates is the user's alone: it may hold the proxy password.
  explicit TConfig(std::filesystem::path path) : Ini(std::move(path), TNewFile::OwnerOnly) {}

  const std::filesystem::path& FileName() const { return Ini.FileName(); }

  std::string ReadText(const TConfigKey& key, TConfigReader reader) const;
  int ReadNumber(const TConfigKey& key, TConfigReader reader) const;

  TMainWindowConfig ReadMainWindow() const;
  TOptionsConfig ReadOptions() const;
  // Key by key in the dialog's order; a failure leaves the earlier keys written.
  void WriteOptions(const TOptionsConfig& options) const;
  TStartConfig ReadStart() const;

 private:
  TIniFile Ini;
};

// "ini/config.ini" in the given program folder.
std::filesystem::path ConfigPathIn(const std::filesystem::path& programFolder);

// Whether the current user may create and replace files in the folder.
bool FolderWritable(const std::filesystem::path& folder);
using TWritableCheck = std::function<bool(const std::filesystem::path&)>;

// Where config.ini is read, and where the Options dialog writes it.
struct TConfigLocation {
  std::filesystem::path Read;
  std::filesystem::path Write;
  // Write is the user's own file: its folder may be missing, and until it exists
  // Read is the file shipped in the program folder.
  bool PerUser = false;
};

// $MERIDANE_CONFIG when set and not empty, read and written alike (a trial
// configuration, such as the demo tile server's, that leaves the user's own
// file alone). Otherwise the program folder's ini/config.ini when that can be
// written (its ini/ folder, or the program folder when ini/ is missing); else
// the user's $XDG_CONFIG_HOME/meridane/config.ini (~/.config/... when that
// variable is unset, empty or relative), read from the program folder's file
// until it exists. The environment and the folders are looked at afresh at
// every call.
TConfigLocation LocateConfig(const std::filesystem::path& programFolder,
                             const TWritableCheck& writable = FolderWritable);

// Where a window reads config.ini: the file given (a test's, or --config), or
// else LocateConfig's Read in the program folder (the running program's when
// empty). Resolved at every read: the user's file appears with the Options
// dialog's first OK.
struct TConfigSource {
  TConfigSource(std::filesystem::path given = {}, std::filesystem::path programFolder = {})
      : Given(std::move(given)), Folder(std::move(programFolder)) {}
  std::filesystem::path Read() const;
  std::filesystem::path Given, Folder;
};

// The folder of the running executable, where the companion files lie.
std::filesystem::path ProgramFolder();

// "~/name" in the user's home folder; any other text unchanged.
std::string ExpandHome(std::string_view path);

}  // namespace meridane
