#include "combine/Mbtiles.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <stdexcept>
#include <system_error>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "tiles/Projection.h"

namespace meridane {

std::string SqliteWriteReason(sqlite3* db, int code) {
  const int primary = code & 0xff;
  if (primary == SQLITE_FULL) return WriteFailureReason(ENOSPC);
  // The system's reason says more than "unable to open database file" or
  // "disk I/O error". A failed write is on the file's own record; the
  // connection's may be of a call the rollback made after.
  int error = 0;
  if (db && primary == SQLITE_IOERR) sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &error);
  if (db && error == 0 && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR)) error = sqlite3_system_errno(db);
  if (error != 0) return WriteFailureReason(error);
  return db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
}

TMbtilesWriter::TMbtilesWriter(std::filesystem::path path, const TTileSet& set)
    : Path(std::move(path)), Set(set), MinZoom(set.Zoom) {
  // SQLite would open an old file's tables; the file is made afresh.
  std::error_code ec;
  std::filesystem::remove(Path, ec);
  std::filesystem::remove(Path.string() + "-journal", ec);
  const int opened =
      sqlite3_open_v2(Path.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (opened != SQLITE_OK) Fail(opened);
  sqlite3_extended_result_codes(Db, 1);
  // The page size counts only before the first table. The rollback journal (no
  // WAL) leaves one file; of a new file it keeps almost nothing. The cache lets
  // the index be sorted in memory.
  Execute(("PRAGMA page_size = " + std::to_string(PageSize)).c_str());
  Execute("PRAGMA journal_mode = DELETE");
  Execute("PRAGMA cache_size = -32768");
  Execute("BEGIN");
  Execute("CREATE TABLE metadata (name text, value text)");
  Execute("CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob)");
  const int code = sqlite3_prepare_v2(Db, "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES (?, ?, ?, ?)",
                            -1, &Insert, nullptr);
  if (code != SQLITE_OK) Fail(code);
}

TMbtilesWriter::~TMbtilesWriter() { Close(); }

void TMbtilesWriter::Close() noexcept {
  sqlite3_finalize(Insert);
  Insert = nullptr;
  // Closing with the transaction open rolls it back.
  sqlite3_close_v2(Db);
  Db = nullptr;
}

void TMbtilesWriter::Fail(int code) {
  const std::string reason = SqliteWriteReason(Db, code);
  Close();
  throw EWriteError(Path, reason);
}

void TMbtilesWriter::Execute(const char* sql) {
  const int code = sqlite3_exec(Db, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) Fail(code);
}

void TMbtilesWriter::Add(int x, int y, std::optional<std::string_view> bytes) {
  if (bytes) Put(Set.Zoom, x, y, *bytes);
}

void TMbtilesWriter::AddLevelTile(int zoom, int x, int y, std::string_view bytes) {
  if (zoom == Set.Zoom) throw std::logic_error("a level tile of the set's own zoom");
  Put(zoom, x, y, bytes);
  MinZoom = std::min(MinZoom, zoom);
}

void TMbtilesWriter::Put(int zoom, int x, int y, std::string_view bytes) {
  if (!Db) throw EWriteError(Path, "the file is closed");
  sqlite3_bind_int(Insert, 1, zoom);
  sqlite3_bind_int(Insert, 2, x);
  sqlite3_bind_int64(Insert, 3, FlipRow(y, zoom));
  sqlite3_bind_blob64(Insert, 4, bytes.data(), bytes.size(), SQLITE_STATIC);
  int code = sqlite3_step(Insert);
  code = code == SQLITE_DONE ? sqlite3_reset(Insert) : code;
  if (code != SQLITE_OK) Fail(code);
  Formats.Count(bytes);
}

void TMbtilesWriter::Finish() {
  if (Finished) return;
  if (!Db) throw EWriteError(Path, "the file is closed");
  // Written last, in the same transaction: the format is the tiles' own.
  Set.Format = Formats.Majority(Set.Format);
  sqlite3_stmt* meta = nullptr;
  int code = sqlite3_prepare_v2(Db, "INSERT INTO metadata (name, value) VALUES (?, ?)", -1, &meta, nullptr);
  for (const auto& [name, value] : ArchiveMetadata(Set, MinZoom)) {
    if (code != SQLITE_OK) break;
    sqlite3_bind_text(meta, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_text(meta, 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    code = sqlite3_step(meta);
    code = code == SQLITE_DONE ? sqlite3_reset(meta) : code;
  }
  sqlite3_finalize(meta);
  if (code != SQLITE_OK) Fail(code);
  Execute("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row)");
  Execute("COMMIT");
  sqlite3_finalize(Insert);
  Insert = nullptr;
  const int closed = sqlite3_close(Db);
  if (closed != SQLITE_OK) Fail(closed);
  Db = nullptr;
  Finished = true;
}

}  // namespace meridane
