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
#include "task/MapTypes.h"
#include "task/ProjectFile.h"
#include "tiles/TileReader.h"

namespace meridane {

namespace fs = std::filesystem;

long long TFeedResult::Fed() const {
  long long fed = 0;
  for (const long long count : Counts) fed += count;
  return fed;
}

namespace {

// Consecutive tiles in row order, their good files' bytes one after another.
struct TChunk {
  std::vector<TTileKind> Kinds;
  std::vector<std::size_t> Ends;  // where each tile's bytes end in Bytes
  std::string Bytes;
};

// Reads the tiles into chunks on a thread of its own, at most Window chunks
// ahead of the one who takes them.
class TReadAhead {
 public:
  static constexpr std::size_t ChunkTiles = 256;
  static constexpr std::size_t ChunkBytes = 4 * 1024 * 1024;
  static constexpr std::size_t Window = 4;

  TReadAhead(const TTileSource& source, const TTileReader& reader)
      : Source(source), Reader(reader), Thread([this] { Work(); }) {}
  ~TReadAhead() {
    {
      const std::lock_guard lock(Mutex);
      Stopping = true;
    }
    Room.notify_all();
    Thread.join();
  }
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next chunk; empty once every tile was read.
  TChunk Next() {
    std::unique_lock lock(Mutex);
    Ready.wait(lock, [this] { return !Chunks.empty() || Ended || Failure; });
    if (Failure) std::rethrow_exception(Failure);
    if (Chunks.empty()) return {};
    TChunk chunk = std::move(Chunks.front());
    Chunks.pop_front();
    lock.unlock();
    Room.notify_one();
    return chunk;
  }

 private:
  void Work() {
    try {
      const TTileSet& set = Source.Set;
      const long long columns = set.Columns();
      TChunk chunk;
      for (long long i = 0; i < set.Count(); ++i) {
        const int x = static_cast<int>(set.MinX + i % columns), y = static_cast<int>(set.MinY + i / columns);
        chunk.Kinds.push_back(Reader.Read(Source.FileName(x, y).c_str(), chunk.Bytes));
        chunk.Ends.push_back(chunk.Bytes.size());
        if (chunk.Kinds.size() < ChunkTiles && chunk.Bytes.size() < ChunkBytes && i + 1 < set.Count()) continue;
        std::unique_lock lock(Mutex);
        Room.wait(lock, [this] { return Stopping || Chunks.size() < Window; });
        if (Stopping) return;
        Chunks.push_back(std::move(chunk));
        chunk = {};
        lock.unlock();
        Ready.notify_one();
      }
      const std::lock_guard lock(Mutex);
      Ended = true;
    } catch (...) {
      const std::lock_guard lock(Mutex);
      Failure = std::current_exception();
    }
    Ready.notify_one();
  }

  const TTileSource& Source;
  const TTileReader& Reader;
  std::mutex Mutex;
  std::condition_variable Ready, Room;
  std::deque<TChunk> Chunks;
  bool Ended = false, Stopping = false;
  std::exception_ptr Failure;
  std::thread Thread;  // last: starts once the rest is there
};

}  // namespace

TFeedResult FeedTiles(const TTileSource& source, ITileSink& sink, const TFeedOptions& options) {
  const TDescriptor handle = OpenTileFolder(source.Folder);
  using Clock = std::chrono::steady_clock;
  auto nextProgress = Clock::now() + std::chrono::milliseconds(100);
  TFeedResult result;
  const TTileReader tiles(handle.Get(), PlaceholderBytes(options.ProgramFolder, source.Set.Format), options.MaxTileBytes);
  TReadAhead reader(source, tiles);
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
      if (kind == TTileKind::Good)
        sink.Add(x, y, std::string_view(chunk.Bytes).substr(begin, chunk.Ends[k] - begin));
      else
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
