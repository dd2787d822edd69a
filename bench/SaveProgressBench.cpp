// SaveProgress with a short and a very long log, and the memory of a memo
// through a million log lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "geo/Commonfunc.h"
#include "ui/HeadlessToolkit.h"
#include "ui/MainForm.h"

namespace {

using namespace meridane;
namespace fs = std::filesystem;

class TJpegClient : public IHttpClient {
 public:
  void Get(const std::string&, std::string& buffer) override { buffer += "\xFF\xD8\xFF\xE0 tile"; }
};

// Holds each worker at its first pause, so the task keeps running while measured.
class THoldingSleeper : public ISleeper {
 public:
  void Sleep(int) override {
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [this] { return Released; });
  }
  void Release() {
    std::lock_guard<std::mutex> guard(Lock);
    Released = true;
    Changed.notify_all();
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  bool Released = false;
};

// A running 8-worker task whose log holds `lines` lines; each iteration adds
// 100 lines (a few seconds of a fast download) and saves.
void BM_SaveProgress(benchmark::State& state) {
  const char* base = std::getenv("MERIDANE_BENCH_DIR");
  const fs::path folder = fs::path(base ? base : fs::temp_directory_path().string()) / "meridane-save-bench";
  fs::remove_all(folder);
  fs::create_directories(folder / "program" / "ini");
  std::ofstream(folder / "program" / "ini" / "config.ini") << "[Download]\r\nTilePause=1\r\n";

  THeadlessToolkit toolkit;
  THoldingSleeper sleeper;
  TMainFormEnvironment environment{
      folder / "program", {}, &sleeper, [] { return std::unique_ptr<IHttpClient>(new TJpegClient); }};
  {
    TForm1 form(toolkit, environment);
    form.FormShow();
    form.Edit6.Text = (folder / "maps").string();
    form.Edit1.Text = "10";
    form.Edit3.Text = "11";
    form.Edit2.Text = "50";
    form.Edit4.Text = "49";
    form.Edit10.Text = "8";
    form.BitBtn1Click();
    for (int i = 0; i < 1000; ++i) toolkit.Pump(std::chrono::milliseconds(1));  // the first tiles' lines

    const std::string line = "T3:seq=123456,gs_123456_654321_20.jpg OK";
    for (std::int64_t i = 0; i < state.range(0); ++i) form.Memo1.Add(line);
    form.SaveProgress();
    for (auto _ : state) {
      for (int i = 0; i < 100; ++i) form.Memo1.Add(line);
      form.SaveProgress();
    }
    state.counters["log_MB"] = static_cast<double>(fs::file_size(form.CurrentTask->LogPath)) / 1e6;
    sleeper.Release();
    form.BitBtn1Click();
    while (form.Running()) {
      toolkit.Pump(std::chrono::milliseconds(1));
      toolkit.Tick();
    }
  }
  fs::remove_all(folder);
}
BENCHMARK(BM_SaveProgress)->Arg(1000)->Arg(1'000'000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A million log lines, saved every 4,000 lines as the timer would: the memo's
// largest size along the way.
void BM_MemoMemory(benchmark::State& state) {
  const fs::path file = fs::temp_directory_path() / ("meridane-memo-" + std::to_string(::getpid()) + ".txt");
  for (auto _ : state) {
    TMemo memo;
    std::size_t most = 0;
    for (int i = 1; i <= 1'000'000; ++i) {
      memo.Add("T3:seq=123456,gs_123456_654321_20.jpg OK");
      if (i % 4000 == 0) {
        most = std::max(most, memo.MemoryUsed());
        memo.SaveToFile(file);
      }
    }
    state.counters["peak_MB"] = static_cast<double>(most) / 1e6;
    fs::remove(file);
  }
}
BENCHMARK(BM_MemoMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
