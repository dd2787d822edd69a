#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "combine/TileSink.h"

struct sqlite3;
struct sqlite3_stmt;

namespace meridane {

// Writes the tile database the phone map programs read (".sqlitedb"): table
// tiles (x, y, z, s, image) with rows from the north and the zoom counted
// backwards, z = 17 - zoom, as the oldest of these programs numbered them and
// all of them still read; s is always 0. Table info holds the smallest and
// largest z present and says the numbering in the words one of the readers
// looks for (tilenumbering "BigPlanet", no flipped rows, the spherical
// Mercator). The tiles' bytes are stored as given. It takes the levels of a
// pyramid too. All in one transaction with the rollback journal, as the
// MBTiles writer does.
class TSqlitedbWriter : public ITileSink {
 public:
  // Creates the file at path, replacing what is there.
  TSqlitedbWriter(std::filesystem::path path, const TTileSet& set);
  ~TSqlitedbWriter() override;
  TSqlitedbWriter(const TSqlitedbWriter&) = delete;
  TSqlitedbWriter& operator=(const TSqlitedbWriter&) = delete;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  bool TakesLevels() const override { return true; }
  void AddLevelTile(int zoom, int x, int y, std::string_view bytes) override;
  void Finish() override;

  // The z of a zoom level in the file.
  static constexpr int StoredZoom(int zoom) { return 17 - zoom; }

 private:
  void Store(int zoom, int x, int y, std::string_view bytes);
  [[noreturn]] void Fail(int code);
  void Execute(const char* sql);
  void Close() noexcept;

  std::filesystem::path Path;
  TTileSet Set;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Insert = nullptr;
  int MinZoom = 99, MaxZoom = -1;  // of the tiles stored
  bool Finished = false;
};

}  // namespace meridane
