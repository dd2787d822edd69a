#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "map/MapSource.h"
#include "map/TileCache.h"

namespace meridane {

// Reads and decodes tiles off the window's thread into a cache. The view hands
// it the tiles it wants, nearest first, on every change; tiles it no longer
// wants are dropped from the queue before they are read.
class TTileLoader {
 public:
  // Called on a loader thread once a tile is in the cache; the window turns it
  // into a call on its own thread (a queued call) and repaints.
  using TLoaded = std::function<void(const TTileKey&)>;

  TTileLoader(IMapSource& source, TTileCache& cache, TLoaded loaded, int threads = 2);
  // Stops and joins the threads; a tile being read is finished first.
  ~TTileLoader();
  TTileLoader(const TTileLoader&) = delete;
  TTileLoader& operator=(const TTileLoader&) = delete;

  // Replaces the queue with these tiles (those already cached are skipped).
  void Request(const std::vector<TTileKey>& tiles);
  // Tiles queued and not yet taken by a thread.
  std::size_t Pending() const;
  // Tiles read since the start (for tests and the benchmark).
  long long Loaded() const;

 private:
  void Run();

  IMapSource& Source;
  TTileCache& Cache;
  TLoaded OnLoaded;
  mutable std::mutex Lock;
  std::condition_variable Wake;
  std::deque<TTileKey> Queue;
  std::unordered_set<TTileKey, TTileKeyHash> InFlight;  // taken by a thread, not yet cached
  bool Stopping = false;
  long long LoadedCount = 0;
  std::vector<std::thread> Threads;
};

}  // namespace meridane
