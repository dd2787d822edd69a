#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tiles/TileSet.h"

namespace meridane {

struct TStartConfig;

// The input could not be used: no task, no tiles, a choice out of range. The
// message is the one to show.
class ETileSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How the files of a tile folder are named.
enum class TTileNaming {
  Task,  // as a task names them: "gs_843_388_10.jpg" in one folder
  Tree,  // "10/843/388.jpg" under the folder
};

// The tiles of one zoom, and where their bytes come from: the files of a
// folder, or an MBTiles or PMTiles file.
struct TTileSource {
  TTileSet Set;               // rows from the north; Format is the files' extension
  std::string Folder;         // ends with the folder separator; empty for an archive
  std::string Prefix;         // "gs"; empty for a tree or an archive
  bool FromSouth = false;     // the files count rows from the south
  TTileNaming Naming = TTileNaming::Task;
  std::string Archive;  // the MBTiles or PMTiles file that holds the tiles; empty for files
  // Further inputs of the same zoom, in the order given: where this one has no
  // sound tile, the first of them that has one gives it. Each has no Also of its own.
  std::vector<TTileSource> Also;

  // The file name of the tile at column x, row y from the north, relative to
  // Folder: "gs_843_388_10.jpg", or "10/843/388.jpg" in a tree.
  std::string FileName(int x, int y) const;
};

// The tiles of the task whose project file is at path, as the task names
// them. Reads the project file only. Throws ETileSourceError.
TTileSource TaskSource(const std::filesystem::path& project, const TStartConfig& config);
// The tiles of zoom in a folder, named as a task names them: the rectangle is
// the one around every tile found. Without a zoom, the zoom most of the tiles
// are of. Reads the folder once. Throws ETileSourceError when the folder
// holds none, or tiles of more than one map type at that zoom.
TTileSource FolderSource(const std::filesystem::path& folder, std::optional<int> zoom);

// What a tile folder holds: its tiles of each zoom, named as a task names them
// or as a Z/X/Y tree (".jpg", ".jpeg", ".png" or ".webp"), one source a zoom,
// lowest zoom first; only that zoom when one is given. fromSouth: a tree's rows
// count from the south. Reads the folder once. Throws ETileSourceError when it
// holds no tile, saying which names are looked for.
std::vector<TTileSource> FolderSources(const std::filesystem::path& folder, std::optional<int> zoom,
                                       bool fromSouth = false);
// The message for a folder of no tile that either naming has.
std::string NoTilesMessage(const std::filesystem::path& folder, std::optional<int> zoom);

}  // namespace meridane
