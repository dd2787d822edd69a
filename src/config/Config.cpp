#include "config/Config.h"

#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace meridane {

namespace fs = std::filesystem;

namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
#ifdef _WIN32
  if (const char* profile = std::getenv("USERPROFILE"); profile && *profile) return profile;
#else
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
#endif
  return fs::path("/").string();
}

// $XDG_CONFIG_HOME/meridane/config.ini; a relative value is ignored, as the
// base directory rules ask.
fs::path UserConfigPath() {
  fs::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) base = xdg;
  if (!base.is_absolute()) base = fs::path(HomeFolder()) / ".config";
  return base / "meridane" / "config.ini";
}

}  // namespace

const char* TConfigKey::DefaultFor(TConfigReader reader) const {
  switch (reader) {
    case TConfigReader::MainWindow: return MainWindowDefault;
    case TConfigReader::Options: return OptionsDefault;
    case TConfigReader::Start: return StartDefault;
  }
  return nullptr;
}

std::string ExpandHome(std::string_view path) {
  if (!path.starts_with("~/")) return std::string(path);
  return (fs::path(HomeFolder()) / fs::path(path.substr(2))).string();
}

std::string TConfig::ReadText(const TConfigKey& key, TConfigReader reader) const {
  const char* fallback = key.DefaultFor(reader);
  return Ini.ReadString(key.Section, key.Name, ExpandHome(fallback ? fallback : ""));
}

int TConfig::ReadNumber(const TConfigKey& key, TConfigReader reader) const {
  const char* fallback = key.DefaultFor(reader);
  int defaultValue = 0;
  if (fallback) ParseDecimalInteger(fallback, defaultValue);
  return Ini.ReadInteger(key.Section, key.Name, defaultValue);
}

TMainWindowConfig TConfig::ReadMainWindow() const {
  constexpr auto R = TConfigReader::MainWindow;
  TMainWindowConfig c;
  c.DefaultPath = ReadText(ConfigKeys::DefaultPath, R);
  c.DefaultThreadCount = ReadNumber(ConfigKeys::DefaultThreadCount, R);
  c.Version = ReadText(ConfigKeys::Version, R);
  return c;
}

TOptionsConfig TConfig::ReadOptions() const {
  constexpr auto R = TConfigReader::Options;
  TOptionsConfig c;
  c.DefaultPath = ReadText(ConfigKeys::DefaultPath, R);
  c.DefaultThreadCount = ReadNumber(ConfigKeys::DefaultThreadCount, R);
  c.UseProxy = ReadNumber(ConfigKeys::UseProxy, R) == 1;
  c.ProxyServer = ReadText(ConfigKeys::ProxyServer, R);
  c.ProxyPort = ReadText(ConfigKeys::ProxyPort, R);
  c.ProxyUsername = ReadText(ConfigKeys::ProxyUsername, R);
  c.ProxyPassword = ReadText(ConfigKeys::ProxyPassword, R);
  return c;
}

void TConfig::WriteOptions(const TOptionsConfig& c) const {
  auto write = [this](const TConfigKey& key, std::string_view value) { Ini.WriteString(key.Section, key.Name, value); };
  write(ConfigKeys::DefaultPath, c.DefaultPath);
  write(ConfigKeys::DefaultThreadCount, std::to_string(c.DefaultThreadCount));
  write(ConfigKeys::UseProxy, c.UseProxy ? "1" : "0");
  write(ConfigKeys::ProxyServer, c.ProxyServer);
  write(ConfigKeys::ProxyPort, c.ProxyPort);
  write(ConfigKeys::ProxyUsername, c.ProxyUsername);
  write(ConfigKeys::ProxyPassword, c.ProxyPassword);
}

TStartConfig TConfig::ReadStart() const {
  constexpr auto R = TConfigReader::Start;
  TStartConfig c;
  // The proxy keys in this order, as the task start reads them.
  c.UseProxy = ReadNumber(ConfigKeys::UseProxy, R) == 1;
  c.ProxyServer = ReadText(ConfigKeys::ProxyServer, R);
  c.ProxyPort = ReadText(ConfigKeys::ProxyPort, R);
  c.ProxyUsername = ReadText(ConfigKeys::ProxyUsername, R);
  c.ProxyPassword = ReadText(ConfigKeys::ProxyPassword, R);
  const TConfigKey* hosts[] = {&ConfigKeys::Host0, &ConfigKeys::Host1, &ConfigKeys::Host2, &ConfigKeys::Host3};
  for (std::size_t i = 0; i < c.Hosts.size(); ++i) c.Hosts[i] = ReadText(*hosts[i], R);
  c.HomePage = ReadText(ConfigKeys::HomePage, R);
  c.UrlTemplate = ReadText(ConfigKeys::UrlTemplate, R);
  c.CookieFile = ReadText(ConfigKeys::CookieFile, R);
  // A negative pause or time-out makes no sense, nor a tile size limit of no
  // byte; such a value falls back to the default.
  auto atLeast = [this](const TConfigKey& key, int minimum) {
    const int value = ReadNumber(key, R);
    int fallback = 0;
    ParseDecimalInteger(key.StartDefault, fallback);
    return value < minimum ? fallback : value;
  };
  c.TilePauseMs = atLeast(ConfigKeys::TilePause, 0);
  c.ConnectTimeoutSeconds = atLeast(ConfigKeys::ConnectTimeout, 0);
  c.StallTimeoutSeconds = atLeast(ConfigKeys::StallTimeout, 0);
  c.TileTimeoutSeconds = atLeast(ConfigKeys::TileTimeout, 0);
  c.MaxTileBytes = atLeast(ConfigKeys::MaxTileBytes, 1);
  return c;
}

fs::path ConfigPathIn(const fs::path& programFolder) { return programFolder / "ini" / "config.ini"; }

bool FolderWritable(const fs::path& folder) {
#ifdef _WIN32
  return ::_waccess(folder.c_str(), 2) == 0;
#else
  return ::access(folder.c_str(), W_OK) == 0;
#endif
}

TConfigLocation LocateConfig(const fs::path& programFolder, const TWritableCheck& writable) {
  if (const char* given = std::getenv("MERIDANE_CONFIG"); given && *given) return {given, given, false};
  const fs::path shipped = ConfigPathIn(programFolder);
  const fs::path iniFolder = shipped.parent_path();
  std::error_code ec;
  // A build folder or a portable copy keeps its settings beside the program.
  if (writable(fs::exists(iniFolder, ec) ? iniFolder : programFolder)) return {shipped, shipped, false};
  const fs::path user = UserConfigPath();
  return {fs::exists(user, ec) ? user : shipped, user, true};
}

fs::path TConfigSource::Read() const {
  if (!Given.empty()) return Given;
  return LocateConfig(Folder.empty() ? ProgramFolder() : Folder).Read;
}

fs::path ProgramFolder() {
#ifdef _WIN32
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return length ? fs::path(std::wstring(buffer, length)).parent_path() : fs::path();
#else
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
#endif
}

}  // namespace meridane
