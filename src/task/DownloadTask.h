#pragma once

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "task/TaskParams.h"
#include "task/TextForms.h"
#include "task/TileGrid.h"

namespace meridane {

// One download: the tile range of a request, its edges and count, the paths of
// its files and, when resumed, where each worker stopped. Read-only once built,
// so the workers share it without locks.
class TDownloadTask {
 public:
  static constexpr int MaxWorkers = 8;

  // Builds the task, creates its tile folder and holds it open. Throws
  // ETaskBuildError, also when the tile folder is a link.
  explicit TDownloadTask(const TTaskParams& params);

  std::array<int, 16> ThreadX{};
  std::array<int, 16> ThreadY{};
  const TTaskParams* Params;
  int MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  double LeftEdge = 0, RightEdge = 0, TopEdge = 0, BottomEdge = 0;
  int TotalCount = 0;
  std::string LogPath, FailedPath, ListPath, TileFolder;
  // The resume positions of the project file that lie outside the tile range,
  // one line for each worker ("T2X=99999 lies outside the tile range; ..."):
  // those workers start from their first tile.
  std::vector<std::string> DamagedPositions;
  // Where a tile waits under a temporary name where the system has no unnamed
  // files; emptied at Start.
  std::string TemporaryFolder;

  // Tile addressing.
  std::string TileUrl(int x, int y) const;
  std::string TileFileName(int x, int y) const;
  std::string TilePath(int x, int y) const;
  std::string TileExtension() const;
  // Puts a tile's file in place, in the folder the task was built with even if
  // a link has taken its name since. Throws EFileError naming TilePath.
  void WriteTile(int x, int y, std::string_view data) const;

  int FromSouth() const;
  std::string ProjectPath() const { return Params->Folder + Params->TaskName; }
  // 1-based position of a tile in the column-by-column walk of the range (64-bit:
  // a stale resume position may lie far outside it).
  long long SequenceOf(int x, int y) const;
  int RowCount() const { return MaxY - MinY + 1; }

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
  // "gs_843_": the file name up to the row.
  std::string FileNameHead(int x) const;
  // "388_10.jpg": the file name from the row on.
  std::string FileNameTail(int y) const;

  // The tile URL pattern cut at its placeholders once, not for every tile.
  enum class TPiece { Text, Host, Galileo, X, Y, Zoom };
  std::vector<std::pair<TPiece, std::string>> UrlPieces;

  void HoldTileFolder();
  struct TCloser {
    void operator()(const int* descriptor) const;
  };
  std::unique_ptr<const int, TCloser> TileFolderHandle;
  // The tile folder as WriteTile reaches it: through the handle where the
  // system allows, otherwise TileFolder.
  std::string TileWriteFolder;
};

}  // namespace meridane
