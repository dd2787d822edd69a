#include "combine/Source.h"

#include <fcntl.h>
#include <sys/stat.h>

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
#include "tiles/Inputs.h"
#include "tiles/Pmtiles.h"
#include "tiles/Structure.h"
#include "tiles/TileReader.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// A tile that more than one input has good bytes of: every such input's, in
// the inputs' order, until the checkers pick the first sound one.
struct TOverlap {
  std::size_t Index = 0;  // the tile's in its chunk
  std::vector<std::string> Candidates;
  std::size_t Winner = 0;
};

// Consecutive tiles in the feed's order, their good files' bytes one after another
// (an overlap's in Overlaps instead).
struct TChunk {
  std::vector<TTileKind> Kinds;
  std::vector<std::size_t> Ends;  // where each tile's bytes end in Bytes
  std::string Bytes;
  std::vector<TOverlap> Overlaps;  // by Index
  long long Conflicts = 0;         // overlaps of two sound tiles that differ
  std::vector<TRgba> Halves;  // of each tile: its pixels halved, or empty
};

// A good tile of bytes the sink could not show: not decodable or not a tile's
// size. GIF is not decoded here, so a sink of pixels cannot show it. A sink
// that stores the bytes as they are (an archive) has them checked by their
// structure: a whole decode would make it several times slower than copying.
TTileKind CheckedKind(std::string_view bytes, bool pixels) {
  if (!pixels) {
    switch (CheckImageStructure(bytes, TileSide, TileSide)) {
      case TImageCheck::Sound: return TTileKind::Good;
      case TImageCheck::OtherSize: return TTileKind::OtherSize;
      case TImageCheck::Undecodable: return TTileKind::NotDecodable;
    }
  }
  const TTileKind kind = DecodedKind(bytes);
  if (kind != TTileKind::Good) return kind;
  return ImageFormatOf(bytes) == TImageFormat::Gif ? TTileKind::NotDecodable : kind;
}

// Reads the tiles into chunks on a thread of its own, and has a few more
// threads decode each chunk's good tiles, so that the disk rather than the
// decoder sets the pace. Chunks are handed on in their order once checked, at
// most Window of them ahead of the one who takes them.
class TReadAhead {
 public:
  static constexpr std::size_t ChunkBytes = 4 * 1024 * 1024;

  // halves: each good tile's pixels halved too, 64 KB a tile, so that chunks
  // are smaller then.
  TReadAhead(const TTileOrder& order, TSourceTiles& reader, bool pixels, bool halves)
      : Order(order),
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
    TChunk chunk;
    const long long count = Order.Count();
    for (long long i = 0; i < count; ++i) {
      const auto [x, y] = Order.At(i);
      chunk.Kinds.push_back(Reader.Layers() == 1 ? Reader.ReadLayer(0, x, y, chunk.Bytes) : ReadLayers(x, y, chunk));
      chunk.Ends.push_back(chunk.Bytes.size());
      if (chunk.Kinds.size() < ChunkTiles && chunk.Bytes.size() < ChunkBytes && i + 1 < count) continue;
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

  // The tile of several inputs: the first good one's bytes, or every good
  // one's in an overlap for the checkers to choose from.
  TTileKind ReadLayers(int x, int y, TChunk& chunk) {
    std::optional<TTileKind> first;
    TOverlap overlap{.Index = chunk.Kinds.size(), .Candidates = {}, .Winner = 0};
    std::string bytes;
    for (std::size_t layer = 0; layer < Reader.Layers(); ++layer) {
      bytes.clear();
      const TTileKind kind = Reader.ReadLayer(layer, x, y, bytes);
      if (kind == TTileKind::Good)
        overlap.Candidates.push_back(std::move(bytes));
      else if (!first && kind != TTileKind::Missing)
        first = kind;
    }
    if (overlap.Candidates.empty()) return first.value_or(TTileKind::Missing);
    if (overlap.Candidates.size() == 1)
      chunk.Bytes += overlap.Candidates.front();
    else
      chunk.Overlaps.push_back(std::move(overlap));
    return TTileKind::Good;
  }

  // The first sound candidate wins; another sound one of other bytes is a conflict.
  void Resolve(TChunk& chunk, TOverlap& overlap) {
    TTileKind& kind = chunk.Kinds[overlap.Index];
    std::vector<TTileKind> kinds(overlap.Candidates.size(), TTileKind::Good);
    std::optional<std::size_t> winner;
    for (std::size_t i = 0; i < overlap.Candidates.size() && !winner; ++i)
      if ((kinds[i] = CheckedKind(overlap.Candidates[i], Pixels)) == TTileKind::Good) winner = i;
    if (!winner) {
      kind = kinds.front();
      return;
    }
    overlap.Winner = *winner;
    for (std::size_t i = *winner + 1; i < overlap.Candidates.size(); ++i)
      if (overlap.Candidates[i] != overlap.Candidates[*winner] &&
          CheckedKind(overlap.Candidates[i], Pixels) == TTileKind::Good) {
        ++chunk.Conflicts;
        break;
      }
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
      auto overlap = chunk.Overlaps.begin();
      for (std::size_t k = 0; k < chunk.Kinds.size(); begin = chunk.Ends[k++]) {
        std::string_view bytes = std::string_view(chunk.Bytes).substr(begin, chunk.Ends[k] - begin);
        if (overlap != chunk.Overlaps.end() && overlap->Index == k) {
          TOverlap& tile = *overlap++;
          Resolve(chunk, tile);
          if (!Halves || chunk.Kinds[k] != TTileKind::Good) continue;
          bytes = tile.Candidates[tile.Winner];
        } else if (chunk.Kinds[k] != TTileKind::Good) {
          continue;
        } else if (!Halves) {
          chunk.Kinds[k] = CheckedKind(bytes, Pixels);
          continue;
        }
        chunk.Kinds[k] = DecodeAndHalve(bytes, Pixels, scratch, chunk.Halves[k]);
      }
      lock.lock();
      slot->Checked = true;
      Changed.notify_all();
    }
  }

