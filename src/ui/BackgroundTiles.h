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
  // The cache of this source: a Z/X/Y tree of files of this extension.
  const std::filesystem::path& CacheFolder() const { return Folder; }
  std::string Extension() const;

 private:
  TTaskParams Request;
  std::filesystem::path Folder;
  std::vector<TTileGrid> Grids;  // one per zoom, 0..MaxZoom
};

// What the map's background is doing, for its status line.
enum class TBackgroundState {
  None,     // no loader: the map does without
  Loading,  // tiles in sight are being fetched
  Shown,    // every tile in sight is settled, some of them drawn
  NoTiles,  // the server has none of the tiles in sight
  Offline,  // the server cannot be reached; asked again after a while
};
struct TBackgroundStatus {
  TBackgroundState State = TBackgroundState::None;
  std::string Reason;  // Offline: why, as the client said it
};
std::string BackgroundStatusText(const TBackgroundStatus& status);

// Fetches the tiles a map shows into the cache, one at a time over one
// connection, with a pause before every request after the first: a map that is
// looked at must not put more load on the server than a person browsing it.
// A tile the server answers without (404, an error page) is not there: it is
// not asked for again. Only failures to reach the server count: after a few in
// a row the loader stops asking (Offline) and asks again after RetryAfterMs,
// waiting once more if that fails too; the map does without meanwhile. Tiles already cached are never asked for.
class TBackgroundLoader final : public TThread {
 public:
  static constexpr int RequestGapMs = 400;
  static constexpr int FailuresToGiveUp = 3;
  static constexpr int RetryAfterMs = 30000;

  // onCached runs on the main thread for each tile written to the cache.
  TBackgroundLoader(IMainThread& mainThread, TBackgroundSource source, std::unique_ptr<IHttpClient> client,
                    ISleeper& sleeper, std::function<void(const TBackgroundTile&)> onCached);
  ~TBackgroundLoader() override;

  // From the main thread: the tiles the map shows now, the most wanted last.
  // Replaces what was wanted before and is not fetched yet.
  void Want(const std::vector<TBackgroundTile>& keys);
  // True while the server cannot be reached.
  bool Offline() const;
  TBackgroundStatus Status() const;

 protected:
  void Execute() override;

 private:
  bool NextKey(TBackgroundTile& key);
  void Fetch(const TBackgroundTile& key);
  // The key is in the cache (have) or not to be had; answered: the server said so.
  void Settle(const TBackgroundTile& key, bool have, bool answered);
  // Stops asking after a failure to reach the server when it is one too many.
  void Unreachable(const TBackgroundTile& key, const std::string& message);
  // After the pause of an Offline: asks once more for what is wanted.
  void Revive();

  const TBackgroundSource Source;
  std::unique_ptr<IHttpClient> Client;
  ISleeper& Sleeper;
  std::function<void(const TBackgroundTile&)> OnCached;
  mutable std::mutex Lock;
  std::deque<TBackgroundTile> Queue;
  std::vector<TBackgroundTile> Wanted;  // the latest wish, the most wanted last
  std::set<TBackgroundTile> Tried;      // taken or settled: not asked again
  std::set<TBackgroundTile> Absent;    // settled without a tile
  bool Busy = false;  // a key is taken and not settled yet
  bool GaveUp = false;
  bool Requested = false;  // a request was made: the next waits its turn
  int FailuresInARow = 0;
  std::string Reason;
};

}  // namespace meridane
