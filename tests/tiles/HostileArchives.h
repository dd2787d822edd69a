#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tiles/Gzip.h"
#include "tiles/Pmtiles.h"

// Archives made to hurt a reader: metadata nested without end, lengths far
// beyond the file, directories that inflate to gigabytes, numbers no map has.
namespace meridane::test {

// The sections of a PMTiles file and the header's fields a test changes.
struct TPmtilesParts {
  std::string Root, Metadata, Leaves, Data;
  int Compression = PmtilesCompressionGzip;
  int MinZoom = 0, MaxZoom = 2;
  double West = -10, South = -10, East = 10, North = 10;
  std::uint64_t RootLength = 0;  // 0: the root's own length
};

inline void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

inline std::string PmtilesFile(const TPmtilesParts& p) {
  std::string out(PmtilesMagic);
  out.push_back(3);
  const std::uint64_t root = PmtilesHeaderSize, metadata = root + p.Root.size(), leaves = metadata + p.Metadata.size(),
                      data = leaves + p.Leaves.size();
  for (const std::uint64_t value : {root, p.RootLength ? p.RootLength : p.Root.size(), metadata, std::uint64_t{p.Metadata.size()},
                                    leaves, std::uint64_t{p.Leaves.size()}, data, std::uint64_t{p.Data.size()}, std::uint64_t{0},
                                    std::uint64_t{0}, std::uint64_t{0}})
    PutLittleEndian(out, value, 8);
  out += {1, static_cast<char>(p.Compression), 1, 3, static_cast<char>(p.MinZoom), static_cast<char>(p.MaxZoom)};
  for (const double degrees : {p.West, p.South, p.East, p.North})
    PutLittleEndian(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(degrees * 1e7)), 4);
  out.push_back(static_cast<char>(p.MinZoom));
  PutLittleEndian(out, 0, 8);
  return out + p.Root + p.Metadata + p.Leaves + p.Data;
}

inline std::string Compressed(const TPmtilesParts& p, const std::string& bytes) {
  return p.Compression == PmtilesCompressionGzip ? Gzip(bytes) : bytes;
}

// A directory of count tiles from firstId on, each one byte at offset 0.
inline std::string DirectoryOfTiles(std::uint64_t firstId, std::size_t count) {
  std::vector<TPmtilesEntry> entries(count);
  for (std::size_t i = 0; i < count; ++i) entries[i] = {firstId + i, 0, 1, 1};
  return EncodePmtilesDirectory(entries);
}

// A root of one tile, the one byte "x" as data, and metadata as given.
inline std::string PmtilesWithMetadata(const std::string& json) {
  TPmtilesParts p;
  p.Root = Gzip(DirectoryOfTiles(0, 1));
  p.Metadata = Gzip(json);
  p.Data = "x";
  return PmtilesFile(p);
}

// An MBTiles file made with SQLite itself: metadata rows, then tiles given as
// SQL values ("zeroblob(100)", "x'ffd8'").
struct TMbtilesTile {
  int Zoom, Column, Row;
  std::string Data;
};
inline bool WriteMbtiles(const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& metadata,
                         const std::vector<TMbtilesTile>& tiles, bool wal = false) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  std::string sql = wal ? "PRAGMA journal_mode = WAL;" : "";
  sql += "CREATE TABLE metadata (name text, value text);"
         "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, tile_data blob);";
  for (const auto& [name, value] : metadata) sql += "INSERT INTO metadata VALUES ('" + name + "', '" + value + "');";
  for (const TMbtilesTile& t : tiles)
    sql += "INSERT INTO tiles VALUES (" + std::to_string(t.Zoom) + ", " + std::to_string(t.Column) + ", " +
           std::to_string(t.Row) + ", " + t.Data + ");";
  const bool done = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && done;
}

}  // namespace meridane::test
