#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "combine/Archives.h"
#include "support/Images.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

using test::TTempDir;

// The rows of a query, each as its columns' texts.
std::vector<std::vector<std::string>> Rows(sqlite3* db, const char* sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3_stmt* query = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &query, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(query) == SQLITE_ROW) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(query); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query, i));
      row.emplace_back(text ? text : "NULL");
    }
  }
  sqlite3_finalize(query);
  return rows;
}

// The file as SQLite itself and GDAL read it: rows from the south, the
// metadata of the format, the tiles' bytes unchanged, a Web Mercator raster.
TEST(Mbtiles, ClientsReadRowsMetadataAndExtent) {
  TTempDir dir;
  const TTileSet set = test::SetOf(2, 1, 1, 2, 2);
  const std::string jpeg = test::EncodeJpeg(256, 256);
  test::WriteSet(*test::WriterOf(test::TArchiveKind::Mbtiles, dir / "t.mbtiles", set), set,
                 [&](int x, int y) { return x == 2 && y == 2 ? std::nullopt : std::optional(jpeg); });

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((dir / "t.mbtiles").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  using TRows = std::vector<std::vector<std::string>>;
  const std::string size = std::to_string(jpeg.size());
  const struct {
    const char* Sql;
    TRows Expected;
  } queries[] = {
      {"SELECT name, value FROM metadata ORDER BY rowid",
       {{"name", set.Name},
        {"format", "jpg"},
        {"bounds", "-90,-66.51326044311185,90,66.51326044311186"},
        {"center", "0,7.105427357601002e-15,2"},
        {"minzoom", "2"},
        {"maxzoom", "2"},
        {"type", "baselayer"},
        {"version", "1"},
        {"description", set.Description}}},
      // Row y counts from the north, tile_row from the south: 3 - y.
      {"SELECT zoom_level, tile_column, tile_row, length(tile_data) FROM tiles ORDER BY tile_row, tile_column",
       {{"2", "1", "1", size}, {"2", "1", "2", size}, {"2", "2", "2", size}}},
      {"SELECT count(*) FROM tiles WHERE tile_data = (SELECT tile_data FROM tiles LIMIT 1)", {{"3"}}},
      {"SELECT name, \"unique\" FROM pragma_index_list('tiles')", {{"tile_index", "1"}}},
      {"SELECT name FROM pragma_index_info('tile_index') ORDER BY seqno", {{"zoom_level"}, {"tile_column"}, {"tile_row"}}},
      {"PRAGMA page_size", {{"8192"}}},
      {"PRAGMA journal_mode", {{"delete"}}},
  };
  for (const auto& q : queries) EXPECT_EQ(Rows(db, q.Sql), q.Expected) << q.Sql;
  sqlite3_close(db);

  const auto [info, status] = test::RunCommand("gdalinfo '" + (dir / "t.mbtiles").string() + "' 2>&1");
  ASSERT_EQ(status, 0) << info;
  for (const char* expected : {"Driver: MBTiles/MBTiles", "ID[\"EPSG\",3857]", "Upper Left  (-10018754.171,10018754.171)",
                               "Lower Right (10018754.171,-10018754.171)", "Size is 512, 512"})
    EXPECT_NE(info.find(expected), std::string::npos) << expected << " in\n" << info;
}

}  // namespace
}  // namespace meridane
