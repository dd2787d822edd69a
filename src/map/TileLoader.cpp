#include "map/TileLoader.h"

#include <exception>

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
  }
  Wake.notify_all();
  for (std::thread& thread : Threads) thread.join();
}

void TTileLoader::Request(const std::vector<TTileKey>& tiles) {
  {
    const std::lock_guard guard(Lock);
    Queue.clear();
    for (const TTileKey& key : tiles)
      if (!InFlight.contains(key) && !Cache.Contains(key)) Queue.push_back(key);
  }
  Wake.notify_all();
}

std::size_t TTileLoader::Pending() const {
  const std::lock_guard guard(Lock);
  return Queue.size();
}

long long TTileLoader::Loaded() const {
  const std::lock_guard guard(Lock);
  return LoadedCount;
}

void TTileLoader::Run() {
  for (;;) {
    TTileKey key;
    {
      std::unique_lock guard(Lock);
      Wake.wait(guard, [this] { return Stopping || !Queue.empty(); });
      if (Stopping) return;
      key = Queue.front();
      Queue.pop_front();
      InFlight.insert(key);
    }
    auto tile = std::make_shared<TDecodedTile>();
    try {
      *tile = Source.Load(key.X, key.Y);
    } catch (const std::exception&) {
      // An unreadable source shows the tile as damaged, not as garbage.
      tile->Kind = TMapTileKind::Damaged;
      tile->Pixels.clear();
    }
    Cache.Put(key, std::move(tile));
    {
      const std::lock_guard guard(Lock);
      InFlight.erase(key);
      ++LoadedCount;
    }
    if (OnLoaded) OnLoaded(key);
  }
}

}  // namespace meridane
