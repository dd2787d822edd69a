#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tiles/Archive.h"

struct sqlite3;
struct sqlite3_stmt;

namespace meridane {

// Reads an MBTiles file: rows from the south as the format stores them, turned
// to rows from the north.
class TMbtilesReader : public ITileArchive {
 public:
  // Opens the file read-only as it is: nothing is written beside it, not
  // even for a database in WAL mode. A tile longer than maxTileBytes is
  // refused unread.
  explicit TMbtilesReader(const std::filesystem::path& path, std::size_t maxTileBytes = DefaultMaxTileBytes);
  ~TMbtilesReader() override;
  TMbtilesReader(const TMbtilesReader&) = delete;
  TMbtilesReader& operator=(const TMbtilesReader&) = delete;

  const TTileSet& TileSet() const override { return Set; }
  std::optional<std::string> Get(int zoom, int x, int y) override;
  std::vector<int> Zooms() const override { return ZoomList; }

 private:
  std::filesystem::path Path;
  std::size_t MaxTileBytes;
  TTileSet Set;
  std::vector<int> ZoomList;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Select = nullptr;
};

}  // namespace meridane
