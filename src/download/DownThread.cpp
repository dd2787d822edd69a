#include "download/DownThread.h"

#include <algorithm>

#include "config/AtomicFile.h"
#include "download/Cookies.h"

namespace meridane {

namespace {

// The first line of an error's text: what a summary shows of it.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A port as the text of the settings gives it; refused like any number that is none.
int PortNumber(const std::string& text) {
  int port = 0;
  std::size_t used = 0;
  try {
    port = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) throw std::invalid_argument("'" + text + "' is not a valid integer value");
  return port;
}

}  // namespace

TDownThread::TDownThread(bool createSuspended, int threadIndex, const TDownloadTask& task, TWorkerContext context)
    : TThread(*context.MainThread), Task(task), ThreadIndex(threadIndex), Context(std::move(context)) {
  if (!createSuspended) Start();
}

TTileFlusher::TTileFlusher(std::filesystem::path folder, TFlushCall flush)
    : Folder(std::move(folder)), Flush(std::move(flush)) {
  Thread = std::thread([this] {
    while (!Stop.WaitFor(IntervalMs)) {
      if (!Pending.exchange(false, std::memory_order_relaxed)) continue;
      try {
        Flush(Folder);
      } catch (...) {
        // The save's own flush reports what fails.
      }
    }
  });
}

TTileFlusher::~TTileFlusher() {
  Stop.Raise();
  Thread.join();
}

TDownThread::~TDownThread() {
  // Execute uses this object's members: the thread must end before they go.
  Terminate();
  WaitFor();
}

std::pair<int, int> TDownThread::LastPosition() const {
  const std::uint64_t packed = Last.load(std::memory_order_acquire);
  return {static_cast<int>(static_cast<std::uint32_t>(packed >> 32)),
          static_cast<int>(static_cast<std::uint32_t>(packed))};
}

void TDownThread::SetLast(int x, int y) {
  Last.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) | static_cast<std::uint32_t>(y),
             std::memory_order_release);
}

// Lines are handed over without waiting. A record reaches the main thread's
// queue before the position that passes its tile is published, so a save that
// reads the positions first and then runs the queue stores the record too.
void TDownThread::AddLogLine(std::string line) {
  HandOver([host = Context.Host, line = std::move(line)] { host->AddLogLine(line); });
}

void TDownThread::AddFailedLine(std::string line) {
  HandOver([host = Context.Host, line = std::move(line)] { host->AddFailedLine(line); });
}

// A tile's last line with its event, as one call: a tile takes no more room in
// the queue than its line alone would.
void TDownThread::AddLogLine(std::string line, TTileEvent::TKind kind, int x, int y, std::string message) {
  HandOver(
      [host = Context.Host, line = std::move(line), event = TTileEvent{kind, ThreadIndex, x, y, std::move(message)}] {
        host->AddLogLine(line);
        host->TileDone(event);
      });
}

// Waits: once the thread has finished, every call it made has run.
void TDownThread::WorkerFinished() {
  Synchronize([this] { Context.Host->WorkerFinished(ThreadIndex); });
}

void TDownThread::StoppedBy(const std::string& line) {
  try {
    AddLogLine(line, TTileEvent::TKind::Stopped, AtHand.first, AtHand.second, FirstLine(line));
  } catch (...) {
  }
}

void TDownThread::Execute() {
  try {
    SetUp();
    Walk();
  } catch (const std::exception& e) {
    // A failure outside the GET (a tile that cannot be written, a bad proxy port):
    // report it and end in order, so the task can still complete.
    StoppedBy("T" + Number() + " Error: " + e.what());
  } catch (...) {
    StoppedBy("T" + Number() + " Error: ");
  }
  Fetcher.reset();
  HttpClient.reset();
  try {
    AddLogLine("T" + Number() + " Finished.");
  } catch (...) {
  }
  WorkerFinished();
}

void ApplyRequestProfile(THttpSettings& s, const TTaskParams& p, const std::string& cookie) {
  if (p.UseProxy) {
    s.ProxyServer = p.ProxyServer;
    s.ProxyPort = PortNumber(p.ProxyPort);
    s.ProxyUsername = p.ProxyUsername;
    s.ProxyPassword = p.ProxyPassword;
  }
  if (p.MapsType < 3) {
    s.Referer = p.HomePage;
    s.UserAgent = TDownThread::DefaultUserAgentForMaps;
    s.Connection = "Keep_Alive";
    // No cookie, no line: an empty "Cookie:" header only confuses servers.
    if (!cookie.empty()) s.ExtraHeaders.push_back("Cookie: " + cookie);
  }
  s.ConnectTimeoutSeconds = p.ConnectTimeoutSeconds;
  s.StallTimeoutSeconds = p.StallTimeoutSeconds;
  s.TransferTimeoutSeconds = p.TileTimeoutSeconds;
  s.MaxBodyBytes = p.MaxTileBytes;
}

