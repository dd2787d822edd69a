#include "ui/BackgroundTiles.h"

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
  return Folder / std::to_string(key.Zoom) / std::to_string(key.X) /
         (std::to_string(key.Y) + "." + Grids.front().Extension());
}

TBackgroundLoader::TBackgroundLoader(IMainThread& mainThread, TBackgroundSource source, std::unique_ptr<IHttpClient> client,
                               ISleeper& sleeper, std::function<void(const TBackgroundTile&)> onCached)
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
  for (const TBackgroundTile& key : keys)
    if (key.Zoom >= 0 && key.Zoom <= TBackgroundSource::MaxZoom && !Tried.contains(key)) Queue.push_back(key);
}

bool TBackgroundLoader::Offline() const {
  std::lock_guard<std::mutex> guard(Lock);
  return GaveUp;
}

bool TBackgroundLoader::NextKey(TBackgroundTile& key) {
  std::lock_guard<std::mutex> guard(Lock);
  while (!Queue.empty()) {
    key = Queue.back();
    Queue.pop_back();
    if (Tried.insert(key).second) return true;
  }
  return false;
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
    // A proxy port that is no number: nothing can be fetched.
    std::lock_guard<std::mutex> guard(Lock);
    GaveUp = true;
    return;
  }
  Client->Settings.StopRequested = [this] { return Terminated(); };
  while (!Terminated() && !Offline()) {
    TBackgroundTile key;
    if (!NextKey(key)) {
      StopSignal().WaitFor(IdlePollMs);
      continue;
    }
    std::error_code ec;
    if (!fs::exists(Source.CachePath(key), ec)) Fetch(key);
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
    if (!IsImageData(body)) throw EHttpError(std::string(InvalidImageMessage));
    const fs::path path = Source.CachePath(key);
    fs::create_directories(path.parent_path());
    // A tile can be fetched again: no need to wait for the disk.
    TAtomicFileWriter file(path, TFlush::Cache);
    file.Write(body);
    file.Commit();
  } catch (const std::exception&) {
    if (++FailuresInARow >= FailuresToGiveUp) {
      std::lock_guard<std::mutex> guard(Lock);
      GaveUp = true;
    }
    return;
  }
  FailuresInARow = 0;
  HandOver([onCached = OnCached, key] { onCached(key); });
}

}  // namespace meridane
