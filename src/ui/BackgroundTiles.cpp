#include "ui/BackgroundTiles.h"

#include <algorithm>
#include <cstdlib>

#include "config/AtomicFile.h"
#include "download/Cookies.h"
#include "task/ImageData.h"
#include "task/MapTypes.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// A short stable name for a tile source (FNV-1a of its address pattern and hosts).
std::string SourceName(const TTaskParams& p) {
  std::uint32_t hash = 2166136261u;
  auto add = [&hash](const std::string& text) {
    for (const unsigned char c : text) hash = (hash ^ c) * 16777619u;
    hash = (hash ^ 0xFFu) * 16777619u;
  };
  add(p.UrlTemplate);
  for (const std::string& host : p.Hosts) add(host);
  static constexpr char Digits[] = "0123456789abcdef";
  std::string name;
  for (int shift = 28; shift >= 0; shift -= 4) name += Digits[(hash >> shift) & 0xFu];
  return name;
}

// Idle, the loader looks for new wishes this often.
constexpr int IdlePollMs = 50;

}  // namespace

fs::path BackgroundCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  fs::path base;
  // Relative values are to be ignored, as if unset.
  if (cache && *cache && fs::path(cache).is_absolute()) {
    base = cache;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && *home ? home : ".") / ".cache";
  }
  return base / "meridane" / "tiles";
}

TBackgroundSource::TBackgroundSource(const TTaskParams& params, fs::path cacheFolder)
    : Request(params), Folder(std::move(cacheFolder) / SourceName(params)) {
  Request.MapsType = SatelliteMapType;
  for (int zoom = 0; zoom <= MaxZoom; ++zoom) {
    TTaskParams atZoom = Request;
    atZoom.Zoom = zoom;
    Grids.emplace_back(atZoom);
  }
}

std::string TBackgroundSource::Url(const TBackgroundTile& key) const {
  return Grids.at(static_cast<std::size_t>(key.Zoom)).TileUrl(key.X, key.Y);
}

fs::path TBackgroundSource::CachePath(const TBackgroundTile& key) const {
  return Folder / std::to_string(key.Zoom) / std::to_string(key.X) / (std::to_string(key.Y) + "." + Extension());
}

std::string TBackgroundSource::Extension() const { return Grids.front().Extension(); }

TBackgroundLoader::TBackgroundLoader(IMainThread& mainThread, TBackgroundSource source,
                                     std::unique_ptr<IHttpClient> client, ISleeper& sleeper,
                                     std::function<void(const TBackgroundTile&)> onCached)
    : TThread(mainThread),
      Source(std::move(source)),
      Client(std::move(client)),
      Sleeper(sleeper),
      OnCached(std::move(onCached)) {}

TBackgroundLoader::~TBackgroundLoader() {
  Terminate();
  WaitFor();
}

void TBackgroundLoader::Want(const std::vector<TBackgroundTile>& keys) {
  std::lock_guard<std::mutex> guard(Lock);
  Queue.clear();
  Wanted.clear();
  for (const TBackgroundTile& key : keys) {
    if (key.Zoom < 0 || key.Zoom > TBackgroundSource::MaxZoom) continue;
    Wanted.push_back(key);
    if (!Tried.contains(key)) Queue.push_back(key);
  }
}

bool TBackgroundLoader::Offline() const {
  std::lock_guard<std::mutex> guard(Lock);
  return GaveUp;
}

TBackgroundStatus TBackgroundLoader::Status() const {
  std::lock_guard<std::mutex> guard(Lock);
  if (GaveUp) return {TBackgroundState::Offline, Reason};
  if (Busy || !Queue.empty()) return {TBackgroundState::Loading, {}};
  const bool none = std::all_of(Wanted.begin(), Wanted.end(), [this](const auto& key) { return Absent.contains(key); });
  return {!Wanted.empty() && none ? TBackgroundState::NoTiles : TBackgroundState::Shown, {}};
}

std::string BackgroundStatusText(const TBackgroundStatus& status) {
  switch (status.State) {
    case TBackgroundState::None: break;
    case TBackgroundState::Loading: return "Loading map tiles from the configured server...";
    case TBackgroundState::Shown: return "Map tiles from the configured server, kept in the cache";
    case TBackgroundState::NoTiles:
      return "The configured server has no map tiles here at this zoom: zoom out, or pan to where it has some";
    case TBackgroundState::Offline:
      return "The tile server cannot be reached (" + (status.Reason.empty() ? "no answer" : status.Reason) +
             "): the graticule and the cached tiles; asking again in " +
             std::to_string(TBackgroundLoader::RetryAfterMs / 1000) + " s";
  }
  return "No map tiles: the graticule and the download folder's tasks";
}

