#include "combine/Source.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "task/Descriptor.h"
#include "task/ImageData.h"
#include "task/MapTypes.h"
#include "task/ProjectFile.h"
#include "combine/Levels.h"
#include "tiles/TileReader.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// Consecutive tiles in row order, their good files' bytes one after another.
struct TChunk {
  std::vector<TTileKind> Kinds;
  std::vector<std::size_t> Ends;  // where each tile's bytes end in Bytes
  std::string Bytes;
  std::vector<TRgba> Halves;  // of each tile: its pixels halved, or empty
};

// A good tile of bytes the sink could not show: not decodable or not a tile's
// size. GIF and WebP are not decoded here, so a sink of pixels cannot show them.
TTileKind CheckedKind(std::string_view bytes, bool pixels) {
  const TTileKind kind = DecodedKind(bytes);
  if (kind != TTileKind::Good || !pixels) return kind;
  const TImageFormat format = ImageFormatOf(bytes);
  return format == TImageFormat::Jpeg || format == TImageFormat::Png ? kind : TTileKind::NotDecodable;
}

// Reads the tiles into chunks on a thread of its own, and has a few more
// threads decode each chunk's good tiles, so that the disk rather than the
// decoder sets the pace. Chunks are handed on in row order once checked, at
// most Window of them ahead of the one who takes them.
class TReadAhead {
 public:
  static constexpr std::size_t ChunkBytes = 4 * 1024 * 1024;

  // halves: each good tile's pixels halved too, 64 KB a tile, so that chunks
  // are smaller then.
  TReadAhead(const TTileSource& source, const TTileReader& reader, bool pixels, bool halves)
      : Source(source),
        Reader(reader),
        Pixels(pixels),
        Halves(halves),
        ChunkTiles(halves ? 64 : 256),
        Checkers(std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4)),
        Window(Checkers + 2) {
    try {
      Threads.emplace_back([this] { Guarded([this] { Read(); }); });
      for (std::size_t i = 0; i < Checkers; ++i) Threads.emplace_back([this] { Guarded([this] { Check(); }); });
    } catch (...) {
      End();  // the threads that did start
      throw;
    }
  }
  ~TReadAhead() { End(); }
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next chunk; empty once every tile was read.
  TChunk Next() {
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [this] { return Failure || (Slots.empty() ? Ended : Slots.front().Checked); });
    if (Failure) std::rethrow_exception(Failure);
    if (Slots.empty()) return {};
    TChunk chunk = std::move(Slots.front().Chunk);
    Slots.pop_front();
    lock.unlock();
    Changed.notify_all();
    return chunk;
  }

 private:
  // A chunk read, then checked by one checker.
  struct TSlot {
    TChunk Chunk;
    bool Taken = false, Checked = false;
  };

  void End() {
    {
      const std::lock_guard lock(Mutex);
      Stopping = true;
    }
    Changed.notify_all();
    for (std::thread& thread : Threads) thread.join();
  }

  template <typename Work>
  void Guarded(Work work) {
    try {
      work();
    } catch (...) {
      const std::lock_guard lock(Mutex);
      if (!Failure) Failure = std::current_exception();
    }
    Changed.notify_all();
  }

  void Read() {
    const TTileSet& set = Source.Set;
    const long long columns = set.Columns();
    TChunk chunk;
    for (long long i = 0; i < set.Count(); ++i) {
      const int x = static_cast<int>(set.MinX + i % columns), y = static_cast<int>(set.MinY + i / columns);
      chunk.Kinds.push_back(Reader.Read(Source.FileName(x, y).c_str(), chunk.Bytes));
      chunk.Ends.push_back(chunk.Bytes.size());
      if (chunk.Kinds.size() < ChunkTiles && chunk.Bytes.size() < ChunkBytes && i + 1 < set.Count()) continue;
      std::unique_lock lock(Mutex);
      Changed.wait(lock, [this] { return Stopping || Failure || Slots.size() < Window; });
      if (Stopping || Failure) return;
      Slots.push_back({.Chunk = std::move(chunk)});
      chunk = {};
      lock.unlock();
      Changed.notify_all();
    }
    const std::lock_guard lock(Mutex);
    Ended = true;
  }

  void Check() {
    TRgba scratch;
    std::unique_lock lock(Mutex);
    for (;;) {
      // A deque keeps its elements in place as others come and go at its ends.
      TSlot* slot = nullptr;
      Changed.wait(lock, [&] {
        for (TSlot& s : Slots)
          if (!s.Taken) {
            slot = &s;
            break;
          }
        return slot || Stopping || Failure || Ended;
      });
      if (Stopping || Failure || !slot) return;
      slot->Taken = true;
      lock.unlock();
      TChunk& chunk = slot->Chunk;
      if (Halves) chunk.Halves.resize(chunk.Kinds.size());
      std::size_t begin = 0;
      for (std::size_t k = 0; k < chunk.Kinds.size(); begin = chunk.Ends[k++]) {
        if (chunk.Kinds[k] != TTileKind::Good) continue;
        const std::string_view bytes = std::string_view(chunk.Bytes).substr(begin, chunk.Ends[k] - begin);
        chunk.Kinds[k] = Halves ? DecodeAndHalve(bytes, Pixels, scratch, chunk.Halves[k]) : CheckedKind(bytes, Pixels);
      }
      lock.lock();
      slot->Checked = true;
      Changed.notify_all();
    }
  }

  const TTileSource& Source;
  const TTileReader& Reader;
  const bool Pixels, Halves;
  const std::size_t ChunkTiles, Checkers, Window;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TSlot> Slots;
  bool Ended = false, Stopping = false;
  std::exception_ptr Failure;
  std::vector<std::thread> Threads;  // last: they start once the rest is there
};

}  // namespace

