#include "map/TileLoader.h"

#include <exception>

#include "map/Overview.h"

namespace meridane {

TTileLoader::TTileLoader(IMapSource& source, TTileCache& cache, TLoaded loaded, int threads)
    : Source(source), Cache(cache), OnLoaded(std::move(loaded)) {
  for (int i = 0; i < std::max(threads, 1); ++i) Threads.emplace_back([this] { Run(); });
}

TTileLoader::~TTileLoader() {
  {
    const std::lock_guard guard(Lock);
    Stopping = true;
    Queue.clear();
    Refine.clear();
    Stale.clear();
  }
  Wake.notify_all();
  for (std::thread& thread : Threads) thread.join();
}

IMapSource& TTileLoader::LevelFor(int zoom) const {
  if (zoom >= Source.TileSet().Zoom) return Source;
  IMapSource* stored = Source.StoredLevel(zoom);
  return stored ? *stored : Source;
}

void TTileLoader::Request(const std::vector<TTileKey>& tiles) {
  const int zoom = Source.TileSet().Zoom;
  {
    const std::lock_guard guard(Lock);
    ++Generation;
    Queue.clear();
    Refine.clear();
    for (const TTileKey& key : tiles) {
      if (key.Zoom < zoom && (1LL << (LevelFor(key.Zoom).TileSet().Zoom - key.Zoom)) > CoarseSamples)
        Refine.push_back(key);
      if (!InFlight.contains(key) && !Cache.Contains(key)) Queue.push_back(key);
    }
  }
  Wake.notify_all();
}

void TTileLoader::Invalidate(const TTileKey& key) {
  const std::lock_guard guard(Lock);
  Cache.Erase(key);
  if (InFlight.contains(key)) Stale.insert(key);
}

std::size_t TTileLoader::Pending() const {
  const std::lock_guard guard(Lock);
  return Queue.size();
}

bool TTileLoader::Idle() const {
  const std::lock_guard guard(Lock);
  return Queue.empty() && Refine.empty() && Busy == 0;
}

long long TTileLoader::Loaded() const {
  const std::lock_guard guard(Lock);
  return LoadedCount;
}

bool TTileLoader::Next(TTileKey& key, bool& refine, unsigned& generation) {
  std::unique_lock guard(Lock);
  // Refinements wait for every quick build: they start from its tile.
  Wake.wait(guard, [this] { return Stopping || !Queue.empty() || (!Refine.empty() && InFlight.empty()); });
  if (Stopping) return false;
  refine = Queue.empty();
  std::deque<TTileKey>& from = refine ? Refine : Queue;
  key = from.front();
  from.pop_front();
  if (!refine) InFlight.insert(key);
  generation = Generation;
  ++Busy;
  return true;
}

void TTileLoader::Run() {
  const int zoom = Source.TileSet().Zoom;
  TTileKey key;
  bool refine = false;
  unsigned generation = 0;
  while (Next(key, refine, generation)) {
    std::shared_ptr<const TDecodedTile> tile;
    // A tile of the source's zoom or above, or of a stored lower level, is read;
    // one of a zoom between levels is made from the nearest level above it.
    IMapSource& from = key.Zoom >= zoom ? Source : LevelFor(key.Zoom);
    const int fromZoom = key.Zoom >= zoom ? key.Zoom : from.TileSet().Zoom;
    if (fromZoom == key.Zoom) {
      auto loaded = std::make_shared<TDecodedTile>();
      try {
        *loaded = from.Load(key.X, key.Y);
      } catch (const std::exception&) {
        // An unreadable source shows the tile as damaged, not as garbage.
        loaded->Kind = TTileKind::NotImage;
        loaded->Pixels.clear();
      }
      if (key.Zoom < zoom) loaded->Samples = TileSide;  // as stored: nothing to refine
      tile = std::move(loaded);
      // A stored level without that tile (an archive's zoom range is not
      // always filled): made from the source's own tiles instead.
      if (key.Zoom < zoom && tile->Kind == TTileKind::Missing && Source.BuildsWhatLevelsLack())
        if (auto built = BuildOverview(Source, Cache, key, CoarseSamples, [this] { return Stopping.load(); }))
          tile = std::make_shared<const TDecodedTile>(std::move(*built));
    } else if (!refine) {
      if (auto built = BuildOverview(from, Cache, key, CoarseSamples, [this] { return Stopping.load(); }))
        tile = std::make_shared<const TDecodedTile>(std::move(*built));
    } else if (const auto held = Cache.Find(key); held && Refinable(*held, fromZoom - key.Zoom, FineSamples)) {
      // A refinement the view no longer waits for is given up.
      const auto stale = [this, generation] { return Stopping || Generation != generation; };
      if (auto built = BuildOverview(from, Cache, key, FineSamples, stale))
        tile = std::make_shared<const TDecodedTile>(std::move(*built));
    }
    {
      const std::lock_guard guard(Lock);
      // Put under the lock: an Invalidate either finds the tile held or the read in flight.
      if (!refine && Stale.erase(key)) {
        tile = nullptr;
        Queue.push_front(key);
      } else if (tile) {
        Cache.Put(key, tile);
      }
      if (!refine) InFlight.erase(key);
      --Busy;
      LoadedCount += tile != nullptr;
    }
    Wake.notify_all();
    if (tile && OnLoaded) OnLoaded(key);
  }
}

}  // namespace meridane