bool TBackgroundLoader::NextKey(TBackgroundTile& key) {
  std::lock_guard<std::mutex> guard(Lock);
  while (!Queue.empty()) {
    key = Queue.back();
    Queue.pop_back();
    if (Tried.insert(key).second) {
      Busy = true;
      return true;
    }
  }
  return false;
}

void TBackgroundLoader::Settle(const TBackgroundTile& key, bool have, bool answered) {
  std::lock_guard<std::mutex> guard(Lock);
  if (!have) Absent.insert(key);
  Busy = false;
  if (answered) FailuresInARow = 0;
}

void TBackgroundLoader::Unreachable(const TBackgroundTile& key, const std::string& message) {
  std::lock_guard<std::mutex> guard(Lock);
  Busy = false;
  // Asked again, after the rest of what is wanted.
  Tried.erase(key);
  Queue.push_front(key);
  // "Socket Error # 10061\r\nConnection refused.": the words after the number.
  const std::size_t lineEnd = message.find("\r\n");
  Reason = lineEnd == std::string::npos ? message : message.substr(lineEnd + 2);
  while (!Reason.empty() && Reason.back() == '.') Reason.pop_back();
  if (++FailuresInARow >= FailuresToGiveUp) GaveUp = true;
}

void TBackgroundLoader::Revive() {
  std::lock_guard<std::mutex> guard(Lock);
  GaveUp = false;
  // One more failure and it waits again.
  FailuresInARow = FailuresToGiveUp - 1;
  Queue.clear();
  for (const TBackgroundTile& key : Wanted)
    if (!Tried.contains(key)) Queue.push_back(key);
}

void TBackgroundLoader::Execute() {
  std::string cookie;
  try {
    cookie = LookupCookie(Source.Params().CookieFile, Source.Params().HomePage);
  } catch (const EFileError&) {
    // Tiles can often be had without cookies.
  }
  try {
    ApplyRequestProfile(Client->Settings, Source.Params(), cookie);
  } catch (const std::exception&) {
    // A proxy port that is no number: nothing can be fetched, now or later.
    std::lock_guard<std::mutex> guard(Lock);
    GaveUp = true;
    Reason = "the proxy port is no number";
    return;
  }
  Client->Settings.StopRequested = [this] { return Terminated(); };
  while (!Terminated()) {
    if (Offline()) {
      Sleeper.Pause(RetryAfterMs, StopSignal());
      if (!Terminated()) Revive();
      continue;
    }
    TBackgroundTile key;
    if (!NextKey(key)) {
      StopSignal().WaitFor(IdlePollMs);
      continue;
    }
    std::error_code ec;
    if (fs::exists(Source.CachePath(key), ec))
      Settle(key, true, false);
    else
      Fetch(key);
  }
}

void TBackgroundLoader::Fetch(const TBackgroundTile& key) {
  if (Requested) {
    Sleeper.Pause(RequestGapMs, StopSignal());
    if (Terminated()) return;
  }
  Requested = true;
  std::string body;
  try {
    Client->Get(Source.Url(key), body);
  } catch (const std::exception& e) {
    if (Terminated()) return;
    const std::string message = e.what();
    // A status line, or a body too large, is an answer: the server has no such tile.
    if (message.starts_with("HTTP/") || message == TooLargeMessage)
      Settle(key, false, true);
    else
      Unreachable(key, message);
    return;
  }
  try {
    // An error page sent as 2xx is no tile either.
    if (!IsImageData(body)) throw EHttpError(std::string(InvalidImageMessage));
    const fs::path path = Source.CachePath(key);
    fs::create_directories(path.parent_path());
    // A tile can be fetched again: no need to wait for the disk.
    TAtomicFileWriter file(path, TFlush::Cache);
    file.Write(body);
    file.Commit();
  } catch (const std::exception&) {
    // Not kept, for this session: the map does without it.
    Settle(key, false, true);
    return;
  }
  Settle(key, true, true);
  HandOver([onCached = OnCached, key] { onCached(key); });
}

}  // namespace meridane
