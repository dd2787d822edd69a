#include "task/Coverage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "task/Descriptor.h"
#include "task/ImageData.h"

namespace meridane {

namespace fs = std::filesystem;

std::string_view TileKindName(TTileKind kind) {
  switch (kind) {
    case TTileKind::Good: return "good";
    case TTileKind::Missing: return "missing";
    case TTileKind::Empty: return "empty";
    case TTileKind::NotImage: return "not an image";
    case TTileKind::Placeholder: return "placeholder";
    case TTileKind::NotDecodable: return "not decodable";
    case TTileKind::OtherSize: return "not 256x256";
  }
  return "";
}

long long TCoverageSummary::Checked() const {
  long long checked = 0;
  for (const long long count : Counts) checked += count;
  return checked;
}

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

TTileKind KindOfBytes(std::string_view bytes, std::string_view blank) {
  if (bytes.empty()) return TTileKind::Empty;
  if (!blank.empty() && bytes == blank) return TTileKind::Placeholder;
  if (!IsImageData(bytes)) return TTileKind::NotImage;
  return TTileKind::Good;
}

std::string PlaceholderBytes(const fs::path& programFolder, const std::string& extension) {
  if (extension.empty()) return {};
  try {
    return ReadFileBytes(programFolder / "blankimg" / ("blank." + extension));
  } catch (const EFileError&) {
    return {};  // no blank image: no tile can be one
  }
}

namespace {

// A decoded tile is at most this long: a file beyond it is read no further,
// and a 256x256 image cut short there does not decode.
constexpr std::size_t MaxDecodedBytes = 16 * 1024 * 1024;

// Sorts tile files of one folder, on one thread.
class TTileReader {
 public:
  TTileReader(int folder, const std::string& blank, bool decode) : Folder(folder), Blank(blank), Decode(decode) {}

  TTileKind Kind(const char* name) {
    if (Folder < 0) return TTileKind::Missing;
    // Not blocking: a pipe under a tile's name must not hold the check.
    const TDescriptor file(::openat(Folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.Get() < 0) return errno == ENOENT ? TTileKind::Missing : TTileKind::NotImage;
    // Without the decoder one read tells it all: a placeholder by its size
    // (one byte more is asked for) and bytes, an image by its first bytes.
    std::size_t wanted = std::max(ImageMagicSize, Blank.size() + 1);
    if (Decode) {
      struct stat status;
      if (::fstat(file.Get(), &status) != 0) return TTileKind::NotImage;
      wanted = std::min(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)), MaxDecodedBytes);
    }
    if (Buffer.size() < wanted) Buffer.resize(wanted);
    std::size_t size = 0;
    while (size < wanted) {
      const ssize_t n = ::read(file.Get(), Buffer.data() + size, wanted - size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return TTileKind::NotImage;  // a folder, or a file that cannot be read
      if (n == 0) break;
      size += static_cast<std::size_t>(n);
    }
    const std::string_view bytes(Buffer.data(), size);
    const TTileKind kind = KindOfBytes(bytes, Blank);
    if (kind != TTileKind::Good) return kind;
    if (Decode) {
      switch (CheckImage(bytes, TileSide, TileSide)) {
        case TImageCheck::Sound: break;
        case TImageCheck::OtherSize: return TTileKind::OtherSize;
        case TImageCheck::Undecodable: return TTileKind::NotDecodable;
      }
    }
    return TTileKind::Good;
  }

 private:
  int Folder;
  const std::string& Blank;
  bool Decode;
  std::string Buffer;
};

// The walk cut into blocks that the threads take in turn. The calling thread
// hands each block's bad tiles on in walk order; a thread runs at most Window
// blocks ahead of it, so memory stays bounded whatever the task's size.
class TCheckRun {
 public:
  static constexpr long long BlockTiles = 4096;

  TCheckRun(const TTileGrid& grid, const TCoverageOptions& options, int folder, const std::string& blank)
      : Grid(grid), Options(options), Folder(folder), Blank(blank) {
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
      TTileReader reader(Folder, Blank, Options.Decode);
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
        Classify(reader, block, slot);
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

  void Classify(TTileReader& reader, long long block, TBlock& slot) const {
    slot.Bad.clear();
    slot.Counts.fill(0);
    const TTileRange& range = Grid.Range();
    const long long rows = Grid.RowCount();
    const long long first = block * BlockTiles, last = std::min(first + BlockTiles, Grid.Count());
    // Names put together in one buffer: no allocation per tile.
    std::string head, name;
    long long headColumn = -1;
    for (long long i = first; i < last; ++i) {
      const int x = static_cast<int>(range.MinX + i / rows), y = static_cast<int>(range.MinY + i % rows);
      if (x != headColumn) {
        head = Grid.FileNameHead(x);
        headColumn = x;
      }
      name.assign(head);
      name += Grid.FileNameTail(y);
      const TTileKind kind = reader.Kind(name.c_str());
      ++slot.Counts[static_cast<std::size_t>(kind)];
      if (kind != TTileKind::Good) slot.Bad.push_back({x, y, kind});
    }
  }

  const TTileGrid& Grid;
  const TCoverageOptions& Options;
  const int Folder;
  const std::string& Blank;
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
  std::vector<std::thread> Threads;  // last: joined before the rest goes
};

}  // namespace

TCoverageSummary CheckCoverage(const TTileGrid& grid, const TCoverageOptions& options) {
  const std::string blank = PlaceholderBytes(options.ProgramFolder, grid.Extension());
  const TDescriptor handle = OpenTileFolder(grid.TileFolder());
  TCheckRun run(grid, options, handle.Get(), blank);
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
