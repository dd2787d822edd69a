// meridane_link_tiles TILES FOLDER [SOURCE...]: a task of about TILES tiles in
// FOLDER (bench.mrd and its tile folder) whose tiles are hard links to the
// SOURCE files in turn, for checks of millions of tiles on a small disk;
// without a SOURCE every tile is missing.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SquareTask.h"
#include "task/ProjectFile.h"
#include "task/TileGrid.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TILES FOLDER [SOURCE...]\n", argv[0]);
    return 2;
  }
  const std::string folder = std::string(argv[2]) + "/";
  const meridane::TTaskParams params = meridane::bench::SquareRequest(std::atoll(argv[1]), folder);
  const meridane::TTileGrid grid(params);
  std::filesystem::create_directories(folder);
  meridane::WriteNewProject(folder + params.TaskName, params, grid.Range());
  const std::vector<std::string> sources(argv + 3, argv + argc);
  if (!sources.empty()) {
    std::filesystem::create_directories(grid.TileFolder());
    std::size_t next = 0;
    bool failed = false;
    grid.ForEach([&](int x, int y) {
      if (failed) return;
      const std::string& source = sources[next++ % sources.size()];
      if (::link(source.c_str(), grid.TilePath(x, y).c_str()) != 0) {
        std::perror(grid.TilePath(x, y).c_str());
        failed = true;
      }
    });
    if (failed) return 1;
  }
  std::printf("%s%s %lld\n", folder.c_str(), params.TaskName.c_str(), grid.Count());
  return 0;
}
