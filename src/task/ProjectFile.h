#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "task/TaskParams.h"
#include "task/TileGrid.h"

namespace meridane {

// The project file (.mrd): a task's request, its tile range and where each of
// its workers stopped, as an INI file. This is its one reader and one writer.

// The values of a project file besides the positions.
enum class TProjectValue {
  MapsType,
  LeftLongitude,
  RightLongitude,
  TopLatitude,
  BottomLatitude,
  Zoom,
  MinX,
  MinY,
  MaxX,
  MaxY,
  ThreadCount,
};

// The last tile a worker finished; a position with x or y at 0 is none.
struct TTilePosition {
  int X = 0, Y = 0;
  bool operator==(const TTilePosition&) const = default;
};
// The positions of the workers of the file's slots, T1X/T1Y first.
inline constexpr int ProjectSlots = 8;
using TPositions = std::array<TTilePosition, ProjectSlots>;
bool AnyPosition(const TPositions& positions);

// A project file holds a few lines; a larger file is no task's.
inline constexpr std::uintmax_t MaxProjectBytes = 1 << 20;

// A project file read once, with the rules of the INI files: names match
// without regard to case, values are trimmed, and a file, key or value that is
// missing or unreadable reads as the caller's default.
class TProjectReader {
 public:
  // A file that is missing or cannot be read reads as empty.
  explicit TProjectReader(const std::filesystem::path& path);
  // A file that is missing reads as empty; one that is there but cannot be
  // read throws EFileError naming it, as ReadRegularFile does.
  static TProjectReader Open(const std::filesystem::path& path);
  static TProjectReader FromText(std::string content);

  // The value as stored; empty when it is missing.
  std::string Text(TProjectValue value) const;
  // The value as a decimal integer; missing when it is missing or not one.
  int Integer(TProjectValue value, int missing) const;
  // Every slot's position; 0 where a value is missing or not a number.
  TPositions Positions() const;

 private:
  TProjectReader() = default;
  std::string Content;
};

// A new task's project file: the request, the range and params.SlotCount empty
// positions. Throws EFileError.
void WriteNewProject(const std::filesystem::path& path, const TTaskParams& params, const TTileRange& range);

// Stores the positions in one replacement of the file, so a crash never pairs
// a new X with an old Y; every other line keeps its bytes, and a 0 leaves its
// key as stored. Throws EIniWriteError.
void WriteProjectPositions(const std::filesystem::path& path, const TPositions& positions);

// The request of the task whose project file is at path, for the programs that
// only read a task: Folder is the file's folder (made absolute), TaskName its
// name, the servers and download settings those of config. A TTileGrid of it
// addresses the task's tiles. Nothing is written or created. Throws EFileError
// when the file cannot be read and ETaskBuildError when a coordinate is not a
// number in its range.
TTaskParams OpenTaskReadOnly(const std::filesystem::path& path, const TStartConfig& config);

// Whether a file written at path would replace one of the task's files (its
// project file, image list, log or failed-tile list) or land in its tile
// folder. task is the project file, or the tile folder, whose neighbours
// NAME.mrd, NAME_list.txt... are its task's. Compared as files, not as names:
// a link or a ".." that leads to one of them is one.
bool IsTaskFile(const std::filesystem::path& task, const std::filesystem::path& path);
// The message that refuses to write at path, which IsTaskFile found.
std::string TaskFileRefusal(const std::filesystem::path& path);

}  // namespace meridane