void TDownThread::SetUp() {
  const TTaskParams& p = Task.Params;
  HttpClient = Context.MakeClient();
  // A proxy port that is no number ends the worker before the cookie lookup can log.
  if (p.UseProxy) PortNumber(p.ProxyPort);
  std::string cookie;
  if (p.MapsType < 3) {
    try {
      cookie = LookupCookie(p.CookieFile, p.HomePage);
    } catch (const EFileError& e) {
      // Tiles can often be had without cookies: the task goes on.
      AddLogLine("T" + Number() + " Error: " + e.what());
    }
  }
  THttpSettings& s = HttpClient->Settings;
  ApplyRequestProfile(s, p, cookie);
  s.StopRequested = [this] { return Terminated(); };
  Fetcher = std::make_unique<TTileFetcher>(*HttpClient, WorkerRetryPolicy(), *Context.Sleeper, StopSignal());
  BlankImage = Context.ProgramFolder / "blankimg" / ("blank." + Task.TileExtension());
}

void TDownThread::Walk() {
  const auto index = static_cast<std::size_t>(ThreadIndex) < Task.ThreadX.size() ? ThreadIndex : 0;
  const int resumeX = Task.ThreadX[static_cast<std::size_t>(index)];
  const int resumeY = Task.ThreadY[static_cast<std::size_t>(index)];
  const int minX = Task.MinX, maxX = Task.MaxX, minY = Task.MinY, maxY = Task.MaxY;
  const int threadCount = std::max(1, Task.Params.ThreadCount);
  // A position with x or y at 0 counts as none.
  const long long skip = (resumeX != 0 && resumeY != 0) ? Task.SequenceOf(resumeX, resumeY) : 0;

  long long sequence = 0;
  for (int x = minX; x <= maxX; ++x) {
    for (int y = minY; y <= maxY; ++y) {
      if (Terminated()) return;
      ++sequence;
      if (sequence <= skip || sequence % threadCount != ThreadIndex) continue;
      if (FetchTile(x, y, static_cast<int>(sequence)) == TOutcome::Stop) return;
    }
  }
}

TDownThread::TOutcome TDownThread::FetchTile(int x, int y, int sequence) {
  AtHand = {x, y};
  const std::string url = Task.TileUrl(x, y);
  const TFetchResult result = Fetcher->Fetch(url);
  // A stop ends a tile that is not saved wherever it stands: left for the
  // resume, so not recorded, not substituted, and the position not moved.
  if (result.Status == TFetchStatus::Stopped) return TOutcome::Stop;
  if (result.Status == TFetchStatus::Fetched) {
    Task.WriteTile(x, y, result.Body);
    if (Context.Flusher) Context.Flusher->Written();
    AddLogLine("T" + Number() + ":seq=" + std::to_string(sequence) + "," + Task.TileFileName(x, y) + " OK",
               TTileEvent::TKind::Saved, x, y);
    SetLast(x, y);
    Pause(Task.Params.TilePauseMs);  // a stop ends it, and the walk before the next tile
    return TOutcome::Next;
  }
  const std::string text = result.Message.value_or("");
  if (result.StopsRun) {
    const std::string why = result.Kind == TFailureKind::Banned ? BannedMessage : NetworkMessage;
    AddLogLine("T" + Number() + " " + text + "->" + url);
    AddFailedLine(Task.TilePath(x, y) + "|" + url);
    AddLogLine(why, TTileEvent::TKind::Stopped, x, y, FirstLine(why));
    return TOutcome::Stop;
  }
  if (result.Kind == TFailureKind::NotFound) {
    AddLogLine(NotFoundMessage + text);
    Substitute(x, y, url, TTileEvent::TKind::NotFound, false);
    return TOutcome::Next;
  }
  return GiveUp(x, y, result.Message, url);
}

// A pause that a stop ends at once; true when there was a stop.
bool TDownThread::Pause(int milliseconds) {
  Context.Sleeper->Pause(milliseconds, StopSignal());
  return Terminated();
}

// A failed-tile substitute: log, record, blank image, move on.
TDownThread::TOutcome TDownThread::GiveUp(int x, int y, const std::optional<std::string>& message,
                                          const std::string& url) {
  if (message && !message->empty())
    AddLogLine("T" + Number() + " " + *message + "->" + url);
  else
    AddLogLine(Task.TileFileName(x, y) + ":failed ->" + url);
  AddFailedLine(Task.TilePath(x, y) + "|" + url);
  Substitute(x, y, url, TTileEvent::TKind::Substituted, true);
  return TOutcome::Next;
}

// A tile without its file must have a record: the resume passes it, and only
// the re-download of the failed-tile list fetches it again.
void TDownThread::Substitute(int x, int y, const std::string& url, TTileEvent::TKind kind, bool recorded) {
  const std::string path = Task.TilePath(x, y);
  const std::optional<std::string> failure = CopyBlank(path);
  const std::string tile = "T" + Number() + ":" + std::to_string(x) + "-" + std::to_string(y);
  if (failure && !recorded) AddFailedLine(path + "|" + url);
  if (failure)
    AddLogLine(tile + " could not get a blank image: " + *failure, TTileEvent::TKind::Failed, x, y, *failure);
  else
    AddLogLine(tile + " got a blank image!", kind, x, y);
  SetLast(x, y);
}

// Never over an existing file, which may be a tile of an earlier run. Why the
// blank image could not be put in place; nothing when the tile has a file.
std::optional<std::string> TDownThread::CopyBlank(const std::string& path) const {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return std::nullopt;
  try {
    WriteFileAtomic(path, ReadFileBytes(BlankImage), TFlush::Cache, TNewFile::Shared, Task.TemporaryFolder);
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
  if (Context.Flusher) Context.Flusher->Written();
  return std::nullopt;
}

}  // namespace meridane
