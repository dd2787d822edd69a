#pragma once

#include <atomic>
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
// wants are dropped from the queue before they are read. Tiles of a zoom below
// the source's are overview tiles (Overview.h), read from a stored lower
// level of that zoom when the source has one, else built quickly first,
// and once nothing else waits, the overview tiles of the last request are
// built again finer; a new request abandons such a refinement.
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
  // The source's tile changed (a cache another thread fills got it): the copy
  // held is dropped, and a read of it under way is not kept but queued again,
  // so the tile drawn is never the one read before the change.
  void Invalidate(const TTileKey& key);
  // Tiles queued and not yet taken by a thread.
  std::size_t Pending() const;
  // Nothing queued, nothing to refine, nothing being read.
  bool Idle() const;
  // Tiles read since the start (for tests and the benchmark).
  long long Loaded() const;

 private:
  void Run();
  // What tiles of a zoom below the source's come from: its stored level there
  // or above, else the source itself.
  IMapSource& LevelFor(int zoom) const;
  // Takes the next job: a tile to load or build, or one to refine. False when stopping.
  bool Next(TTileKey& key, bool& refine, unsigned& generation);

  IMapSource& Source;
  TTileCache& Cache;
  TLoaded OnLoaded;
  mutable std::mutex Lock;
  std::condition_variable Wake;
  std::deque<TTileKey> Queue;
  std::deque<TTileKey> Refine;  // overview tiles of the last request, built again finer when idle
  std::unordered_set<TTileKey, TTileKeyHash> InFlight;  // taken by a thread, not yet cached
  std::unordered_set<TTileKey, TTileKeyHash> Stale;     // in flight when invalidated: read again
  int Busy = 0;  // threads working on a job
  std::atomic<bool> Stopping = false;
  std::atomic<unsigned> Generation = 0;  // counts requests
  long long LoadedCount = 0;
  std::vector<std::thread> Threads;
};

}  // namespace meridane
