#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownThread.h"
#include "geo/Commonfunc.h"
#include "support/TempDir.h"

namespace meridane::test {

inline const std::string BlankBytes = "\xFF\xD8\xFF\xE0 blank";

// Records every pause. A held pause is a long real one, which only the
// worker's stop can end early; HoldLimitMs keeps a faulty test from hanging.
class TRecordingSleeper : public ISleeper {
 public:
  void Sleep(int milliseconds) override { Record(milliseconds); }
  void Pause(int milliseconds, TStopSignal& stop) override {
    Record(milliseconds);
    if (!Hold) return;
    {
      std::lock_guard<std::mutex> guard(Lock);
      ++HeldCount;
    }
    TRealSleeper().Pause(HoldLimitMs, stop);
  }
  int Held() {
    std::lock_guard<std::mutex> guard(Lock);
    return HeldCount;
  }
  std::mutex Lock;
  std::vector<int> Pauses;
  std::function<void()> OnSleep;
  bool Hold = false;  // set before the run
  static constexpr int HoldLimitMs = 60000;

 private:
  void Record(int milliseconds) {
    std::lock_guard<std::mutex> guard(Lock);
    Pauses.push_back(milliseconds);
    if (OnSleep) OnSleep();
  }
  int HeldCount = 0;
};

// The main window's part: lines, events and finish calls, on the pumping thread.
class TRecordingHost : public IWorkerHost {
 public:
  void AddLogLine(const std::string& line) override { Log.push_back(line); }
  void AddFailedLine(const std::string& line) override { Failed.push_back(line); }
  void TileDone(const TTileEvent& event) override {
    Events.push_back(event);
    LinesBefore.push_back(Log.size());
  }
  void WorkerFinished(int threadIndex) override { Finished.push_back(threadIndex); }
  // "T1 Saved 843-388", "T2 Stopped 0-0: T2 Error: ..." for each event in order.
  std::vector<std::string> EventTexts() const {
    static const char* const kinds[] = {"Saved", "Substituted", "NotFound", "Failed", "Stopped"};
    std::vector<std::string> texts;
    for (const TTileEvent& e : Events)
      texts.push_back("T" + std::to_string(e.ThreadIndex + 1) + " " + kinds[static_cast<int>(e.Kind)] + " " +
                      std::to_string(e.X) + "-" + std::to_string(e.Y) + (e.Message.empty() ? "" : ": " + e.Message));
    return texts;
  }
  std::vector<std::string> Log, Failed;
  std::vector<TTileEvent> Events;
  std::vector<std::size_t> LinesBefore;  // of each event: the log lines that came before it
  std::vector<int> Finished;
};

// A task of `columns` x `rows` tiles at zoom 10 from tile (x0, y0), run by
// `workers` workers on this thread's queue, with a recording sleeper and host
// and a blank image in a program folder of its own.
class TWorkerRun {
 public:
  TWorkerRun(int columns, int rows, int workers, int x0 = 843, int y0 = 388) {
    std::filesystem::create_directories(Program / "blankimg");
    WriteAll(Program / "blankimg" / "blank.jpg", BlankBytes);
    Params.LeftLongitude = TileXToLon(x0 + 0.5, 10);
    Params.RightLongitude = TileXToLon(x0 + columns - 0.5, 10);
    Params.TopLatitude = TileYToLat(y0 + 0.5, 10, 0);
    Params.BottomLatitude = TileYToLat(y0 + rows - 0.5, 10, 0);
    Params.Zoom = 10;
    Params.ThreadCount = workers;
    Params.Folder = Dir.Folder();
    Params.TaskName = "t.mrd";
    Params.TilePauseMs = 1000;
  }

  TDownloadTask& Task() {
    if (!BuiltTask) {
      BuiltTask = std::make_unique<TDownloadTask>(Params, Resume);
      BuiltTask->CreateTileFolder();
    }
    return *BuiltTask;
  }
  std::string Url(int x, int y) { return Task().TileUrl(x, y); }
  std::string Path(int x, int y) { return Task().TilePath(x, y); }

  // Starts the workers and pumps the main thread until every one has finished.
  void Go() {
    for (int i = 0; i < Params.ThreadCount; ++i) {
      TWorkerContext context{&Main, &Host, &Sleeper, MakeCurlHttpClient, Program, Flusher};
      if (MakeClient) context.MakeClient = [this, i] { return MakeClient(i); };
      Workers.push_back(std::make_unique<TDownThread>(true, i, Task(), std::move(context)));
    }
    // Started once the table is complete: the hooks of some tests look workers up in it.
    for (auto& worker : Workers) worker->Start();
    Main.PumpUntil([this] {
      if (OnPump) OnPump();
      return Host.Finished.size() == Workers.size();
    });
    for (auto& worker : Workers) worker->WaitFor();
  }

  TTempDir Dir;
  std::filesystem::path Program = Dir / "program";
  TTaskParams Params;
  TPositions Resume;  // where the workers start, read when the task is built
  TQueueDispatcher Main;
  TRecordingSleeper Sleeper;
  TRecordingHost Host;
  std::function<std::unique_ptr<IHttpClient>(int)> MakeClient;  // empty: the real client
  TTileFlusher* Flusher = nullptr;
  // Run on this thread, over and over, while it waits for the workers.
  std::function<void()> OnPump;
  std::unique_ptr<TDownloadTask> BuiltTask;
  std::vector<std::unique_ptr<TDownThread>> Workers;
};

}  // namespace meridane::test
