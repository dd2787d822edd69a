#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "download/DownThread.h"
#include "tiles/Projection.h"

namespace meridane {

// $XDG_CACHE_HOME/meridane/tiles, or ~/.cache/meridane/tiles without it.
std::filesystem::path BackgroundCacheFolder();

// A tile of the background: zoom, column, row from the north.
using TBackgroundTile = TTileKey;

// The configured tile source at the low zooms a map background uses: each
// tile's address, as the workers build it, and its file in the cache. Sources
// with other addresses keep their tiles apart.
class TBackgroundSource {
 public:
  static constexpr int MaxZoom = 8;

  // params: the servers and the request profile, as Start fills them.
  TBackgroundSource(const TTaskParams& params, std::filesystem::path cacheFolder);
  const TTaskParams& Params() const { return Request; }
  std::string Url(const TBackgroundTile& key) const;
  std::filesystem::path CachePath(const TBackgroundTile& key) const;

 private:
  TTaskParams Request;
  std::filesystem::path Folder;
  std::vector<TTileGrid> Grids;  // one per zoom, 0..MaxZoom
};

// Fetches the tiles a map shows into the cache, one at a time over one
// connection, with a pause before every request after the first: a map that is
// looked at must not put more load on the server than a person browsing it.
// After a few failures in a row it stops asking (no network): the map then
// does without. Tiles already cached are never asked for.
class TBackgroundLoader final : public TThread {
 public:
  static constexpr int RequestGapMs = 400;
  static constexpr int FailuresToGiveUp = 3;

  // onCached runs on the main thread for each tile written to the cache.
  TBackgroundLoader(IMainThread& mainThread, TBackgroundSource source, std::unique_ptr<IHttpClient> client,
                 ISleeper& sleeper, std::function<void(const TBackgroundTile&)> onCached);
  ~TBackgroundLoader() override;

  // From the main thread: the tiles the map shows now, the most wanted last.
  // Replaces what was wanted before and is not fetched yet.
  void Want(const std::vector<TBackgroundTile>& keys);
  // True once the loader has given up.
  bool Offline() const;

 protected:
  void Execute() override;

 private:
  bool NextKey(TBackgroundTile& key);
  void Fetch(const TBackgroundTile& key);

  const TBackgroundSource Source;
  std::unique_ptr<IHttpClient> Client;
  ISleeper& Sleeper;
  std::function<void(const TBackgroundTile&)> OnCached;
  mutable std::mutex Lock;
  std::deque<TBackgroundTile> Queue;
  std::set<TBackgroundTile> Tried;  // fetched or failed: not asked again
  bool GaveUp = false;
  bool Requested = false;  // a request was made: the next waits its turn
  int FailuresInARow = 0;
};

}  // namespace meridane
