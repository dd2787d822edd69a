#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "download/DownThread.h"
#include "support/FaultServer.h"
#include "support/Memory.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "support/WorkerRun.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TTempDir;

const std::string Jpeg = "\xFF\xD8\xFF\xE0 tile";
const std::string Blank = test::BlankBytes;

// What the fake server does with one GET.
struct TReply {
  enum TKind { Body, Error, Anonymous } Kind;
  std::string Text;
};
TReply Ok(std::string body = Jpeg) { return {TReply::Body, std::move(body)}; }
TReply Fail(std::string message) { return {TReply::Error, std::move(message)}; }
TReply NoText() { return {TReply::Anonymous, ""}; }

const std::string Reset = "Socket Error # 10054\r\nConnection reset by peer.";
const std::string Refused = "Socket Error # 10061\r\nConnection refused.";

// Answers by URL from a script (the last reply of a URL repeats) and records
// every GET; shared by the clients of all workers.
struct TScript {
  std::mutex Lock;
  std::map<std::string, std::vector<TReply>> Replies;
  TReply Default = Ok();
  std::vector<std::pair<int, std::string>> Gets;  // worker, url
  std::vector<THttpSettings> SettingsSeen;
  std::function<void(int)> OnGet;  // called with the GET count of the run

  TReply Next(int worker, const std::string& url, const THttpSettings& settings) {
    std::lock_guard<std::mutex> guard(Lock);
    Gets.emplace_back(worker, url);
    if (Gets.size() == 1) SettingsSeen.push_back(settings);
    if (OnGet) OnGet(static_cast<int>(Gets.size()));
    auto found = Replies.find(url);
    if (found == Replies.end()) return Default;
    std::vector<TReply>& queue = found->second;
    TReply reply = queue.front();
    if (queue.size() > 1) queue.erase(queue.begin());
    return reply;
  }
  int GetCount() {
    std::lock_guard<std::mutex> guard(Lock);
    return static_cast<int>(Gets.size());
  }
};

class TFakeClient : public IHttpClient {
 public:
  TFakeClient(TScript& script, int worker) : Script(script), Worker(worker) {}
  void Get(const std::string& url, std::string& buffer) override {
    const TReply reply = Script.Next(Worker, url, Settings);
    if (reply.Kind == TReply::Anonymous) throw 42;  // an error that is no exception class
    if (reply.Kind == TReply::Error) throw EHttpError(reply.Text);
    buffer += reply.Text;
  }

 private:
  TScript& Script;
  int Worker;
};

// A run of the fake server's task: the harness with scripted clients.
class TRun : public test::TWorkerRun {
 public:
  TRun(int columns = 1, int rows = 1, int workers = 1) : test::TWorkerRun(columns, rows, workers) {
    MakeClient = [this](int worker) { return std::make_unique<TFakeClient>(Script, worker); };
  }
  TScript Script;
};

std::vector<std::string> Lines(std::initializer_list<std::string> lines) { return lines; }

