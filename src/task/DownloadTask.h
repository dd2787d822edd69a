#pragma once

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "task/Descriptor.h"
#include "task/ProjectFile.h"
#include "task/TaskParams.h"
#include "task/TextForms.h"
#include "task/TileGrid.h"

namespace meridane {

// One download: its request, its tile grid, the paths of its files and, when
// resumed, where each worker stopped. Read-only once Start has set it up, so
// the workers share it without locks.
class TDownloadTask {
 public:
  static constexpr int MaxWorkers = 8;

  // Builds the task without touching a file. resume: where the workers stopped,
  // as the project file stores it (none for a new task). Throws ETaskBuildError.
  explicit TDownloadTask(TTaskParams params, const TPositions& resume = {});

  // Creates the tile folder when it is missing and holds it open, so the tiles
  // go where it was even if a link takes its name later. Throws ETaskBuildError,
  // also when the tile folder is a link.
  void CreateTileFolder();

  TTaskParams Params;
  const TTileGrid Grid;
  // The grid's range, for the code that walks it.
  const int MinX, MinY, MaxX, MaxY;
  const double LeftEdge, RightEdge, TopEdge, BottomEdge;
  const int TotalCount;
  std::array<int, 16> ThreadX{};
  std::array<int, 16> ThreadY{};
  std::string LogPath, FailedPath, ListPath, TileFolder;
  // The resume positions that lie outside the tile range, one line for each
  // worker ("T2X=99999 lies outside the tile range; ..."): those workers start
  // from their first tile.
  std::vector<std::string> DamagedPositions;
  // Where a tile waits under a temporary name where the system has no unnamed
  // files; emptied at Start.
  std::string TemporaryFolder;

  // Tile addressing.
  std::string TileUrl(int x, int y) const { return Grid.TileUrl(x, y); }
  std::string TileFileName(int x, int y) const { return Grid.TileFileName(x, y); }
  std::string TilePath(int x, int y) const { return Grid.TilePath(x, y); }
  std::string TileExtension() const { return Grid.Extension(); }
  long long SequenceOf(int x, int y) const { return Grid.SequenceOf(x, y); }
  // Puts a tile's file in place, in the tile folder CreateTileFolder held open.
  // Throws EFileError naming TilePath.
  void WriteTile(int x, int y, std::string_view data) const;

  std::string ProjectPath() const { return Params.Folder + Params.TaskName; }

  // Removes the temporary files an interrupted run left beside the task files
  // and in the temporary folder.
  void RemoveLeftovers() const;
  // The task files, written once at Start; each knows what to do on resume, and a
  // resumed task gets back a file that is missing.
  void WriteProjectFile() const;
  // progress hears the tiles written so far, now and then.
  void WriteImageList(const std::function<void(long long)>& progress = {}) const;
  void WriteLogHeader() const;
  void CreateFailedList() const;

  // The date-time text of the log header; tests fix it.
  TNowText Now = NowText;

 private:
  TDescriptor TileFolderHandle;
  // The tile folder as WriteTile reaches it: through the handle where the
  // system allows, otherwise TileFolder.
  std::string TileWriteFolder;
};

}  // namespace meridane