TFeedResult FeedTiles(const TTileSource& source, ITileSink& sink, const TFeedOptions& options) {
  const TDescriptor handle = OpenTileFolder(source.Folder);
  using Clock = std::chrono::steady_clock;
  auto nextProgress = Clock::now() + std::chrono::milliseconds(100);
  TFeedResult result;
  const TTileReader tiles(handle.Get(), PlaceholderBytes(options.ProgramFolder, source.Set.Format), options.MaxTileBytes);
  TReadAhead reader(source, tiles, options.Pixels, static_cast<bool>(options.OnHalf));
  const long long columns = source.Set.Columns();
  long long fed = 0;
  for (TChunk chunk = reader.Next(); !chunk.Kinds.empty(); chunk = reader.Next()) {
    std::size_t begin = 0;
    for (std::size_t k = 0; k < chunk.Kinds.size(); ++k, ++fed) {
      if (options.Stop && options.Stop()) {
        result.Stopped = true;
        return result;
      }
      const int x = static_cast<int>(source.Set.MinX + fed % columns);
      const int y = static_cast<int>(source.Set.MinY + fed / columns);
      const TTileKind kind = chunk.Kinds[k];
      if (kind == TTileKind::Good) {
        const std::string_view bytes = std::string_view(chunk.Bytes).substr(begin, chunk.Ends[k] - begin);
        sink.Add(x, y, bytes);
        if (options.OnHalf && k < chunk.Halves.size() && !chunk.Halves[k].empty())
          options.OnHalf(x, y, chunk.Halves[k], ImageFormatOf(bytes));
      } else
        sink.Add(x, y, std::nullopt);
      ++result.Counts[static_cast<std::size_t>(kind)];
      begin = chunk.Ends[k];
      if (options.OnProgress && Clock::now() >= nextProgress) {
        nextProgress = Clock::now() + std::chrono::milliseconds(100);
        options.OnProgress(fed + 1);
      }
    }
  }
  return result;
}

}  // namespace meridane
