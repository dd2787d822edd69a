#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "combine/ArchiveWrite.h"
#include "combine/TileSink.h"

struct sqlite3;
struct sqlite3_stmt;

namespace meridane {

// Why an SQLite call on a file being written failed, for the user: the
// system's reason where there is one ("No space left on device"), which says
// more than SQLite's "disk I/O error". db may be null (a failed open).
std::string SqliteWriteReason(sqlite3* db, int code);

// Writes an MBTiles 1.3 file: the tiles' bytes as given, rows counted from the
// south (tile_row = 2^zoom - 1 - y) as the format requires, and the metadata of
// ArchiveMetadata (minzoom the lowest zoom of a tile given), its format that
// of the tiles written (TTileFormats), which is why the metadata is written at
// Finish. All in one transaction, made with the rollback journal; the
// index is built once at Finish, which is faster than keeping it while rows
// arrive in an order it does not sort by.
class TMbtilesWriter : public ITileSink {
 public:
  // Creates the file at path, replacing what is there.
  TMbtilesWriter(std::filesystem::path path, const TTileSet& set);
  ~TMbtilesWriter() override;
  TMbtilesWriter(const TMbtilesWriter&) = delete;
  TMbtilesWriter& operator=(const TMbtilesWriter&) = delete;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void Finish() override;
  bool TakesLevels() const override { return true; }
  void AddLevelTile(int zoom, int x, int y, std::string_view bytes) override;

  // A tile larger than a page fills a chain of overflow pages to the last
  // byte; pages much larger than this leave space empty beside every tile of
  // 10-60 KB (with 64 KB pages such a file is half as large again).
  static constexpr int PageSize = 8192;

 private:
  [[noreturn]] void Fail(int code);
  void Execute(const char* sql);
  void Close() noexcept;
  void Put(int zoom, int x, int y, std::string_view bytes);

  std::filesystem::path Path;
  TTileSet Set;
  TTileFormats Formats;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Insert = nullptr;
  int MinZoom;  // the lowest zoom of a tile given
  bool Finished = false;
};

}  // namespace meridane
