#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tiles/Projection.h"
#include "support/Images.h"
#include "support/TempDir.h"
#include "task/ProjectFile.h"
#include "task/TileGrid.h"

namespace meridane::test {

// A downloaded task of 3 x 3 tiles at zoom 10 (columns 843..845, rows
// 387..389) whose tiles are solid green, but for a missing one (845, 387) and
// the placeholder (843, 389). The program folder beside it holds blankimg/.
struct TMapTask {
  static constexpr int Zoom = 10, MinX = 843, MinY = 387;
  std::filesystem::path Project, Program;

  explicit TMapTask(const TTempDir& dir) : Project(dir / "t.mrd"), Program(dir / "program") {
    TTaskParams params;
    // From the middle of the first tile to the middle of the last.
    const TLonLat nw = PixelToLonLat({(MinX + 0.5) * 256, (MinY + 0.5) * 256}, Zoom);
    const TLonLat se = PixelToLonLat({(MinX + 2.5) * 256, (MinY + 2.5) * 256}, Zoom);
    params.LeftLongitude = nw.Lon;
    params.RightLongitude = se.Lon;
    params.TopLatitude = nw.Lat;
    params.BottomLatitude = se.Lat;
    params.Zoom = Zoom;
    params.Folder = dir.Folder();
    params.TaskName = "t.mrd";
    const TTileGrid grid(params);
    WriteNewProject(Project, params, grid.Range());
    std::filesystem::create_directories(Program / "blankimg");
    const std::string blank = ReadAll(std::filesystem::path(MERIDANE_TEST_SOURCE_DIR) / "../blankimg/blank.jpg");
    WriteAll(Program / "blankimg/blank.jpg", blank);
    std::filesystem::create_directories(grid.TileFolder());
    std::vector<unsigned char> green;
    for (int i = 0; i < 256 * 256; ++i) green.insert(green.end(), {0, 200, 0});
    const std::string good = EncodeJpegPixels(green, 256, 256, 3, 95);
    grid.ForEach([&](int x, int y) {
      if (x == MinX + 2 && y == MinY) return;
      WriteAll(grid.TilePath(x, y), x == MinX && y == MinY + 2 ? blank : good);
    });
  }
};

// A Z/X/Y tree of two tiles in column 1 of zoom 2: red in file row 0, blue in
// file row 1. Read with its rows from the south, the blue one is the north tile.
struct TTwoRowTree {
  std::filesystem::path Folder;

  explicit TTwoRowTree(const TTempDir& dir) : Folder(dir / "tree") {
    std::filesystem::create_directories(Folder / "2/1");
    const auto solid = [](unsigned char red, unsigned char blue) {
      std::vector<unsigned char> pixels;
      for (int i = 0; i < 256 * 256; ++i) pixels.insert(pixels.end(), {red, 0, blue});
      return EncodeJpegPixels(pixels, 256, 256, 3, 95);
    };
    WriteAll(Folder / "2/1/0.jpg", solid(230, 0));
    WriteAll(Folder / "2/1/1.jpg", solid(0, 230));
  }
};

}  // namespace meridane::test
