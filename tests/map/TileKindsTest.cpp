// The coverage check, the combiner and the viewer sort a tile's bytes alike:
// what one calls bad, none shows or writes.
#include <gtest/gtest.h>

#include "combine/Combine.h"
#include "config/Config.h"
#include "map/MapSource.h"
#include "map/MapTask.h"
#include "task/ProjectFile.h"
#include "tiles/Coverage.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;

TEST(TileKinds, TheCheckTheCombinerAndTheViewerAgree) {
  struct TCase {
    std::string Name, Bytes;
    TTileKind Expected;
  };
  std::vector<TCase> cases = {{"jpeg", EncodeJpeg(256, 256), TTileKind::Good},
                              {"png", EncodePng(256, 256), TTileKind::Good},
                              {"webp", EncodeWebp(256, 256), TTileKind::Good},
                              {"512x512 webp", EncodeWebp(512, 512, true), TTileKind::OtherSize},
                              {"512x512 jpeg", EncodeJpeg(512, 512), TTileKind::OtherSize}};
  for (const auto& [name, bytes] : UndecodableTiles())
    cases.push_back({name, bytes, name == std::string("html page") ? TTileKind::NotImage : TTileKind::NotDecodable});
  for (const auto& [name, bytes, expected] : cases) {
    SCOPED_TRACE(name);
    TTempDir dir;
    const TMapTask task(dir);
    // Every tile of the task but the missing one and the placeholder.
    const TTileGrid grid(OpenTaskReadOnly(task.Project, TStartConfig{}));
    const int x = TMapTask::MinX, y = TMapTask::MinY;
    const std::vector<std::pair<int, int>> tiles = {{x, y},         {x + 1, y},     {x, y + 1},    {x + 1, y + 1},
                                                    {x + 2, y + 1}, {x + 1, y + 2}, {x + 2, y + 2}};
    for (const auto& [tx, ty] : tiles) WriteAll(grid.TilePath(tx, ty), bytes);

    const TCoverageSummary check = CheckCoverage(grid, {.Decode = true, .ProgramFolder = task.Program});
    EXPECT_EQ(check.Count(expected), 7);

    for (const char* output : {"map.mbtiles", "map.png"}) {
      SCOPED_TRACE(output);
      const TCombineRun run{.Output = dir / output, .Options = {}, .ProgramFolder = task.Program};
      const TTileSource source = TaskSource(task.Project, TStartConfig{});
      if (expected == TTileKind::Good) {
        const TCombineSummary summary = Combine(source, run);
        EXPECT_EQ(summary.WrittenAtZoom(), 7);  // and the zooms below in the archive
        EXPECT_TRUE(fs::exists(run.Output));
      } else {
        // Not one tile to write: an error, and no file that looks like a map.
        try {
          Combine(source, run);
          ADD_FAILURE() << "written";
        } catch (const ECombineNothingWritten& e) {
          EXPECT_NE(std::string(e.what()).find("None of the 9 tiles could be written; left out: 1 placeholder, 1 missing"),
                    std::string::npos)
              << e.what();
          EXPECT_NE(std::string(e.what()).find(", 7 " + std::string(TileKindName(expected))), std::string::npos)
              << e.what();
        }
        for (const auto& entry : fs::directory_iterator(dir.Path()))
          EXPECT_EQ(entry.path().filename().string().find("map"), std::string::npos) << entry.path();
      }
    }

    const auto viewer = OpenMapSource(task.Project, task.Program, TStartConfig{});
    for (const auto& [tx, ty] : tiles) {
      EXPECT_EQ(viewer->Load(tx, ty).Kind, expected) << tx << "," << ty;
      EXPECT_EQ(viewer->LoadEighth(tx, ty).Kind, expected) << tx << "," << ty;
    }
  }
}

}  // namespace
}  // namespace meridane::test
