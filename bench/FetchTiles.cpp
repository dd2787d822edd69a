// meridane_fetch HOST ZOOM X0 X1 Y0 Y1 FOLDER [THREADS]: the download engine alone
// (workers, HTTP client, tile files, lines handed to the main thread, the tiles
// flushed to the disk as a task flushes them), fetching
// http://HOST/ZOOM/X/Y.jpg for the tile block into FOLDER with no pause.
// Prints the tile count, the seconds and the tiles per second.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "config/AtomicFile.h"
#include "download/DownThread.h"
#include "geo/Commonfunc.h"

namespace {

using namespace meridane;

class TCountingHost : public IWorkerHost {
 public:
  void AddLogLine(const std::string& line) override { Lines += line.empty() ? 0 : 1; }
  void AddFailedLine(const std::string&) override { ++Failed; }
  void TileDone(const TTileEvent&) override {}
  void WorkerFinished(int) override { ++Finished; }
  long Lines = 0, Failed = 0;
  int Finished = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) {
    std::fprintf(stderr, "usage: %s HOST ZOOM X0 X1 Y0 Y1 FOLDER [THREADS]\n", argv[0]);
    return 2;
  }
  InitHttp();
  const int zoom = std::atoi(argv[2]);
  const int x0 = std::atoi(argv[3]), x1 = std::atoi(argv[4]), y0 = std::atoi(argv[5]), y1 = std::atoi(argv[6]);
  TTaskParams p;
  p.Zoom = zoom;
  p.LeftLongitude = TileXToLon(x0 + 0.5, zoom);
  p.RightLongitude = TileXToLon(x1 + 0.5, zoom);
  p.TopLatitude = TileYToLat(y0 + 0.5, zoom, 0);
  p.BottomLatitude = TileYToLat(y1 + 0.5, zoom, 0);
  p.ThreadCount = argc > 8 ? std::atoi(argv[8]) : 8;
  p.Folder = std::string(argv[7]) + "/";
  p.TaskName = "fetch.mrd";
  p.Hosts = {argv[1], argv[1], argv[1], argv[1]};
  p.UrlTemplate = "http://{host}/{z}/{x}/{y}.jpg";
  p.TilePauseMs = 0;
  TDownloadTask task(p);
  task.CreateTileFolder();

  TQueueDispatcher main;
  TCountingHost host;
  TRealSleeper sleeper;
  std::vector<std::unique_ptr<TDownThread>> workers;
  const auto start = std::chrono::steady_clock::now();
  auto flusher = std::make_unique<TTileFlusher>(task.TileFolder);
  for (int i = 0; i < p.ThreadCount; ++i)
    workers.push_back(std::make_unique<TDownThread>(
        false, i, task, TWorkerContext{&main, &host, &sleeper, MakeCurlHttpClient, {}, flusher.get()}));
  // As a task does: the tiles flushed in the background, and at each save,
  // every fourth second, and at the end.
  auto save = start + std::chrono::seconds(4);
  main.PumpUntil([&] {
    if (std::chrono::steady_clock::now() >= save) {
      FlushFileSystem(task.TileFolder);
      save += std::chrono::seconds(4);
    }
    return host.Finished == p.ThreadCount;
  });
  FlushFileSystem(task.TileFolder);
  flusher.reset();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  workers.clear();
  std::printf("tiles %d failed %ld seconds %.3f tiles_per_second %.0f\n", task.TotalCount, host.Failed, took.count(),
              task.TotalCount / took.count());
  return host.Failed == 0 ? 0 : 1;
}
