#include "combine/Sqlitedb.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include "combine/ArchiveWrite.h"
#include "combine/Mbtiles.h"

namespace meridane {

TSqlitedbWriter::TSqlitedbWriter(std::filesystem::path path, const TTileSet& set) : Path(std::move(path)), Set(set) {
  std::error_code ec;
  std::filesystem::remove(Path, ec);
  std::filesystem::remove(Path.string() + "-journal", ec);
  const int opened =
      sqlite3_open_v2(Path.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (opened != SQLITE_OK) Fail(opened);
  sqlite3_extended_result_codes(Db, 1);
  Execute(("PRAGMA page_size = " + std::to_string(TMbtilesWriter::PageSize)).c_str());
  Execute("PRAGMA journal_mode = DELETE");
  Execute("PRAGMA cache_size = -32768");
  Execute("BEGIN");
  Execute("CREATE TABLE tiles (x int, y int, z int, s int, image blob, PRIMARY KEY (x, y, z, s))");
  // Readers on Android open the file through a helper that wants this table.
  Execute("CREATE TABLE android_metadata (locale TEXT)");
  Execute("INSERT INTO android_metadata VALUES ('en_US')");
  const int code =
      sqlite3_prepare_v2(Db, "INSERT INTO tiles (x, y, z, s, image) VALUES (?, ?, ?, 0, ?)", -1, &Insert, nullptr);
  if (code != SQLITE_OK) Fail(code);
}

TSqlitedbWriter::~TSqlitedbWriter() { Close(); }

void TSqlitedbWriter::Close() noexcept {
  sqlite3_finalize(Insert);
  Insert = nullptr;
  // Closing with the transaction open rolls it back.
  sqlite3_close_v2(Db);
  Db = nullptr;
}

void TSqlitedbWriter::Fail(int code) {
  const std::string reason = SqliteWriteReason(Db, code);
  Close();
  throw EWriteError(Path, reason);
}

void TSqlitedbWriter::Execute(const char* sql) {
  const int code = sqlite3_exec(Db, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) Fail(code);
}

void TSqlitedbWriter::Store(int zoom, int x, int y, std::string_view bytes) {
  if (!Db) throw EWriteError(Path, "the file is closed");
  sqlite3_bind_int(Insert, 1, x);
  sqlite3_bind_int(Insert, 2, y);
  sqlite3_bind_int(Insert, 3, StoredZoom(zoom));
  sqlite3_bind_blob64(Insert, 4, bytes.data(), bytes.size(), SQLITE_STATIC);
  int code = sqlite3_step(Insert);
  code = code == SQLITE_DONE ? sqlite3_reset(Insert) : code;
  if (code != SQLITE_OK) Fail(code);
  MinZoom = std::min(MinZoom, zoom);
  MaxZoom = std::max(MaxZoom, zoom);
}

void TSqlitedbWriter::Add(int x, int y, std::optional<std::string_view> bytes) {
  if (bytes) Store(Set.Zoom, x, y, *bytes);
}

void TSqlitedbWriter::AddLevelTile(int zoom, int x, int y, std::string_view bytes) { Store(zoom, x, y, bytes); }

void TSqlitedbWriter::Finish() {
  if (Finished) return;
  if (!Db) throw EWriteError(Path, "the file is closed");
  if (MaxZoom < 0) MinZoom = MaxZoom = Set.Zoom;
  // minzoom and maxzoom are counted as z is: the smallest z is the largest zoom.
  // An empty url: the readers never fetch a tile of their own into the file.
  Execute(
      "CREATE TABLE info (minzoom int, maxzoom int, tilenumbering text, inverted_y int, ellipsoid int, "
      "timecolumn text, tilesize int, url text)");
  Execute(("INSERT INTO info VALUES (" + std::to_string(StoredZoom(MaxZoom)) + ", " +
           std::to_string(StoredZoom(MinZoom)) + ", 'BigPlanet', 0, 0, 'no', 256, '')")
              .c_str());
  Execute("COMMIT");
  sqlite3_finalize(Insert);
  Insert = nullptr;
  const int closed = sqlite3_close(Db);
  if (closed != SQLITE_OK) Fail(closed);
  Db = nullptr;
  Finished = true;
}

}  // namespace meridane
