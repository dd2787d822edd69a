#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "task/TextFile.h"
#include "ui/HeadlessToolkit.h"
#include "ui/MainForm.h"

namespace meridane::test {

inline const std::string FastConfig = "[Download]\r\nTilePause=0\r\n";

// A small JPEG for every URL, or the status line scripted (before Start) for URLs
// containing a given part.
struct TFakeServer {
  std::map<std::string, std::string> Errors;
  std::atomic<int> Gets{0};
  struct TClient : IHttpClient {
    explicit TClient(TFakeServer& server) : Server(server) {}
    void Get(const std::string& url, std::string& buffer) override {
      ++Server.Gets;
      for (const auto& [part, status] : Server.Errors)
        if (url.find(part) != std::string::npos) throw EHttpError(status);
      buffer += "\xFF\xD8\xFF\xE0 tile";
    }
    TFakeServer& Server;
  };
};

// Open, it lets every sleep through at once; closed, it holds each sleep until
// Release lets one through or Open lets all through.
class TGate : public ISleeper {
 public:
  explicit TGate(bool open) : IsOpen(open) {}
  void Sleep(int) override {
    std::unique_lock<std::mutex> lock(Lock);
    ++Entered;
    Wake.wait(lock, [this] { return IsOpen || Permits > 0; });
    if (!IsOpen) --Permits;
  }
  void Release() { Change([this] { ++Permits; }); }
  void Open() { Change([this] { IsOpen = true; }); }
  int Sleeps() {
    std::lock_guard<std::mutex> guard(Lock);
    return Entered;
  }

 private:
  // The count is read and written under the lock the sleepers hold.
  template <typename F>
  void Change(F change) {
    std::lock_guard<std::mutex> guard(Lock);
    change();
    Wake.notify_all();
  }
  std::mutex Lock;
  std::condition_variable Wake;
  bool IsOpen;
  int Permits = 0, Entered = 0;
};

// The headless toolkit with a hook for the moments the form waits for its workers.
struct TWaitHookToolkit : THeadlessToolkit {
  using THeadlessToolkit::THeadlessToolkit;
  std::function<void()> OnWait;
  void ProcessPendingEvents() override {
    if (OnWait) OnWait();
    THeadlessToolkit::ProcessPendingEvents();
  }
};

// A shown main window over a program folder of its own, HOME in the temporary
// folder, a fake tile server and a gate for the workers' pauses.
class TFormRun {
 public:
  explicit TFormRun(std::optional<std::string> config = FastConfig, bool holdWorkers = false,
                    std::size_t queueLimit = TQueueDispatcher::DefaultLimit)
      : Gate(!holdWorkers),
        Toolkit(queueLimit),
        Form(Toolkit, {.ProgramFolder = Program, .ConfigPath = {}, .Sleeper = &Gate, .MakeClient = [this] {
                         return std::make_unique<TFakeServer::TClient>(Server);
                       }}) {
    Home.Set(Dir.Path().string());
    std::filesystem::create_directories(Program / "ini");
    std::filesystem::create_directories(Program / "blankimg");
    WriteAll(Program / "blankimg" / "blank.jpg", "\xFF\xD8\xFF\xE0 blank");
    std::filesystem::create_directories(Tasks);
    if (config) WriteAll(Program / "ini" / "config.ini", *config);
    Form.FormShow();
  }
  // The form waits for its workers when it goes; they must not be held then.
  ~TFormRun() { Gate.Open(); }

  // The tasks folder and two tiles side by side at zoom 12 (x 3371 and 3372).
  void Fill() {
    Form.Edit6.Text = Tasks;
    Area("116.3", "39.9", "116.4", "39.9");
    Form.EditTaskName.Text = "t.mrd";
  }
  void Area(std::string left, std::string top, std::string right, std::string bottom) {
    Form.Edit1.Text = left, Form.Edit2.Text = top, Form.Edit3.Text = right, Form.Edit4.Text = bottom;
  }

  // These wait as long as it takes: ctest's timeout bounds the test, so a slow
  // or busy machine is never taken for a fault. True once done.
  bool PumpUntil(const std::function<bool()>& done) {
    while (!done()) Toolkit.Pump(std::chrono::milliseconds(1));
    return true;
  }
  // Pumps the workers' calls, ticking once all have reported, until the task completes.
  bool RunToEnd() {
    while (Form.Running()) {
      Toolkit.Pump(std::chrono::milliseconds(1));
      if (Form.RunningCount == 0) Toolkit.Tick();
    }
    return true;
  }
  bool StartAndRun() {
    Form.BitBtn1Click();
    return RunToEnd();
  }

  const TDownloadTask& Task() const { return *Form.CurrentTask; }
  std::string Log() const { return ReadAll(Task().LogPath); }
  std::vector<std::string> LogLines() const { return SplitLines(Log()); }
  int Workers() const {
    int count = 0;
    for (const auto& worker : Form.DownThreads) count += worker != nullptr;
    return count;
  }

  // Declared first, so HOME comes back only after the form has gone.
  TEnvironmentGuard Home{"HOME"};
  TTempDir Dir;
  std::filesystem::path Program = Dir / "program";
  std::string Tasks = Dir.Folder() + "tasks/";
  TFakeServer Server;
  TGate Gate;
  TWaitHookToolkit Toolkit;
  TForm1 Form;
};

// The seven lines a completed task adds at the end of its log.
inline void ExpectClosingLines(const TFormRun& run) {
  const std::vector<std::string> lines = run.LogLines();
  ASSERT_GE(lines.size(), 7u);
  std::vector<std::string> tail(lines.end() - 7, lines.end());
  EXPECT_TRUE(tail[4].starts_with("Now time:")) << tail[4];
  tail[4].resize(9);
  EXPECT_EQ(tail, (std::vector<std::string>{"", std::string(32, '-'), "Task Stoped!", "", "Now time:", "",
                                            "Log file has been saved as " + run.Task().LogPath}));
}

}  // namespace meridane::test
