#include "task/DownloadTask.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "config/AtomicFile.h"
#include "config/Config.h"

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

TDownloadTask::TDownloadTask(TTaskParams params, const TPositions& resume)
    : Params(std::move(params)),
      Grid(Params),
      MinX(Grid.Range().MinX),
      MinY(Grid.Range().MinY),
      MaxX(Grid.Range().MaxX),
      MaxY(Grid.Range().MaxY),
      LeftEdge(Grid.Range().LeftEdge),
      RightEdge(Grid.Range().RightEdge),
      TopEdge(Grid.Range().TopEdge),
      BottomEdge(Grid.Range().BottomEdge),
      TotalCount(Grid.Range().TotalCount),
      TileFolder(Grid.TileFolder()),
      // Inside the tile folder: on its file system, whatever is mounted where.
      TemporaryFolder(TileFolder + ".~tmp"),
      TileWriteFolder(TileFolder) {
  // The folder and the task's name without its extension.
  const std::string stem = TileFolder.substr(0, TileFolder.size() - 1);
  LogPath = stem + "_log.txt";
  FailedPath = stem + "_failed.ftl";
  ListPath = stem + "_list.txt";

  static_assert(MaxWorkers <= ProjectSlots);
  const int workers = std::min(Params.ThreadCount, MaxWorkers);
  for (int i = 0; i < workers; ++i) {
    const std::string n = std::to_string(i + 1);
    int& x = ThreadX[static_cast<std::size_t>(i)];
    int& y = ThreadY[static_cast<std::size_t>(i)];
    x = resume[static_cast<std::size_t>(i)].X;
    y = resume[static_cast<std::size_t>(i)].Y;
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

void TDownloadTask::CreateTileFolder() {
  const std::string folder = TileFolder.substr(0, TileFolder.size() - 1);
  const std::string linked = "The tile folder " + TileFolder + " is a link.";
  // Whoever may write the task's folder could put a link in the tile folder's
  // place, and the tiles would go wherever it leads.
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(folder, ec))) throw ETaskBuildError(linked);
  if (!fs::is_directory(TileFolder, ec) && !fs::create_directory(TileFolder, ec))
    throw ETaskBuildError("Create directory " + TileFolder + " Failed.");
#ifdef __linux__
  // Held open, the folder is reached through its handle: a link put in its
  // place during the task leads no tile elsewhere either.
  const int descriptor = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) throw ETaskBuildError(errno == ELOOP ? linked : "Create directory " + TileFolder + " Failed.");
  TileFolderHandle = TDescriptor(descriptor);
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

}  // namespace meridane
