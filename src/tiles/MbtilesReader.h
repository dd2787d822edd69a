#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "tiles/Archive.h"

struct sqlite3;
struct sqlite3_stmt;

namespace meridane {

// Reads an MBTiles file: rows from the south as the format stores them, turned
// to rows from the north.
class TMbtilesReader : public ITileArchive {
 public:
  explicit TMbtilesReader(const std::filesystem::path& path);
  ~TMbtilesReader() override;
  TMbtilesReader(const TMbtilesReader&) = delete;
  TMbtilesReader& operator=(const TMbtilesReader&) = delete;

  const TTileSet& TileSet() const override { return Set; }
  std::optional<std::string> Get(int zoom, int x, int y) override;

 private:
  std::filesystem::path Path;
  TTileSet Set;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Select = nullptr;
};

}  // namespace meridane
