#include "task/DownloadTask.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "config/IniFile.h"
#include "geo/Commonfunc.h"
#include "task/MapTypes.h"

namespace meridane {

namespace fs = std::filesystem;

void ApplyStartConfig(TTaskParams& params, const TStartConfig& config) {
  params.UseProxy = config.UseProxy;
  params.ProxyServer = config.ProxyServer;
  params.ProxyPort = config.ProxyPort;
  params.ProxyUsername = config.ProxyUsername;
  params.ProxyPassword = config.ProxyPassword;
  params.Hosts = config.Hosts;
  params.HomePage = config.HomePage;
  params.UrlTemplate = config.UrlTemplate;
  params.TilePauseMs = config.TilePauseMs;
  params.CookieFile = config.CookieFile;
  params.ConnectTimeoutSeconds = config.ConnectTimeoutSeconds;
  params.StallTimeoutSeconds = config.StallTimeoutSeconds;
  params.TileTimeoutSeconds = config.TileTimeoutSeconds;
  params.MaxTileBytes = config.MaxTileBytes;
}

namespace {

// The name without its extension.
std::string BaseName(const std::string& taskName) {
  return taskName.substr(0, taskName.size() - FileExtension(taskName).size());
}

}  // namespace

TDownloadTask::TDownloadTask(const TTaskParams& params) : Params(&params) {
  const TTileRange r = ComputeTileRange(params);
  MinX = r.MinX, MinY = r.MinY, MaxX = r.MaxX, MaxY = r.MaxY;
  LeftEdge = r.LeftEdge, RightEdge = r.RightEdge, TopEdge = r.TopEdge, BottomEdge = r.BottomEdge;
  TotalCount = r.TotalCount;

  const std::string base = BaseName(params.TaskName);
  LogPath = params.Folder + base + "_log.txt";
  FailedPath = params.Folder + base + "_failed.ftl";
  ListPath = params.Folder + base + "_list.txt";
  TileFolder = params.Folder + base + static_cast<char>(fs::path::preferred_separator);
  // Inside the tile folder: on its file system, whatever is mounted where.
  TemporaryFolder = TileFolder + ".~tmp";

  HoldTileFolder();

  if (params.Resume) {
    const TIniFile project(ProjectPath());
    const int workers = std::min(params.ThreadCount, MaxWorkers);
    for (int i = 0; i < workers; ++i) {
      const std::string n = std::to_string(i + 1);
      int& x = ThreadX[static_cast<std::size_t>(i)];
      int& y = ThreadY[static_cast<std::size_t>(i)];
      x = project.ReadInteger("THREADS", "T" + n + "X", 0);
      y = project.ReadInteger("THREADS", "T" + n + "Y", 0);
      // A position with x or y at 0 counts as none. One outside the range would
      // make the worker skip tiles it never fetched, or all of them.
      if (x == 0 || y == 0) continue;
      std::vector<std::string> keys;
      if (x < MinX || x > MaxX) keys.push_back("T" + n + "X=" + std::to_string(x));
      if (y < MinY || y > MaxY) keys.push_back("T" + n + "Y=" + std::to_string(y));
      if (keys.empty()) continue;
      DamagedPositions.push_back(keys.size() == 1 ? keys[0] + " lies" : keys[0] + " and " + keys[1] + " lie");
      DamagedPositions.back() += " outside the tile range; thread " + n + " starts from its first tile.";
      x = y = 0;
    }
  }

  // Cut the URL pattern at its placeholders.
  const std::pair<std::string_view, TPiece> names[] = {{"{host}", TPiece::Host},
                                                       {"{galileo}", TPiece::Galileo},
                                                       {"{x}", TPiece::X},
                                                       {"{y}", TPiece::Y},
                                                       {"{z}", TPiece::Zoom}};
  std::string_view rest = params.UrlTemplate;
  std::string text;
  while (!rest.empty()) {
    bool matched = false;
    for (const auto& [name, piece] : names) {
      if (!rest.starts_with(name)) continue;
      if (!text.empty()) UrlPieces.emplace_back(TPiece::Text, std::move(text));
      text.clear();
      UrlPieces.emplace_back(piece, std::string());
      rest.remove_prefix(name.size());
      matched = true;
      break;
    }
    if (!matched) {
      text += rest.front();
      rest.remove_prefix(1);
    }
  }
  if (!text.empty()) UrlPieces.emplace_back(TPiece::Text, std::move(text));
}

void TDownloadTask::TCloser::operator()(const int* descriptor) const {
#ifdef __linux__
  ::close(*descriptor);
#endif
  delete descriptor;
}

void TDownloadTask::HoldTileFolder() {
  const std::string folder = TileFolder.substr(0, TileFolder.size() - 1);
  const std::string linked = "The tile folder " + TileFolder + " is a link.";
  // Whoever may write the task's folder could put a link in the tile folder's
  // place, and the tiles would go wherever it leads.
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(folder, ec))) throw ETaskBuildError(linked);
  if (!fs::is_directory(TileFolder, ec) && !fs::create_directory(TileFolder, ec))
    throw ETaskBuildError("Create directory " + TileFolder + " Failed.");
  TileWriteFolder = TileFolder;