  const TTileOrder& Order;
  TSourceTiles& Reader;
  const bool Pixels, Halves;
  const std::size_t ChunkTiles, Checkers, Window;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TSlot> Slots;
  bool Ended = false, Stopping = false;
  std::exception_ptr Failure;
  std::vector<std::thread> Threads;  // last: they start once the rest is there
};

// Whether a tile's file is surely left out by its entry alone, as the reader
// would find it: missing, empty, too long, or no regular file (a link is not
// followed).
// Only a lone folder can be judged so: other inputs or an archive may fill a hole.
bool AnyTileLeftOut(const TTileSource& source, std::size_t maxBytes) {
  if (!source.Archive.empty() || !source.Also.empty()) return false;
  const TDescriptor handle = OpenTileFolder(source.Folder);
  const int folder = handle.Get();
  const TTileSet& set = source.Set;
  for (int y = set.MinY; y <= set.MaxY; ++y)
    for (int x = set.MinX; x <= set.MaxX; ++x) {
      struct stat entry {};
      if (::fstatat(folder, source.FileName(x, y).c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(entry.st_mode) || entry.st_size == 0 || static_cast<std::size_t>(entry.st_size) > maxBytes)
        return true;
    }
  return false;
}

}  // namespace

TTileOrder::TTileOrder(const TTileSet& set, bool tileIds)
    : Zoom(set.Zoom), MinX(set.MinX), MinY(set.MinY), Columns(std::max(set.Columns(), 1LL)), Tiles(set.Count()) {
  if (!tileIds) return;
  const std::uint64_t before = PmtilesTileId(Zoom, 0, 0);
  if (Tiles > 0) Steps.reserve(static_cast<std::size_t>(Tiles));
  for (int y = set.MinY; y <= set.MaxY; ++y)
    for (int x = set.MinX; x <= set.MaxX; ++x)
      Steps.push_back(PmtilesTileId(Zoom, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) - before);
  std::sort(Steps.begin(), Steps.end());
  Tiles = static_cast<long long>(Steps.size());
}

std::pair<int, int> TTileOrder::At(long long i) const {
  if (Steps.empty()) return {static_cast<int>(MinX + i % Columns), static_cast<int>(MinY + i / Columns)};
  const auto [x, y] = PmtilesTileAt(Zoom, Steps[static_cast<std::size_t>(i)]);
  return {static_cast<int>(x), static_cast<int>(y)};
}

std::string FirstTileFormat(const TTileSource& source, const TFeedOptions& options, long long maxTiles) {
  TSourceTiles tiles(source, options.ProgramFolder, options.MaxTileBytes);
  const TTileSet& set = source.Set;
  std::string bytes;
  for (long long i = 0; i < std::min(set.Count(), maxTiles); ++i) {
    const int x = static_cast<int>(set.MinX + i % set.Columns()), y = static_cast<int>(set.MinY + i / set.Columns());
    if (tiles.Read(x, y, bytes) == TTileKind::Good)
      return std::string(TileFormatName(ImageFormatOf(bytes)));
  }
  return set.Format;
}

TFeedResult FeedTiles(const TTileSource& source, ITileSink& sink, const TFeedOptions& options) {
  TSourceTiles tiles(source, options.ProgramFolder, options.MaxTileBytes);
  using Clock = std::chrono::steady_clock;
  auto nextProgress = Clock::now() + std::chrono::milliseconds(100);
  TFeedResult result;
  if (options.LookAhead && AnyTileLeftOut(source, options.MaxTileBytes)) sink.LeftOutAhead();
  // The zooms below are built from rows.
  const TTileOrder order(source.Set, sink.WantsTileIdOrder() && !options.OnHalf);
  TReadAhead reader(order, tiles, options.Pixels, static_cast<bool>(options.OnHalf));
  long long fed = 0;
  for (TChunk chunk = reader.Next(); !chunk.Kinds.empty(); chunk = reader.Next()) {
    std::size_t begin = 0;
    auto overlap = chunk.Overlaps.cbegin();
    result.Conflicts += chunk.Conflicts;
    for (std::size_t k = 0; k < chunk.Kinds.size(); ++k, ++fed) {
      if (options.Stop && options.Stop()) {
        result.Stopped = true;
        return result;
      }
      const auto [x, y] = order.At(fed);
      const TTileKind kind = chunk.Kinds[k];
      const bool overlapped = overlap != chunk.Overlaps.cend() && overlap->Index == k;
      if (kind == TTileKind::Good) {
        const std::string_view bytes = overlapped ? std::string_view(overlap->Candidates[overlap->Winner])
                                                  : std::string_view(chunk.Bytes).substr(begin, chunk.Ends[k] - begin);
        sink.Add(x, y, bytes);
        if (options.OnHalf && k < chunk.Halves.size() && !chunk.Halves[k].empty())
          options.OnHalf(x, y, chunk.Halves[k], ImageFormatOf(bytes));
      } else
        sink.Add(x, y, std::nullopt);
      ++result.Counts[static_cast<std::size_t>(kind)];
      if (overlapped) ++overlap;
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
