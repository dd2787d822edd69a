#include "tiles/MbtilesReader.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <stdexcept>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "tiles/Projection.h"

namespace meridane {

namespace {

// Rows of the format count from the south.

// The path as an SQLite URI that opens the file as it is: immutable, SQLite
// takes no lock and makes no -wal or -shm file, which a WAL-mode file would
// otherwise get, left behind when the reader was the last to close it.
std::string ImmutableUri(const std::filesystem::path& path) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (const char c : std::filesystem::absolute(path).string()) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      uri += '%';
      uri += Hex[byte >> 4];
      uri += Hex[byte & 15];
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

TMbtilesReader::TMbtilesReader(const std::filesystem::path& path, std::size_t maxTileBytes)
    : Path(path), MaxTileBytes(maxTileBytes) {
  const auto fail = [&](const std::string& reason) {
    sqlite3_finalize(Select);
    sqlite3_close_v2(Db);
    throw std::runtime_error(CannotOpenMessage(Path) + ": " + reason);
  };
  if (sqlite3_open_v2(ImmutableUri(Path).c_str(), &Db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK)
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
      sqlite3_prepare_v2(
          Db,
          "SELECT zoom_level, MIN(tile_column), MAX(tile_column), MIN(tile_row), MAX(tile_row) FROM tiles "
          "WHERE zoom_level = (SELECT MAX(zoom_level) FROM tiles)",
          -1, &query, nullptr) == SQLITE_OK) {
    std::string fault;
    if (sqlite3_step(query) == SQLITE_ROW && sqlite3_column_type(query, 0) != SQLITE_NULL) {
      // Numbers of the file: a zoom or a tile beyond the grid is no tile.
      const sqlite3_int64 zoom = sqlite3_column_int64(query, 0);
      const auto inGrid = [&](int column) {
        const sqlite3_int64 value = sqlite3_column_int64(query, column);
        return sqlite3_column_type(query, column) == SQLITE_INTEGER && value >= 0 &&
               value < GridSize(static_cast<int>(zoom));
      };
      if (sqlite3_column_type(query, 0) != SQLITE_INTEGER || zoom < 0 || zoom > MaxZoom) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
        fault = "its tiles have zoom level " + std::string(text ? text : "") + ", not one of 0 to " +
                std::to_string(MaxZoom);
      } else if (!inGrid(1) || !inGrid(2) || !inGrid(3) || !inGrid(4)) {
        fault = "its tiles of zoom " + std::to_string(zoom) + " lie outside the zoom's grid";
      } else {
        const int z = static_cast<int>(zoom);
        fallback.Zoom = z;
        fallback.West = TileXToLon(sqlite3_column_int(query, 1), z);
        fallback.East = TileXToLon(sqlite3_column_int(query, 2) + 1.0, z);
        fallback.North = TileYToLat(static_cast<double>(FlipRow(sqlite3_column_int(query, 4), z)), z, 0);
        fallback.South = TileYToLat(static_cast<double>(FlipRow(sqlite3_column_int(query, 3), z)) + 1, z, 0);
      }
    }
    sqlite3_finalize(query);
    if (!fault.empty()) fail(fault);
  }
  try {
    Set = TileSetFromMetadata(metadata, fallback);
  } catch (const std::invalid_argument& e) {
    fail(e.what());
  }
  // The zooms of its tiles, each found through the index on them (a
  // DISTINCT would walk every tile); the set's zoom is the last.
  if (sqlite3_prepare_v2(Db, "SELECT MIN(zoom_level) FROM tiles WHERE zoom_level > ?1 AND zoom_level < ?2", -1, &query,
                         nullptr) == SQLITE_OK) {
    for (int after = -1;;) {
      sqlite3_bind_int(query, 1, after);
      sqlite3_bind_int(query, 2, Set.Zoom);
      const bool found = sqlite3_step(query) == SQLITE_ROW && sqlite3_column_type(query, 0) == SQLITE_INTEGER;
      const sqlite3_int64 zoom = found ? sqlite3_column_int64(query, 0) : -1;
      sqlite3_reset(query);
      if (!found || zoom <= after || zoom >= Set.Zoom) break;
      ZoomList.push_back(static_cast<int>(zoom));
      after = static_cast<int>(zoom);
    }
    sqlite3_finalize(query);
  }
  ZoomList.push_back(Set.Zoom);
  // length() reads no more than the value's header: a tile too long is
  // told by its length, and its bytes are not read at all.
  if (sqlite3_prepare_v2(Db,
                         "SELECT CASE WHEN length(tile_data) <= ?4 THEN tile_data END, length(tile_data) FROM tiles "
                         "WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3",
                         -1, &Select, nullptr) != SQLITE_OK)
    fail(sqlite3_errmsg(Db));
}

TMbtilesReader::~TMbtilesReader() {
  sqlite3_finalize(Select);
  sqlite3_close_v2(Db);
}

std::optional<std::string> TMbtilesReader::Get(int zoom, int x, int y) {
  if (zoom < 0 || zoom > MaxZoom || x < 0 || y < 0 || x >= GridSize(zoom) || y >= GridSize(zoom)) return std::nullopt;
  sqlite3_bind_int(Select, 1, zoom);
  sqlite3_bind_int(Select, 2, x);
  sqlite3_bind_int64(Select, 3, FlipRow(y, zoom));
  sqlite3_bind_int64(Select, 4, static_cast<sqlite3_int64>(std::min<std::size_t>(MaxTileBytes, INT64_MAX)));
  std::optional<std::string> tile;
  std::string reason;
  const int code = sqlite3_step(Select);
  if (code == SQLITE_ROW) {
    // A text's length counts characters: its bytes are measured once read.
    const bool unread = sqlite3_column_type(Select, 0) == SQLITE_NULL && sqlite3_column_type(Select, 1) != SQLITE_NULL;
    const auto* data = static_cast<const char*>(sqlite3_column_blob(Select, 0));
    const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(Select, 0));
    if (unread || bytes > MaxTileBytes)
      reason = "the tile " + std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y) +
               " is longer than " + std::to_string(MaxTileBytes) + " bytes";
    else
      tile.emplace(data ? data : "", bytes);
  } else if (code != SQLITE_DONE) {
    reason = sqlite3_errmsg(Db);
  }
  sqlite3_reset(Select);
  if (!reason.empty()) throw std::runtime_error(CannotOpenMessage(Path) + ": " + reason);
  return tile;
}

}  // namespace meridane