// One tile, one worker: every failure class with its attempts, pauses, lines,
// record, file and position.
TEST(DownThread, OutcomeOfEveryClass) {
  const std::string url = "http://khm0.google.com/kh/v=91&s=Galil&x=843&y=388&z=10";
  enum TFile { Tile, BlankFile, None };
  struct Case {
    const char* Name;
    std::vector<TReply> Replies;
    int Gets;
    std::vector<int> Pauses;
    std::vector<std::string> Log;
    bool Recorded;
    TFile File;
    bool PositionSet;
  };
  const std::string ok = "T1:seq=1,gs_843_388_10.jpg OK", blank = "T1:843-388 got a blank image!";
  const std::string done = "T1 Finished.";
  const Case cases[] = {
      {"saved", {Ok()}, 1, {1000}, {ok, done}, false, Tile, true},
      {"404 three times",
       {Fail("HTTP/1.1 404 Not Found")},
       3,
       {1000, 1000},
       {"Error: the image is not found on server.HTTP/1.1 404 Not Found", blank, done},
       false,
       BlankFile,
       true},
      {"400 is not found too",
       {Fail("HTTP/1.1 400 Bad Request")},
       3,
       {1000, 1000},
       {"Error: the image is not found on server.HTTP/1.1 400 Bad Request", blank, done},
       false,
       BlankFile,
       true},
      {"403 stops the worker",
       {Fail("HTTP/1.1 403 Forbidden")},
       3,
       {1000, 1000},
       {"T1 HTTP/1.1 403 Forbidden->" + url, "Error: may be your IP is banned.\nPlease try again later.", done},
       true,
       None,
       false},
      {"302 stops the worker",
       {Fail("HTTP/1.1 302 Found")},
       3,
       {1000, 1000},
       {"T1 HTTP/1.1 302 Found->" + url, "Error: may be your IP is banned.\nPlease try again later.", done},
       true,
       None,
       false},
      {"refused connection stops the worker",
       {Fail(Refused)},
       3,
       {2000, 2000},
       {"T1 " + Refused + "->" + url, "Error: Your network has problem, please check it.", done},
       true,
       None,
       false},
      {"500 gets a blank image and a record",
       {Fail("HTTP/1.1 500 Internal Server Error")},
       3,
       {1000, 1000},
       {"T1 HTTP/1.1 500 Internal Server Error->" + url, blank, done},
       true,
       BlankFile,
       true},
      {"an error page sent as 200",
       {Ok("<html>quota</html>")},
       3,
       {1000, 1000},
       {"T1 Invalid image data->" + url, blank, done},
       true,
       BlankFile,
       true},
      {"a failure without text",
       {NoText()},
       3,
       {1000, 1000},
       {"gs_843_388_10.jpg:failed ->" + url, blank, done},
       true,
       BlankFile,
       true},
      {"resets are repeated at once",
       {Fail(Reset), Fail("Connection Closed Gracefully."), Ok()},
       3,
       {1000},
       {ok, done},
       false,
       Tile,
       true},
      {"address in use waits 8 s",
       {Fail("Socket Error # 10048\r\nAddress already in use."), Ok()},
       2,
       {8000, 1000},
       {ok, done},
       false,
       Tile,
       true},
      {"two resets and a 404 give up at once",
       {Fail(Reset), Fail(Reset), Fail("HTTP/1.1 404 Not Found")},
       3,
       {},
       {"Error: the image is not found on server.HTTP/1.1 404 Not Found", blank, done},
       false,
       BlankFile,
       true},
      {"endless resets are given up after 10 repeats",
       {Fail(Reset)},
       11,
       {},
       {"T1 " + Reset + "->" + url, blank, done},
       true,
       BlankFile,
       true},
      {"a 404 that recovers",
       {Fail("HTTP/1.1 404 Not Found"), Fail("HTTP/1.1 404 Not Found"), Ok()},
       3,
       {1000, 1000, 1000},
       {ok, done},
       false,
       Tile,
       true},
  };
  for (const Case& c : cases) {
    TRun run;
    ASSERT_EQ(run.Url(843, 388), url);
    run.Script.Replies[url] = c.Replies;
    run.Go();
    EXPECT_EQ(run.Script.GetCount(), c.Gets) << c.Name;
    EXPECT_EQ(run.Sleeper.Pauses, c.Pauses) << c.Name;
    EXPECT_EQ(run.Host.Log, c.Log) << c.Name;
    EXPECT_EQ(run.Host.Failed, c.Recorded ? Lines({run.Path(843, 388) + "|" + url}) : Lines({})) << c.Name;
    const std::string expectedFile = c.File == Tile ? Jpeg : c.File == BlankFile ? Blank : "";
    EXPECT_EQ(fs::exists(run.Path(843, 388)), c.File != None) << c.Name;
    EXPECT_EQ(ReadAll(run.Path(843, 388)), expectedFile) << c.Name;
    EXPECT_EQ(run.Workers[0]->LastPosition(), c.PositionSet ? std::make_pair(843, 388) : std::make_pair(0, 0))
        << c.Name;
    EXPECT_EQ(run.Host.Finished, std::vector<int>{0}) << c.Name;
    // One event, after the tile's lines: a stop names the first line of its message.
    const std::string last = run.Host.Log.end()[-2];
    const std::string event = c.File == Tile   ? "Saved 843-388"
                              : c.File == None ? "Stopped 843-388: " + last.substr(0, last.find('\n'))
                              : c.Recorded     ? "Substituted 843-388"
                                               : "NotFound 843-388";
    EXPECT_EQ(run.Host.EventTexts(), Lines({"T1 " + event})) << c.Name;
    EXPECT_EQ(run.Host.LinesBefore, std::vector<std::size_t>{run.Host.Log.size() - 1}) << c.Name;
  }
}

