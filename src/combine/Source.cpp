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
#include "tiles/TileReader.h"

namespace meridane {

namespace fs = std::filesystem;

std::string TTileSource::FileName(int x, int y) const {
  const long long row = FromSouth ? FlipRow(y, Set.Zoom) : y;
  return Prefix + "_" + std::to_string(x) + "_" + std::to_string(row) + "_" + std::to_string(Set.Zoom) + "." +
         Set.Format;
}

TTileSource TaskSource(const fs::path& project, const TStartConfig& config) {
  try {
    const TTaskParams params = OpenTaskReadOnly(project, config);
    const TTileGrid grid(params);
    TTileSource source;
    source.Set = TileSetOf(grid, params.TaskName);
    source.Folder = grid.TileFolder();
    source.Prefix = std::string(MapTypeOf(grid.MapsType()).Prefix);
    source.FromSouth = grid.FromSouth() == 1;
    return source;
  } catch (const std::runtime_error& e) {
    throw ECombineInputError(*e.what() ? e.what() : CreateTaskFailureMessage);
  }
}

namespace {

// What a folder holds of one zoom.
struct TZoomTiles {
  long long Count = 0;
  int MinX = 0, MaxX = -1, MinY = 0, MaxY = -1;
  std::set<std::string> Prefixes;
  std::string Prefix, Format;  // of the first tile of the last map type found
};

}  // namespace

TTileSource FolderSource(const fs::path& folder, std::optional<int> zoom) {
  const std::string where = folder.string();
  if (zoom && (*zoom < 0 || *zoom > MaxZoom)) throw ECombineInputError("The zoom level must be 0 to 30.");
  std::error_code ec;
  fs::directory_iterator entries(folder, ec);
  if (ec) throw ECombineInputError(CannotOpenMessage(folder));
  std::map<int, TZoomTiles> zooms;
  for (const fs::directory_entry& entry : entries) {
    const auto tile = ParseTileFileName(entry.path().filename().string());
    if (!tile || (zoom && tile->Zoom != *zoom) || tile->Zoom > MaxZoom) continue;
    const long long size = GridSize(tile->Zoom);
    if (tile->X >= size || tile->Y >= size) continue;
    TZoomTiles& z = zooms[tile->Zoom];
    if (z.Prefixes.insert(tile->Prefix).second) {
      z.Prefix = tile->Prefix;
      z.Format = tile->Extension;
    }
    z.MinX = z.MaxX < z.MinX ? tile->X : std::min(z.MinX, tile->X);
    z.MaxX = std::max(z.MaxX, tile->X);
    z.MinY = z.MaxY < z.MinY ? tile->Y : std::min(z.MinY, tile->Y);
    z.MaxY = std::max(z.MaxY, tile->Y);
    ++z.Count;
  }
  if (zooms.empty())
    throw ECombineInputError(zoom ? "No tiles of zoom " + std::to_string(*zoom) + " in " + where
                                  : "No tiles in folder " + where);
  // The first of the zooms with the most tiles.
  auto chosen = zooms.begin();
  for (auto it = zooms.begin(); it != zooms.end(); ++it)
    if (it->second.Count > chosen->second.Count) chosen = it;
  const int at = chosen->first;
  TZoomTiles& z = chosen->second;
  TTileSource source;
  source.Prefix = z.Prefix;
  if (z.Prefixes.size() > 1) {
    std::string names;
    for (const std::string& prefix : z.Prefixes) names += (names.empty() ? "" : ", ") + prefix;
    throw ECombineInputError(where + " holds tiles of more than one map type at zoom " + std::to_string(at) +
                             ": " + names);
  }
  for (int type = 0; !MapTypeOf(type).Prefix.empty(); ++type)
    if (MapTypeOf(type).Prefix == source.Prefix) source.FromSouth = MapTypeOf(type).FromSouth == 1;
  if (source.FromSouth)
    std::tie(z.MinY, z.MaxY) = std::pair(static_cast<int>(FlipRow(z.MaxY, at)), static_cast<int>(FlipRow(z.MinY, at)));
  source.Set = TileSetOfRange(at, z.MinX, z.MinY, z.MaxX, z.MaxY);
  source.Set.Format = z.Format;
  source.Set.Name = folder.filename().empty() ? folder.parent_path().filename().string() : folder.filename().string();
  source.Folder = where;
  if (!source.Folder.ends_with(fs::path::preferred_separator)) source.Folder += fs::path::preferred_separator;
  return source;
}

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
  static constexpr std::size_t ChunkTiles = 256;
  static constexpr std::size_t ChunkBytes = 4 * 1024 * 1024;

  TReadAhead(const TTileSource& source, const TTileReader& reader, bool pixels)
      : Source(source),
        Reader(reader),
        Pixels(pixels),
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
      std::size_t begin = 0;
      for (std::size_t k = 0; k < chunk.Kinds.size(); begin = chunk.Ends[k++])
        if (chunk.Kinds[k] == TTileKind::Good)
          chunk.Kinds[k] = CheckedKind(std::string_view(chunk.Bytes).substr(begin, chunk.Ends[k] - begin), Pixels);
      lock.lock();
      slot->Checked = true;
      Changed.notify_all();
    }
  }

  const TTileSource& Source;
  const TTileReader& Reader;
  const bool Pixels;
  const std::size_t Checkers, Window;
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
  TReadAhead reader(source, tiles, options.Pixels);
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
