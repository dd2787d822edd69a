#include "tiles/MbtilesReader.h"

#include <sqlite3.h>

#include <map>
#include <stdexcept>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "tiles/Projection.h"

namespace meridane {

namespace {

// Rows of the format count from the south.
long long TmsRow(int zoom, long long y) { return FlipRow(y, zoom); }

}  // namespace

TMbtilesReader::TMbtilesReader(const std::filesystem::path& path) : Path(path) {
  const auto fail = [&](const std::string& reason) {
    sqlite3_finalize(Select);
    sqlite3_close_v2(Db);
    throw std::runtime_error(CannotOpenMessage(Path) + ": " + reason);
  };
  if (sqlite3_open_v2(Path.c_str(), &Db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    fail(Db ? sqlite3_errmsg(Db) : "out of memory");
  std::map<std::string, std::string> metadata;
  sqlite3_stmt* query = nullptr;
  if (sqlite3_prepare_v2(Db, "SELECT name, value FROM metadata", -1, &query, nullptr) != SQLITE_OK)
    fail(sqlite3_errmsg(Db));
  while (sqlite3_step(query) == SQLITE_ROW) {
    const auto text = [&](int column) {
      const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(query, column));
      return value ? std::string(value, static_cast<std::size_t>(sqlite3_column_bytes(query, column))) : std::string();
    };
    metadata[text(0)] = text(1);
  }
  sqlite3_finalize(query);
  // Without bounds the tiles of the deepest zoom give the rectangle.
  TTileSet fallback;
  if (!metadata.contains("bounds") &&
      sqlite3_prepare_v2(Db,
                         "SELECT zoom_level, MIN(tile_column), MAX(tile_column), MIN(tile_row), MAX(tile_row) FROM tiles "
                         "WHERE zoom_level = (SELECT MAX(zoom_level) FROM tiles)",
                         -1, &query, nullptr) == SQLITE_OK) {
    if (sqlite3_step(query) == SQLITE_ROW && sqlite3_column_type(query, 0) != SQLITE_NULL) {
      const int zoom = sqlite3_column_int(query, 0);
      fallback.Zoom = zoom;
      fallback.West = TileXToLon(sqlite3_column_int(query, 1), zoom);
      fallback.East = TileXToLon(sqlite3_column_int(query, 2) + 1.0, zoom);
      fallback.North = TileYToLat(static_cast<double>(TmsRow(zoom, sqlite3_column_int(query, 4))), zoom, 0);
      fallback.South = TileYToLat(static_cast<double>(TmsRow(zoom, sqlite3_column_int(query, 3))) + 1, zoom, 0);
    }
    sqlite3_finalize(query);
  }
  Set = TileSetFromMetadata(metadata, fallback);
  if (sqlite3_prepare_v2(Db, "SELECT tile_data FROM tiles WHERE zoom_level = ? AND tile_column = ? AND tile_row = ?",
                         -1, &Select, nullptr) != SQLITE_OK)
    fail(sqlite3_errmsg(Db));
}

TMbtilesReader::~TMbtilesReader() {
  sqlite3_finalize(Select);
  sqlite3_close_v2(Db);
}

std::optional<std::string> TMbtilesReader::Get(int zoom, int x, int y) {
  if (zoom < 0 || zoom > 30 || x < 0 || y < 0 || x >= GridSize(zoom) || y >= GridSize(zoom)) return std::nullopt;
  sqlite3_bind_int(Select, 1, zoom);
  sqlite3_bind_int(Select, 2, x);
  sqlite3_bind_int64(Select, 3, TmsRow(zoom, y));
  std::optional<std::string> tile;
  const int code = sqlite3_step(Select);
  if (code == SQLITE_ROW) {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(Select, 0));
    tile.emplace(data ? data : "", static_cast<std::size_t>(sqlite3_column_bytes(Select, 0)));
  }
  const std::string reason = code == SQLITE_ROW || code == SQLITE_DONE ? std::string() : sqlite3_errmsg(Db);
  sqlite3_reset(Select);
  if (!reason.empty()) throw std::runtime_error(CannotOpenMessage(Path) + ": " + reason);
  return tile;
}

}  // namespace meridane
