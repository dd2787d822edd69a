#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "SquareTask.h"
#include "geo/Commonfunc.h"
#include "task/DownloadTask.h"

namespace {

using namespace meridane;

void BM_LonToTileX(benchmark::State& state) {
  double lon = -179.9;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LonToTileX(lon, 17));
    lon = lon > 179 ? -179.9 : lon + 0.37;
  }
}
BENCHMARK(BM_LonToTileX);

void BM_LatToTileY(benchmark::State& state) {
  const int fromSouth = static_cast<int>(state.range(0));
  double lat = -84.9;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LatToTileY(lat, 17, fromSouth));
    lat = lat > 84 ? -84.9 : lat + 0.37;
  }
}
BENCHMARK(BM_LatToTileY)->Arg(0)->Arg(1);

void BM_TileXToLon(benchmark::State& state) {
  int x = 0;
  for (auto _ : state) benchmark::DoNotOptimize(TileXToLon(x = (x + 7) & 0x1ffff, 17));
}
BENCHMARK(BM_TileXToLon);

void BM_TileYToLat(benchmark::State& state) {
  const int fromSouth = static_cast<int>(state.range(0));
  int y = 0;
  for (auto _ : state) benchmark::DoNotOptimize(TileYToLat(y = (y + 7) & 0x1ffff, 17, fromSouth));
}
BENCHMARK(BM_TileYToLat)->Arg(0)->Arg(1);

// The folder comes from MERIDANE_BENCH_DIR (default: the system's temporary folder),
// so the same run can be pointed at the project's disk or at a tmpfs.
void BM_WriteImageList(benchmark::State& state) {
  const char* dir = std::getenv("MERIDANE_BENCH_DIR");
  const std::filesystem::path folder =
      std::filesystem::path(dir ? dir : std::filesystem::temp_directory_path().string()) / "meridane-bench";
  std::filesystem::create_directories(folder);
  const TTaskParams params = bench::SquareRequest(state.range(0), folder.string() + "/");
  const TDownloadTask task(params);
  for (auto _ : state) task.WriteImageList();
  const auto bytes = std::filesystem::file_size(task.ListPath);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.counters["tiles"] = task.TotalCount;
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WriteImageList)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
