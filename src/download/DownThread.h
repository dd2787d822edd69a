#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "config/AtomicFile.h"
#include "download/HttpClient.h"
#include "download/Sleeper.h"
#include "download/Thread.h"
#include "download/TileFetcher.h"
#include "task/DownloadTask.h"

namespace meridane {

// What became of a worker's tile, or why the worker stopped: what a host counts,
// so that nothing needs to read the log lines back.
struct TTileEvent {
  enum class TKind {
    Saved,        // fetched and written
    Substituted,  // given up: the blank image in its place, and a failed-tile record
    NotFound,     // not on the server: the blank image in its place, no record
    Failed,       // given up or not found, and no blank image could be put in its place: a record
    Stopped,      // the worker stopped on an error, at the tile at hand ((0, 0) before the first)
  };
  TKind Kind = TKind::Saved;
  int ThreadIndex = 0;
  int X = 0, Y = 0;
  // Stopped: the first line of the error; Failed: why the blank image could not be had.
  std::string Message;
};

// What a worker reports to. Called on the main thread only, through the main
// thread's queue, in the order the worker made the calls: a tile's event comes
// after its lines.
class IWorkerHost {
 public:
  virtual ~IWorkerHost() = default;
  virtual void AddLogLine(const std::string& line) = 0;
  virtual void AddFailedLine(const std::string& line) = 0;
  virtual void TileDone(const TTileEvent& event) = 0;
  // Called exactly once per worker, as its last act.
  virtual void WorkerFinished(int threadIndex) = 0;
};

// Puts the workers' tiles on the disk in the background, soon after they are
// written. A save flushes the tiles its positions pass before it stores them;
// with the tiles written back already that flush is short, where one that
// writes seconds of tiles holds the main thread (and, through its queue, the
// workers) and keeps a short task from its end. Flushes folder's file system
// at most every IntervalMs, and only after a tile was written.
class TTileFlusher {
 public:
  static constexpr int IntervalMs = 20;
  using TFlushCall = std::function<void(const std::filesystem::path&)>;
  explicit TTileFlusher(std::filesystem::path folder, TFlushCall flush = FlushFileSystem);
  ~TTileFlusher();
  TTileFlusher(const TTileFlusher&) = delete;
  TTileFlusher& operator=(const TTileFlusher&) = delete;

  // A worker wrote a tile.
  void Written() { Pending.store(true, std::memory_order_relaxed); }

 private:
  const std::filesystem::path Folder;
  const TFlushCall Flush;
  std::atomic<bool> Pending{false};
  TStopSignal Stop;
  std::thread Thread;
};

// A worker's surroundings.
struct TWorkerContext {
  IMainThread* MainThread = nullptr;
  IWorkerHost* Host = nullptr;
  ISleeper* Sleeper = nullptr;
  std::function<std::unique_ptr<IHttpClient>()> MakeClient = MakeCurlHttpClient;
  std::filesystem::path ProgramFolder;  // holds blankimg/
  TTileFlusher* Flusher = nullptr;      // null: the saves' flushes alone put the tiles on the disk
};

// The workers' request profile on a client: proxy, Referer, User-Agent, the
// cookie (empty: no Cookie line), time-outs and the size limit. Throws
// std::invalid_argument for a proxy port that is no number.
void ApplyRequestProfile(THttpSettings& settings, const TTaskParams& params, const std::string& cookie);

// One download worker: fetches its share of the task's tiles with the workers'
// retry policy, substitutes the blank image, and reports lines and events.
class TDownThread final : public TThread {
 public:
  static constexpr const char* BannedMessage = "Error: may be your IP is banned.\nPlease try again later.";
  static constexpr const char* NetworkMessage = "Error: Your network has problem, please check it.";
  static constexpr const char* NotFoundMessage = "Error: the image is not found on server.";
  static constexpr const char* DefaultUserAgentForMaps = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

  TDownThread(bool createSuspended, int threadIndex, const TDownloadTask& task, TWorkerContext context);
  ~TDownThread() override;

  const TDownloadTask& Task;
  const int ThreadIndex;

  // The last tile finished, published and read as one pair; (0, 0) before the first.
  std::pair<int, int> LastPosition() const;
  int LastX() const { return LastPosition().first; }
  int LastY() const { return LastPosition().second; }

 protected:
  void Execute() override;

 private:
  enum class TOutcome { Next, Stop };

  void SetUp();
  void Walk();
  // A failure outside the GET: its line, with the event that the worker stopped.
  void StoppedBy(const std::string& line);
  TOutcome FetchTile(int x, int y, int sequence);
  bool Pause(int milliseconds);
  TOutcome GiveUp(int x, int y, const std::optional<std::string>& message, const std::string& url);
  // The blank image in a tile's place, or a record when it cannot be had.
  void Substitute(int x, int y, const std::string& url, TTileEvent::TKind kind, bool recorded);
  std::optional<std::string> CopyBlank(const std::string& path) const;
  void SetLast(int x, int y);

  // The calls that run on the main thread; only the last waits for it.
  void AddLogLine(std::string line);
  void AddLogLine(std::string line, TTileEvent::TKind kind, int x, int y, std::string message = {});
  void AddFailedLine(std::string line);
  void WorkerFinished();

  std::string Number() const { return std::to_string(ThreadIndex + 1); }

  TWorkerContext Context;
  std::unique_ptr<IHttpClient> HttpClient;
  std::unique_ptr<TTileFetcher> Fetcher;
  std::filesystem::path BlankImage;
  std::pair<int, int> AtHand{0, 0};  // the tile being fetched, for an error that stops the worker
  std::atomic<std::uint64_t> Last{0};
};

}  // namespace meridane
