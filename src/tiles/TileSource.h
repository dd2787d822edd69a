#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "tiles/TileSet.h"

namespace meridane {

struct TStartConfig;

// The input could not be used: no task, no tiles, a choice out of range. The
// message is the one to show.
class ETileSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the combiner's tiles are and how their files are named.
struct TTileSource {
  TTileSet Set;               // rows from the north; Format is the files' extension
  std::string Folder;         // ends with the folder separator
  std::string Prefix;         // "gs"
  bool FromSouth = false;     // the files count rows from the south

  // The file name of the tile at column x, row y from the north: "gs_843_388_10.jpg".
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

}  // namespace meridane
