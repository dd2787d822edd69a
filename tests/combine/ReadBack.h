#pragma once

// Outputs read back by other programs than ours: GDAL for the georeferenced
// ones, the pmtiles package's reader (node) for PMTiles; and the real tiles
// they are compared with.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "combine/Archives.h"
#include "tiles/Decode.h"
#include "support/Images.h"
#include "support/TempDir.h"

namespace meridane::test {

// Smooth gradients over a colour of the tile's own, so a tile in the wrong place shows.
inline std::string SourceTile(int column, int row, const std::string& format) {
  const int seed = column * 7 + row * 13;
  std::vector<unsigned char> pixels;
  for (int y = 0; y < TileSide; ++y)
    for (int x = 0; x < TileSide; ++x) {
      pixels.push_back(static_cast<unsigned char>(seed * 29 % 200 + x / 8));
      pixels.push_back(static_cast<unsigned char>(seed * 53 % 200 + y / 8));
      pixels.push_back(static_cast<unsigned char>((x + y) / 4));
      if (format != "jpg") pixels.push_back(255);
    }
  if (format == "webp") return EncodeWebpPixels(pixels, TileSide, TileSide, true);
  return format == "png" ? EncodePngPixels(pixels, TileSide, TileSide, PNG_FORMAT_RGBA)
                         : EncodeJpegPixels(pixels, TileSide, TileSide, 3, 95);
}

// gdalinfo -json without white space, so its parts can be looked for as text.
inline std::string GdalInfo(const std::string& path) {
  std::string json = RunCommand("gdalinfo -json '" + path + "'").first;
  json.erase(std::remove_if(json.begin(), json.end(), [](char c) { return c == ' ' || c == '\n'; }), json.end());
  return json;
}

inline std::vector<double> GeoTransform(const std::string& json) {
  std::smatch m;
  std::vector<double> numbers;
  if (std::regex_search(json, m, std::regex(R"("geoTransform":\[([^\]]*)\])"))) {
    std::stringstream list(m[1].str());
    for (std::string item; std::getline(list, item, ',');) numbers.push_back(std::stod(item));
  }
  return numbers;
}

// A 256x256 window of the output (full size pixels, or those of the first
// overview over twice the window) as RGBA, read by GDAL.
inline TRgba GdalWindow(const std::string& path, const std::string& bands, int left, int top, bool overview = false) {
  const std::string png = path + ".window.png";
  const int side = overview ? 2 * TileSide : TileSide;
  std::remove(png.c_str());
  RunCommand("gdal_translate -q -of PNG " + bands + (overview ? " -ovr 0" : "") + " -srcwin " + std::to_string(left) +
             " " + std::to_string(top) + " " + std::to_string(side) + " " + std::to_string(side) + " '" + path + "' '" +
             png + "'");
  TRgba pixels;
  EXPECT_TRUE(DecodeTile(ReadAll(png), pixels)) << "GDAL read no window at " << left << "," << top;
  return pixels;
}

// The mean absolute difference of the colours and the extremes of the alpha.
struct TComparison {
  double MeanDifference = 0;
  int MinAlpha = 255, MaxAlpha = 0;
};

inline TComparison Compare(const TRgba& got, const TRgba& want) {
  TComparison c;
  double sum = 0;
  for (std::size_t i = 0; i < TilePixels; ++i) {
    for (int k = 0; k < 3; ++k) sum += std::abs(got[i * 4 + k] - want[i * 4 + k]);
    c.MinAlpha = std::min<int>(c.MinAlpha, got[i * 4 + 3]);
    c.MaxAlpha = std::max<int>(c.MaxAlpha, got[i * 4 + 3]);
  }
  c.MeanDifference = sum / (TilePixels * 3);
  return c;
}

// Every tile of an MBTiles file by column and row from the north.
inline std::map<std::pair<int, int>, std::string> MbtilesTiles(const std::filesystem::path& file) {
  std::map<std::pair<int, int>, std::string> tiles;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &select, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  while (select && sqlite3_step(select) == SQLITE_ROW) {
    const int zoom = sqlite3_column_int(select, 0);
    const auto* data = static_cast<const char*>(sqlite3_column_blob(select, 3));
    tiles[{sqlite3_column_int(select, 1), (1 << zoom) - 1 - sqlite3_column_int(select, 2)}] =
        std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(select, 3)));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return tiles;
}

// The pmtiles package's reader, installed from the tarballs in combine/vendor
// into a folder of its own, reads a file: the header and metadata as JSON,
// then every tile of a rectangle one tile larger than the set.
inline std::string ReadWithPackage(const TTempDir& dir, const std::filesystem::path& archive, const TTileSet& set) {
  namespace fs = std::filesystem;
  const fs::path vendor = fs::path(MERIDANE_TEST_SOURCE_DIR) / "combine" / "vendor";
  const fs::path modules = dir / "node_modules";
  for (const char* package : {"pmtiles", "fflate"}) {
    fs::create_directories(modules / package);
    for (const auto& entry : fs::directory_iterator(vendor))
      if (entry.path().filename().string().starts_with(std::string(package) + "-")) {
        const std::string command = "tar -xzf '" + entry.path().string() + "' -C '" + (modules / package).string() +
                                    "' --strip-components=1";
        EXPECT_EQ(RunCommand(command).second, 0) << command;
      }
  }
  fs::copy_file(fs::path(MERIDANE_TEST_SOURCE_DIR) / "combine" / "read_pmtiles.mjs", dir / "read.mjs",
                fs::copy_options::overwrite_existing);
  std::ofstream requests(dir / "requests.txt");
  for (int y = set.MinY - 1; y <= set.MaxY + 1; ++y)
    for (int x = set.MinX - 1; x <= set.MaxX + 1; ++x) requests << set.Zoom << " " << x << " " << y << "\n";
  requests.close();
  const auto [log, status] =
      RunCommand("node '" + (dir / "read.mjs").string() + "' '" + archive.string() + "' '" +
                 (dir / "requests.txt").string() + "' '" + (dir / "read.txt").string() + "' 2>&1");
  EXPECT_EQ(status, 0) << log;
  return ReadAll(dir / "read.txt");
}

// What the package's reader should answer for the rectangle of ReadWithPackage,
// after its first line.
inline std::string PackageExpected(const TTileSet& set, const TTileRule& rule) {
  std::string out;
  static const char Digits[] = "0123456789abcdef";
  for (int y = set.MinY - 1; y <= set.MaxY + 1; ++y)
    for (int x = set.MinX - 1; x <= set.MaxX + 1; ++x) {
      const bool inside = x >= set.MinX && x <= set.MaxX && y >= set.MinY && y <= set.MaxY;
      const std::optional<std::string> tile = inside ? rule(x, y) : std::nullopt;
      out += std::to_string(set.Zoom) + " " + std::to_string(x) + " " + std::to_string(y) + " ";
      if (!tile) out += "-";
      for (const char c : tile.value_or(""))
        out += {Digits[static_cast<unsigned char>(c) >> 4], Digits[static_cast<unsigned char>(c) & 15]};
      out += "\n";
    }
  return out;
}

}  // namespace meridane::test
