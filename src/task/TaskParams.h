#pragma once

#include <array>
#include <string>

namespace meridane {

struct TStartConfig;

// One download request, as Start fills it from the main window and config.ini.
struct TTaskParams {
  double LeftLongitude = 0;
  double RightLongitude = 0;
  double TopLatitude = 0;
  double BottomLatitude = 0;
  int Zoom = 0;
  int ThreadCount = 1;
  int SlotCount = 8;
  int MapsType = 1;
  std::string Folder;    // ends with the folder separator
  std::string TaskName;  // with its ".mrd"
  bool UseProxy = false;
  std::string ProxyServer;
  std::string ProxyPort;
  std::string ProxyUsername;
  std::string ProxyPassword;
  bool Resume = false;

  // Tile servers and download settings, read afresh from config.ini at every Start.
  std::array<std::string, 4> Hosts{"khm0.google.com", "khm1.google.com", "khm2.google.com", "khm3.google.com"};
  std::string HomePage = "http://maps.google.com/";
  std::string UrlTemplate = "http://{host}/kh/v=91&s={galileo}&x={x}&y={y}&z={z}";
  int TilePauseMs = 1000;
  std::string CookieFile;
  int ConnectTimeoutSeconds = 30;
  int StallTimeoutSeconds = 60;
  int TileTimeoutSeconds = 300;
  int MaxTileBytes = 16 * 1024 * 1024;
};

// Copies the proxy and server settings Start reads from config.ini.
void ApplyStartConfig(TTaskParams& params, const TStartConfig& config);

}  // namespace meridane