#ifdef __linux__
  // Held open, the folder is reached through its handle: a link put in its
  // place during the task leads no tile elsewhere either.
  const int descriptor = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) throw ETaskBuildError(errno == ELOOP ? linked : "Create directory " + TileFolder + " Failed.");
  TileFolderHandle.reset(new int(descriptor));
  const std::string handle = "/proc/self/fd/" + std::to_string(descriptor);
  if (::access(handle.c_str(), X_OK) == 0) TileWriteFolder = handle + "/";
#endif
}

void TDownloadTask::WriteTile(int x, int y, std::string_view data) const {
  try {
    WriteFileAtomic(TileWriteFolder + TileFileName(x, y), data, TFlush::Cache, TNewFile::Shared, TemporaryFolder);
  } catch (const EFileError&) {
    throw EFileError(CannotCreateMessage(TilePath(x, y)));  // the name the user knows
  }
}

int TDownloadTask::FromSouth() const { return MapTypeOf(Params->MapsType).FromSouth; }

long long TDownloadTask::SequenceOf(int x, int y) const {
  return (static_cast<long long>(x) - MinX) * RowCount() + (static_cast<long long>(y) - MinY) + 1;
}

std::string TDownloadTask::TileUrl(int x, int y) const {
  if (Params->MapsType != SatelliteMapType) return {};
  const int server = y % 4;
  std::string url;
  for (const auto& [piece, text] : UrlPieces) {
    switch (piece) {
      case TPiece::Text: url += text; break;
      case TPiece::Host:
        if (server >= 0) url += Params->Hosts[static_cast<std::size_t>(server)];
        break;
      case TPiece::Galileo: url += GalileoPrefix(x, y); break;
      case TPiece::X: url += std::to_string(x); break;
      case TPiece::Y: url += std::to_string(y); break;
      case TPiece::Zoom: url += std::to_string(Params->Zoom); break;
    }
  }
  return url;
}

std::string TDownloadTask::FileNameHead(int x) const {
  return std::string(MapTypeOf(Params->MapsType).Prefix) + "_" + std::to_string(x) + "_";
}

std::string TDownloadTask::FileNameTail(int y) const {
  return std::to_string(y) + "_" + std::to_string(Params->Zoom) + "." + TileExtension();
}

std::string TDownloadTask::TileFileName(int x, int y) const { return FileNameHead(x) + FileNameTail(y); }

std::string TDownloadTask::TilePath(int x, int y) const { return TileFolder + TileFileName(x, y); }

std::string TDownloadTask::TileExtension() const { return std::string(MapTypeOf(Params->MapsType).Extension); }

}  // namespace meridane