// The tiles are flushed in the background soon after the workers write them
// (a saved tile, a placeholder); with nothing written, nothing is flushed.
TEST(TileFlusher, FlushesSoonAfterTheWorkersWriteATile) {
  for (const bool saved : {true, false}) {
    SCOPED_TRACE(saved ? "saved tile" : "placeholder");
    std::mutex lock;
    std::vector<fs::path> flushed;
    auto count = [&] {
      std::lock_guard<std::mutex> guard(lock);
      return flushed.size();
    };
    TRun run;
    TTileFlusher flusher(run.Task().TileFolder, [&](const fs::path& folder) {
      std::lock_guard<std::mutex> guard(lock);
      flushed.push_back(folder);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * TTileFlusher::IntervalMs));
    EXPECT_EQ(count(), 0u);
    if (!saved) run.Script.Default = Fail("HTTP/1.1 404 Not Found");
    run.Flusher = &flusher;
    run.Go();
    test::WaitFor([&] { return count() > 0; });
    EXPECT_EQ(count(), 1u);
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(flushed, std::vector<fs::path>{run.Task().TileFolder});
  }
}

// A tile given up or not found gets the blank image, never over a file that is
// there already. Without either it is a failed tile: one record, and the log
// tells why instead of claiming a blank image.
TEST(DownThread, TileWithoutBlankImageIsAFailedTile) {
  enum TPlace { ExistingFile, NoBlankImage, NoFolder };
  struct Case {
    const char* Name;
    std::string Status;
    TPlace Place;
  };
  const Case cases[] = {
      {"given up, over an earlier tile", "HTTP/1.1 500 Internal Server Error", ExistingFile},
      {"not found, over an earlier tile", "HTTP/1.1 404 Not Found", ExistingFile},
      {"given up, no blank image", "HTTP/1.1 500 Internal Server Error", NoBlankImage},
      {"not found, no blank image", "HTTP/1.1 404 Not Found", NoBlankImage},
      {"not found, the folder gone", "HTTP/1.1 404 Not Found", NoFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TRun run;
    run.Script.Default = Fail(c.Status);
    const std::string path = run.Path(843, 388), url = run.Url(843, 388);
    if (c.Place == ExistingFile) test::WriteAll(path, "earlier tile");
    if (c.Place == NoBlankImage) fs::remove_all(run.Program / "blankimg");
    if (c.Place == NoFolder) fs::remove_all(run.Task().TileFolder);
    run.Go();
    const bool notFound = c.Status.find("404") != std::string::npos;
    const std::string why = c.Place == NoBlankImage
                                ? "Cannot open file " + (run.Program / "blankimg/blank.jpg").string()
                                : "Cannot create file " + path;
    const std::string first =
        notFound ? "Error: the image is not found on server." + c.Status : "T1 " + c.Status + "->" + url;
    if (c.Place == ExistingFile) {
      EXPECT_EQ(run.Host.Log, Lines({first, "T1:843-388 got a blank image!", "T1 Finished."}));
      EXPECT_EQ(run.Host.Failed, notFound ? Lines({}) : Lines({path + "|" + url}));
      EXPECT_EQ(run.Host.EventTexts(), Lines({notFound ? "T1 NotFound 843-388" : "T1 Substituted 843-388"}));
      EXPECT_EQ(ReadAll(path), "earlier tile");
    } else {
      EXPECT_EQ(run.Host.Log, Lines({first, "T1:843-388 could not get a blank image: " + why, "T1 Finished."}));
      EXPECT_EQ(run.Host.Failed, Lines({path + "|" + url}));
      EXPECT_EQ(run.Host.EventTexts(), Lines({"T1 Failed 843-388: " + why}));
      EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(run.Workers[0]->LastPosition(), std::make_pair(843, 388));
  }
}

// 2 columns x 3 rows with 4 workers: worker 0 takes 4, 1 takes 1 and 5, 2 takes 2 and 6, 3 takes 3.
TEST(DownThread, TileShareBySequenceNumber) {
  TRun run(2, 3, 4);
  ASSERT_EQ(run.Task().TotalCount, 6);
  run.Go();
  std::map<int, std::vector<int>> sequences;
  for (const auto& [worker, url] : run.Script.Gets) {
    for (int x = run.Task().MinX; x <= run.Task().MaxX; ++x)
      for (int y = run.Task().MinY; y <= run.Task().MaxY; ++y)
        if (run.Url(x, y) == url) sequences[worker].push_back(run.Task().SequenceOf(x, y));
  }
  EXPECT_EQ(sequences, (std::map<int, std::vector<int>>{{0, {4}}, {1, {1, 5}}, {2, {2, 6}}, {3, {3}}}));
  EXPECT_EQ(run.Host.Log.size(), 6u + 4u);
  for (int x = run.Task().MinX; x <= run.Task().MaxX; ++x)
    for (int y = run.Task().MinY; y <= run.Task().MaxY; ++y) EXPECT_TRUE(fs::exists(run.Path(x, y)));
}

TEST(DownThread, ResumePositionsSkipTheTilesDone) {
  struct Case {
    int X, Y;
    std::vector<int> Fetched;
  };
  // Columns 843..844, rows 388..390: (844, 389) is sequence 5.
  const Case cases[] = {
      {844, 389, {6}}, {843, 388, {2, 3, 4, 5, 6}}, {0, 7, {1, 2, 3, 4, 5, 6}}, {7, 0, {1, 2, 3, 4, 5, 6}}};
  for (const Case& c : cases) {
    TRun run(2, 3);
    run.Resume[0] = {c.X, c.Y};
    run.Go();
    const TDownloadTask& task = run.Task();
    std::vector<int> fetched;
    for (const auto& get : run.Script.Gets)
      task.Grid.ForEach([&](int x, int y) {
        if (task.TileUrl(x, y) == get.second) fetched.push_back(static_cast<int>(task.SequenceOf(x, y)));
      });
    EXPECT_EQ(fetched, c.Fetched) << c.X << "," << c.Y;
  }
}

// A stop that comes during a GET or a pause ends the worker before anything
// else is fetched. A tile not yet saved is left to the resume: no line, no
// record, no blank image, the position not moved.
TEST(DownThread, StopLeavesAnUnsavedTileToTheResume) {
  const std::string ok = "T1:seq=1,gs_843_388_10.jpg OK";
  enum TWhen { DuringGet, DuringPause };
  struct Case {
    const char* Name;
    TReply Reply;
    TWhen When;
    std::vector<int> Pauses;
    bool Saved;
  };
  const Case cases[] = {
      {"a GET that fails", Fail("HTTP/1.1 500 Internal Server Error"), DuringGet, {}, false},
      {"the pause after a 404", Fail("HTTP/1.1 404 Not Found"), DuringPause, {1000}, false},
      {"the pause after 'address in use'",
       Fail("Socket Error # 10048\r\nAddress already in use."),
       DuringPause,
       {8000},
       false},
      {"the pause after a saved tile", Ok(), DuringPause, {1000}, true},
  };
  for (const Case& c : cases) {
    TRun run(2, 2);
    run.Script.Default = c.Reply;
    if (c.When == DuringGet)
      run.Script.OnGet = [&run](int) { run.Workers[0]->Terminate(); };
    else
      run.Sleeper.OnSleep = [&run] { run.Workers[0]->Terminate(); };
    run.Go();
    EXPECT_EQ(run.Script.GetCount(), 1) << c.Name;
    EXPECT_EQ(run.Sleeper.Pauses, c.Pauses) << c.Name;
    EXPECT_EQ(run.Host.Log, c.Saved ? Lines({ok, "T1 Finished."}) : Lines({"T1 Finished."})) << c.Name;
    EXPECT_TRUE(run.Host.Failed.empty()) << c.Name;
    EXPECT_EQ(ReadAll(run.Path(843, 388)), c.Saved ? Jpeg : "") << c.Name;
    EXPECT_EQ(run.Workers[0]->LastPosition(), c.Saved ? std::make_pair(843, 388) : std::make_pair(0, 0)) << c.Name;
    EXPECT_EQ(run.Host.Finished, std::vector<int>{0}) << c.Name;
  }
}

// The real client against a server that keeps the worker waiting, in a
// transfer or in the pause after an error: a stop ends the wait at once
// (there is no stall time-out, and the trickle outlasts ctest's timeout: a stop
// that does not end the wait fails there), and the tile is left to the resume.
TEST(DownThread, StopEndsAWaitingTransferOrPausePromptly) {
  using test::TFaultAction;
  struct Case {
    const char* Name;
    TFaultAction Action;
    bool InPause;
  };
  const Case cases[] = {
      {"a silent server", TFaultAction::Silence(), false},
      {"a trickling server",
       TFaultAction::Trickle("HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n",
                             "\xFF\xD8\xFF" + std::string(2997, 'x'), 1, 100),
       false},
      {"the pause after a 500",
       TFaultAction::Respond("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TFaultServer server({c.Action});
    test::TWorkerRun run(2, 1, 1);
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    run.Params.Hosts = {host, host, host, host};
    run.Params.StallTimeoutSeconds = 0;
    run.Sleeper.Hold = true;
    run.OnPump = [&] {
      if (!server.Requests().empty() && (!c.InPause || run.Sleeper.Held() > 0)) run.Workers[0]->Terminate();
    };
    run.Go();
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(run.Host.Log, Lines({"T1 Finished."}));
    EXPECT_TRUE(run.Host.Failed.empty());
    EXPECT_FALSE(fs::exists(run.Path(843, 388)));
    EXPECT_EQ(run.Workers[0]->LastPosition(), std::make_pair(0, 0));
  }
}

// The real client against answers without end: the tile fails as one that
// cannot be had (placeholder and record) within bounded memory, and the
// worker's client fetches the next tile.
TEST(DownThread, OversizedAnswersFailTheTileAndTheWorkerGoesOn) {
  using test::TFaultAction;
  const std::string jpegStart = "\xFF\xD8\xFF\xE0";
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(Jpeg.size()) + "\r\n\r\n" + Jpeg;
  struct Case {
    const char* Name;
    TFaultAction Action;
  };
  const Case cases[] = {
      {"endless body", TFaultAction::Endless("HTTP/1.1 200 OK\r\n\r\n" + jpegStart)},
      {"2 GB length", TFaultAction::Endless("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n" + jpegStart)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TFaultServer server({c.Action, c.Action, c.Action, TFaultAction::Respond(ok)});
    test::TWorkerRun run(2, 1, 1);
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    run.Params.Hosts = {host, host, host, host};
    test::TMemoryPeak memory;
    // Stops a worker without a bound before it takes the machine's memory.
    run.OnPump = [&] {
      if (memory.Above(512)) run.Workers[0]->Terminate();
    };
    run.Go();
    const std::string url = run.Url(843, 388);
    EXPECT_EQ(run.Host.Log, Lines({"T1 Response larger than MaxTileBytes->" + url, "T1:843-388 got a blank image!",
                                   "T1:seq=2,gs_844_388_10.jpg OK", "T1 Finished."}));
    EXPECT_EQ(run.Host.Failed, Lines({run.Path(843, 388) + "|" + url}));
    EXPECT_EQ(run.Host.EventTexts(), Lines({"T1 Substituted 843-388", "T1 Saved 844-388"}));
    EXPECT_EQ(ReadAll(run.Path(843, 388)), Blank);
    EXPECT_EQ(ReadAll(run.Path(844, 388)), Jpeg);
    EXPECT_EQ(server.Requests().size(), 4u);
    if (test::MemoryBounded) {
      EXPECT_LT(memory.GrowthMb(), 64);
    }
  }
}

// Stop during immediate repeats: the tile is left to the resume.
TEST(DownThread, StopEndsImmediateRepeats) {
  TRun run(2, 2);
  run.Script.Default = Fail(Reset);
  run.Script.OnGet = [&run](int count) {
    if (count == 2) run.Workers[0]->Terminate();
  };
  run.Go();
  EXPECT_EQ(run.Script.GetCount(), 2);
  EXPECT_EQ(run.Host.Log, Lines({"T1 Finished."}));
  EXPECT_TRUE(run.Host.Failed.empty());
  EXPECT_FALSE(fs::exists(run.Path(843, 388)));
  EXPECT_EQ(run.Workers[0]->LastPosition(), std::make_pair(0, 0));
}

// Failures outside the GET end the worker in order: error line, finish line, one WorkerFinished.
TEST(DownThread, FailuresOutsideTheGet) {
  TRun unwritable;
  fs::remove_all(unwritable.Task().TileFolder);
  unwritable.Go();
  EXPECT_EQ(unwritable.Host.Log, Lines({"T1 Error: Cannot create file " + unwritable.Path(843, 388), "T1 Finished."}));
  EXPECT_EQ(unwritable.Host.EventTexts(),
            Lines({"T1 Stopped 843-388: T1 Error: Cannot create file " + unwritable.Path(843, 388)}));
  EXPECT_EQ(unwritable.Host.Finished, std::vector<int>{0});

  TRun badPort;
  badPort.Params.UseProxy = true;
  badPort.Params.ProxyServer = "127.0.0.1";
  badPort.Params.ProxyPort = "31x";
  badPort.Go();
  EXPECT_EQ(badPort.Host.Log, Lines({"T1 Error: '31x' is not a valid integer value", "T1 Finished."}));
  EXPECT_EQ(badPort.Host.EventTexts(), Lines({"T1 Stopped 0-0: T1 Error: '31x' is not a valid integer value"}));
  EXPECT_EQ(badPort.Script.GetCount(), 0);
  EXPECT_EQ(badPort.Host.Finished, std::vector<int>{0});
}

// A cookie file that is a pipe had every worker wait for a writer for ever.
TEST(DownThread, UnreadableCookieFileIsReportedAndTheTaskGoesOn) {
  TRun run;
  const fs::path fifo = run.Dir / "cookies.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  run.Params.CookieFile = fifo.string();
  run.Go();
  EXPECT_EQ(run.Host.Log,
            Lines({"T1 Error: Not a regular file: " + fifo.string(), "T1:seq=1,gs_843_388_10.jpg OK", "T1 Finished."}));
  EXPECT_TRUE(run.Script.SettingsSeen.at(0).ExtraHeaders.empty());
}

TEST(DownThread, RequestProfilePerMapType) {
  TRun google;
  test::WriteAll(google.Dir / "cookies.txt", ".google.com\tTRUE\t/\tFALSE\t0\tNID\tabc\n");
  google.Params.CookieFile = (google.Dir / "cookies.txt").string();
  google.Params.UseProxy = true;
  google.Params.ProxyServer = "proxy.local";
  google.Params.ProxyPort = "3128";
  google.Params.ProxyUsername = "u";
  google.Params.ProxyPassword = "p";
  google.Params.StallTimeoutSeconds = 7;
  google.Go();
  ASSERT_EQ(google.Script.SettingsSeen.size(), 1u);
  const THttpSettings& s = google.Script.SettingsSeen[0];
  EXPECT_EQ(s.Referer, "http://maps.google.com/");
  EXPECT_EQ(s.UserAgent, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
  EXPECT_EQ(s.Connection, "Keep_Alive");
  EXPECT_EQ(s.ExtraHeaders, Lines({"Cookie: NID=abc"}));
  EXPECT_EQ(s.ProxyServer, "proxy.local");
  EXPECT_EQ(s.ProxyPort, 3128);
  EXPECT_EQ(s.ProxyUsername + ":" + s.ProxyPassword, "u:p");
  EXPECT_EQ(s.StallTimeoutSeconds, 7);

  // Without a cookie no Cookie line; map types from 3 on get none of the profile.
  TRun plain;
  plain.Params.MapsType = 3;
  plain.Script.Default = Fail("HTTP/1.1 404 Not Found");  // map type 3 has no URL; the GET still goes out
  plain.Go();
  const THttpSettings& p = plain.Script.SettingsSeen.at(0);
  EXPECT_FALSE(p.Referer || p.UserAgent || p.Connection);
  EXPECT_TRUE(p.ExtraHeaders.empty());
  EXPECT_TRUE(p.ProxyServer.empty());
}

}  // namespace
}  // namespace meridane
