#include "download/DownThread.h"

#include <algorithm>

#include "config/AtomicFile.h"
#include "download/Cookies.h"

namespace meridane {

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

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

TFailureKind ClassifyFailure(std::string_view message) {
  if (Contains(message, "10054") || Contains(message, "Connection Closed Gracefully")) return TFailureKind::Reset;
  if (Contains(message, "10048")) return TFailureKind::AddressInUse;
  if (Contains(message, "302") || Contains(message, "403")) return TFailureKind::Banned;
  if (Contains(message, "Socket Error")) return TFailureKind::Network;
  if (Contains(message, "404") || Contains(message, "400")) return TFailureKind::NotFound;
  return TFailureKind::Other;
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

// Waits: once the thread has finished, every call it made has run.
void TDownThread::WorkerFinished() {
  Synchronize([this] { Context.Host->WorkerFinished(ThreadIndex); });
}

void TDownThread::Execute() {
  try {
    SetUp();
    Walk();
  } catch (const std::exception& e) {
    // A failure outside the GET (a tile that cannot be written, a bad proxy port):
    // report it and end in order, so the task can still complete.
    try {
      AddLogLine("T" + Number() + " Error: " + e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      AddLogLine("T" + Number() + " Error: ");
    } catch (...) {
    }
  }
  HttpClient.reset();
  try {
    AddLogLine("T" + Number() + " Finished.");
  } catch (...) {
  }
  WorkerFinished();
}

void TDownThread::SetUp() {
  const TTaskParams& p = Task.Params;
  HttpClient = Context.MakeClient();
  THttpSettings& s = HttpClient->Settings;
  if (p.UseProxy) {
    s.ProxyServer = p.ProxyServer;
    s.ProxyPort = PortNumber(p.ProxyPort);
    s.ProxyUsername = p.ProxyUsername;
    s.ProxyPassword = p.ProxyPassword;
  }
  if (p.MapsType < 3) {
    std::string cookie;
    try {
      cookie = LookupCookie(p.CookieFile, p.HomePage);
    } catch (const EFileError& e) {
      // Tiles can often be had without cookies: the task goes on.
      AddLogLine("T" + Number() + " Error: " + e.what());
    }
    s.Referer = p.HomePage;
    s.UserAgent = DefaultUserAgentForMaps;
    s.Connection = "Keep_Alive";
    // No cookie, no line: an empty "Cookie:" header only confuses servers.
    if (!cookie.empty()) s.ExtraHeaders.push_back("Cookie: " + cookie);
  }
  s.ConnectTimeoutSeconds = p.ConnectTimeoutSeconds;
  s.StallTimeoutSeconds = p.StallTimeoutSeconds;
  s.TransferTimeoutSeconds = p.TileTimeoutSeconds;
  s.MaxBodyBytes = p.MaxTileBytes;
  s.StopRequested = [this] { return Terminated(); };
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

// One GET into buffer. Nothing when it succeeded; otherwise the failure's
// message, or no message for a failure that carries none.
std::optional<std::optional<std::string>> TDownThread::TryGet(const std::string& url, std::string& buffer) {
  try {
    HttpClient->Get(url, buffer);
    // An error page sent with status 200 would otherwise pass for a tile.
    if (!IsImageData(buffer)) return std::optional<std::string>(std::string(InvalidImageMessage));
    return std::nullopt;
  } catch (const std::exception& e) {
    if (*e.what() == '\0') return std::optional<std::string>();
    return std::optional<std::string>(e.what());
  } catch (...) {
    return std::optional<std::string>();
  }
}

TDownThread::TOutcome TDownThread::FetchTile(int x, int y, int sequence) {
  const std::string url = Task.TileUrl(x, y);
  std::string buffer;
  int attempts = 0;
  int repeats = 0;
  for (;;) {
    buffer.clear();  // nothing of a failed attempt may reach the tile file
    ++attempts;
    const std::optional<std::optional<std::string>> failure = TryGet(url, buffer);
    if (!failure) {
      Task.WriteTile(x, y, buffer);
      if (Context.Flusher) Context.Flusher->Written();
      AddLogLine("T" + Number() + ":seq=" + std::to_string(sequence) + "," + Task.TileFileName(x, y) + " OK");
      SetLast(x, y);
      Pause(Task.Params.TilePauseMs);  // a stop ends it, and the walk before the next tile
      return TOutcome::Next;
    }
    // A stop ends a tile that is not saved wherever it stands (a transfer it
    // cut short, a failure, a pause): left for the resume, so not recorded, not
    // substituted, and the position not moved.
    if (Terminated()) return TOutcome::Stop;
    const std::optional<std::string>& message = *failure;
    const std::string text = message.value_or("");
    const TFailureKind kind = ClassifyFailure(text);
    if (kind == TFailureKind::Reset || kind == TFailureKind::AddressInUse) {
      if (repeats >= MaxImmediateRepeats) return GiveUp(x, y, message, url);
      ++repeats;
      if (kind == TFailureKind::AddressInUse && Pause(8000)) return TOutcome::Stop;
      continue;
    }
    const bool banned = kind == TFailureKind::Banned;
    const bool network = kind == TFailureKind::Network;
    if (attempts < 3) {
      if (Pause(network ? 2000 : 1000)) return TOutcome::Stop;
      continue;
    }
    if (banned || network) {
      AddLogLine("T" + Number() + " " + text + "->" + url);
      AddFailedLine(Task.TilePath(x, y) + "|" + url);
      AddLogLine(banned ? BannedMessage : NetworkMessage);
      return TOutcome::Stop;
    }
    if (kind == TFailureKind::NotFound) {
      AddLogLine(NotFoundMessage + text);
      CopyBlank(Task.TilePath(x, y));
      AddLogLine("T" + Number() + ":" + std::to_string(x) + "-" + std::to_string(y) + " got a blank image!");
      SetLast(x, y);
      return TOutcome::Next;
    }
    return GiveUp(x, y, message, url);
  }
}

// A pause that a stop ends at once; true when there was a stop.
bool TDownThread::Pause(int milliseconds) {
  Context.Sleeper->Pause(milliseconds, StopSignal());
  return Terminated();
}

// A failed-tile substitute: log, record, blank image, move on.
TDownThread::TOutcome TDownThread::GiveUp(int x, int y, const std::optional<std::string>& message,
                                          const std::string& url) {
  const std::string path = Task.TilePath(x, y);
  if (message && !message->empty())
    AddLogLine("T" + Number() + " " + *message + "->" + url);
  else
    AddLogLine(Task.TileFileName(x, y) + ":failed ->" + url);
  AddFailedLine(path + "|" + url);
  CopyBlank(path);
  AddLogLine("T" + Number() + ":" + std::to_string(x) + "-" + std::to_string(y) + " got a blank image!");
  SetLast(x, y);
  return TOutcome::Next;
}

// Never over an existing file; a missing blank image is passed over in silence.
void TDownThread::CopyBlank(const std::string& path) const {
  std::error_code ec;
  if (std::filesystem::exists(path, ec) || !std::filesystem::exists(BlankImage, ec)) return;
  try {
    WriteFileAtomic(path, ReadFileBytes(BlankImage), TFlush::Cache, TNewFile::Shared, Task.TemporaryFolder);
    if (Context.Flusher) Context.Flusher->Written();
  } catch (const EFileError&) {
  }
}

}  // namespace meridane
