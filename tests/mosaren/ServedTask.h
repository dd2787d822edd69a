#pragma once

// A task of real, distinct JPEG tiles, downloaded from the test server as a
// user would, for the combiner to join: four columns by three rows at zoom 16,
// an area no other test asks for, one tile of which the server lacks (404).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "cli/CliServer.h"
#include "cli/Commands.h"
#include "combine/Archives.h"
#include "combine/ReadBack.h"

namespace meridane::test {

class TServedTask : public TCliServer {
 protected:
  static constexpr int Zoom = 16, MinX = 40000, MinY = 30000, Columns = 4, Rows = 3;
  static constexpr int MissingColumn = 2, MissingRow = 1;

  static TTileSet Set() { return SetOf(Zoom, MinX, MinY, MinX + Columns - 1, MinY + Rows - 1); }

  // The served bytes of the tile of a column and row of the area, none for the missing one.
  static std::optional<std::string> Tile(int column, int row) {
    if (column == MissingColumn && row == MissingRow) return std::nullopt;
    return SourceTile(column, row, "jpg");
  }
  static std::optional<std::string> TileAt(int x, int y) { return Tile(x - MinX, y - MinY); }
  // Every served tile by column and row from the north, as MbtilesTiles reads them.
  static std::map<std::pair<int, int>, std::string> TilesServed() {
    std::map<std::pair<int, int>, std::string> tiles;
    for (int y = MinY; y < MinY + Rows; ++y)
      for (int x = MinX; x < MinX + Columns; ++x)
        if (const auto tile = TileAt(x, y)) tiles[{x, y}] = *tile;
    return tiles;
  }

  // Serves the tiles and downloads them into the task maps/NAME.mrd; returns its project file.
  std::filesystem::path Download(const std::string& name) {
    namespace fs = std::filesystem;
    for (int column = 0; column < Columns; ++column)
      for (int row = 0; row < Rows; ++row) {
        const std::optional<std::string> tile = Tile(column, row);
        if (!tile) continue;
        const fs::path folder = Served / "tiles" / std::to_string(Zoom) / std::to_string(MinX + column);
        fs::create_directories(folder);
        // Written whole under a name of its own first: another test may be serving it now.
        const fs::path file = folder / (std::to_string(MinY + row) + ".jpg");
        const fs::path partial = file.string() + "." + std::to_string(::getpid());
        WriteAll(partial, *tile);
        fs::rename(partial, file);
      }
    // The centres of the corner tiles; the missing one fails the download.
    const auto number = [](double value) {
      char text[32];
      std::snprintf(text, sizeof text, "%.7f", value);
      return std::string(text);
    };
    TCliOptions options;
    options.Left = number(TileXToLon(MinX + 0.5, Zoom)), options.Right = number(TileXToLon(MinX + Columns - 0.5, Zoom));
    options.Top = number(TileYToLat(MinY + 0.5, Zoom, 0)), options.Bottom = number(TileYToLat(MinY + Rows - 0.5, Zoom, 0));
    options.Zoom = Zoom;
    options.Task = name;
    std::ostringstream out, err;
    EXPECT_EQ(DownloadCommand(options, Config, out, err, [] { return 0; }), ExitStatus::SomeFailed) << out.str() << err.str();
    return Dir / "maps" / (name + ".mrd");
  }
};

}  // namespace meridane::test
