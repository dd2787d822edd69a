#include "tiles/Coverage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "task/Descriptor.h"
#include "tiles/TileReader.h"

namespace meridane {

namespace fs = std::filesystem;

std::string SummaryLine(const TCoverageSummary& s) {
  std::string line = std::to_string(s.Checked()) + " tiles";
  if (s.Stopped) line += " of " + std::to_string(s.Tiles);
  const std::size_t kinds = s.Decoded ? TileKindCount : static_cast<std::size_t>(TTileKind::NotDecodable);
  for (std::size_t k = 0; k < kinds; ++k)
    line += (k == 0 ? ": " : ", ") + std::to_string(s.Counts[k]) + " " +
            std::string(TileKindName(static_cast<TTileKind>(k)));
  char rate[48];
  std::snprintf(rate, sizeof rate, "; %.0f tiles/s", s.TilesPerSecond());
  return line + rate;
}

std::string TimeLeft(long long done, long long total, double seconds) {
  if (seconds <= 0 || done <= 0 || total < done) return "--:--";
  const auto s = static_cast<long long>(static_cast<double>(total - done) * seconds / static_cast<double>(done));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

std::string CheckStatusLine(long long checked, long long tiles, long long bad, double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(checked) / seconds : 0;
  char text[160];
  std::snprintf(text, sizeof text, "%lld/%lld tiles, %.0f tiles/s, %lld bad, %s left", checked, tiles, rate, bad,
                TimeLeft(checked, tiles, seconds).c_str());
  return text;
}

namespace {

// The walk cut into blocks that the threads take in turn. The calling thread
// hands each block's bad tiles on in walk order; a thread runs at most Window
// blocks ahead of it, so memory stays bounded whatever the task's size.
class TCheckRun {
 public:
  static constexpr long long BlockTiles = 4096;

  TCheckRun(const TTileGrid& grid, const TCoverageOptions& options, const TTileReader& reader)
      : Grid(grid), Options(options), Reader(reader) {
    const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
    ThreadCount = Options.Threads > 0 ? Options.Threads : static_cast<int>(std::min(processors, 4U));
    Blocks = (Grid.Count() + BlockTiles - 1) / BlockTiles;
    ThreadCount = static_cast<int>(std::min<long long>(ThreadCount, std::max(1LL, Blocks)));
    Window = 4 * ThreadCount;
    Slots.resize(static_cast<std::size_t>(Window));
  }

  // Stops and joins the threads however the run ends.
  ~TCheckRun() {
    {
      const std::lock_guard lock(Mutex);
      Stopping = true;
    }
    // A block of slow tiles takes seconds: a stop must not wait for it.
    Abandoned.store(true, std::memory_order_relaxed);
    Room.notify_all();
    for (std::thread& thread : Threads) thread.join();
  }
  TCheckRun(const TCheckRun&) = delete;
  TCheckRun& operator=(const TCheckRun&) = delete;

  TCoverageSummary Run() {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    TCoverageSummary summary;
    summary.Tiles = Grid.Count();
    summary.Decoded = Options.Decode;
    for (int i = 0; i < ThreadCount; ++i) Threads.emplace_back([this] { Work(); });

    auto nextProgress = started + std::chrono::milliseconds(100);
    // Progress now and then, and whether the caller asks to stop.
    auto stopAsked = [&] {
      const auto now = Clock::now();
      if (now >= nextProgress) {
        nextProgress = now + std::chrono::milliseconds(100);
        summary.Seconds = std::chrono::duration<double>(now - started).count();
        summary.Read = std::max(summary.Checked(), Read.load(std::memory_order_relaxed));
        if (Options.OnProgress) Options.OnProgress(summary);
      }
      return Options.Stop && Options.Stop();
    };
    for (long long block = 0; block < Blocks; ++block) {
      TBlock& slot = Slots[static_cast<std::size_t>(block % Window)];
      std::unique_lock lock(Mutex);
      while (!slot.Ready && !Failure) {
        if (Done.wait_until(lock, nextProgress) == std::cv_status::no_timeout) continue;
        lock.unlock();
        const bool stop = stopAsked();
        lock.lock();
        if (stop) {
          summary.Stopped = true;
          break;
        }
      }
      if (Failure) std::rethrow_exception(Failure);
      if (summary.Stopped) break;
      lock.unlock();
      if (Options.OnBad)
        for (const TBadTile& tile : slot.Bad) Options.OnBad(tile);
      for (std::size_t k = 0; k < TileKindCount; ++k) summary.Counts[k] += slot.Counts[k];
      lock.lock();
      slot.Ready = false;
      ++Emitted;
      lock.unlock();
      Room.notify_all();
      if (block + 1 < Blocks && stopAsked()) {
        summary.Stopped = true;
        break;
      }
    }
    summary.Seconds = std::chrono::duration<double>(Clock::now() - started).count();
    summary.Read = summary.Checked();
    return summary;
  }

 private:
  struct TBlock {
    std::vector<TBadTile> Bad;
    std::array<long long, TileKindCount> Counts{};
    bool Ready = false;
  };

  void Work() {
    try {
      std::string scratch;
      for (;;) {
        long long block = 0;
        {
          std::unique_lock lock(Mutex);
          Room.wait(lock, [this] { return Stopping || Next >= Blocks || Next < Emitted + Window; });
          if (Stopping || Next >= Blocks) return;
          block = Next++;
        }
        // The slot's last block was handed on already: nobody else touches it now.
        TBlock& slot = Slots[static_cast<std::size_t>(block % Window)];
        Classify(block, slot, scratch);
        {
          const std::lock_guard lock(Mutex);
          slot.Ready = true;
        }
        Done.notify_one();
      }
    } catch (...) {
      {
        const std::lock_guard lock(Mutex);
        if (!Failure) Failure = std::current_exception();
        Stopping = true;
      }
      Done.notify_one();
      Room.notify_all();
    }
  }

  void Classify(long long block, TBlock& slot, std::string& scratch) {
    slot.Bad.clear();
    slot.Counts.fill(0);
    const TTileRange& range = Grid.Range();
    const long long rows = Grid.RowCount();
    const long long first = block * BlockTiles, last = std::min(first + BlockTiles, Grid.Count());
    // Names put together in one buffer: no allocation per tile.
    std::string head, name;
    long long headColumn = -1;
    for (long long i = first; i < last; ++i) {
      // Every 16 tiles: the progress moves from the first tile, and a stop ends the block.
      if ((i & 15) == 15) {
        Read.fetch_add(16, std::memory_order_relaxed);
        if (Abandoned.load(std::memory_order_relaxed)) return;
      }
      const int x = static_cast<int>(range.MinX + i / rows), y = static_cast<int>(range.MinY + i % rows);
      if (x != headColumn) {
        head = Grid.FileNameHead(x);
        headColumn = x;
      }
      name.assign(head);
      name += Grid.FileNameTail(y);
      const TTileKind kind = Options.Decode ? Reader.ReadDecodable(name.c_str(), scratch)
                                            : Reader.Peek(name.c_str(), scratch);
      scratch.clear();
      ++slot.Counts[static_cast<std::size_t>(kind)];
      if (kind != TTileKind::Good) slot.Bad.push_back({x, y, kind});
    }
  }

  const TTileGrid& Grid;
  const TCoverageOptions& Options;
  const TTileReader& Reader;
  int ThreadCount = 1;
  long long Blocks = 0;
  long long Window = 1;
  std::vector<TBlock> Slots;

  std::mutex Mutex;
  std::condition_variable Done;  // a block is ready
  std::condition_variable Room;  // a block was handed on
  long long Next = 0;            // the next block to take
  long long Emitted = 0;         // blocks handed on
  bool Stopping = false;
  std::exception_ptr Failure;
  std::atomic<long long> Read{0};       // tiles classified, in blocks handed on or not
  std::atomic<bool> Abandoned{false};  // the run ends: blocks under way are left unfinished
  std::vector<std::thread> Threads;  // last: joined before the rest goes
};

}  // namespace

TCoverageSummary CheckCoverage(const TTileGrid& grid, const TCoverageOptions& options) {
  const std::string blank = PlaceholderBytes(options.ProgramFolder, grid.Extension());
  const TDescriptor handle = OpenTileFolder(grid.TileFolder());
  const TTileReader reader(handle.Get(), blank, options.MaxTileBytes);
  TCheckRun run(grid, options, reader);
  return run.Run();
}

TRepairListWriter::TRepairListWriter(const fs::path& target, const TTileGrid& grid) : Writer(target), Grid(grid) {}

void TRepairListWriter::Add(int x, int y) {
  Pending += Grid.TilePath(x, y);
  Pending += '|';
  Pending += Grid.TileUrl(x, y);
  Pending += "\r\n";
  if (Pending.size() >= 64 * 1024) Flush();
}

void TRepairListWriter::Flush() {
  Writer.Write(Pending);
  Pending.clear();
}

void TRepairListWriter::Commit() {
  Flush();
  Writer.Commit();
}

}  // namespace meridane
