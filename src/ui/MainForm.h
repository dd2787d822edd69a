#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "download/DownThread.h"
#include "task/ProjectFile.h"
#include "task/Request.h"
#include "ui/Controls.h"
#include "ui/Memo.h"
#include "ui/ProgramInfo.h"
#include "ui/Progress.h"
#include "ui/TaskCheck.h"
#include "ui/Toolkit.h"

namespace meridane {

class TMapPickForm;

// Where the main window finds its companions and how its workers fetch and wait;
// tests replace the parts they need.
struct TMainFormEnvironment {
  std::filesystem::path ProgramFolder;  // empty: the running program's folder
  std::filesystem::path ConfigPath;     // empty: LocateConfig's, looked up at every read
  ISleeper* Sleeper = nullptr;          // null: real waits
  std::function<std::unique_ptr<IHttpClient>()> MakeClient = MakeCurlHttpClient;
  // Where the tasks started or opened are listed for the companions; empty:
  // nowhere (the program passes the user's, tests their own).
  std::filesystem::path RecentTasks{};
};

// The main window's logic: its controls, its state and its handlers, without a
// toolkit. Everything here runs on the main thread; workers reach it only
// through the IWorkerHost calls, which they make through the main thread's
// queue.
class TForm1 : public IWorkerHost {
 public:
  static constexpr int WorkerSlots = 8;
  static constexpr const char* HomePageAddress = ProgramInfo::HomePage;
  static constexpr const char* SupportAddress = ProgramInfo::SupportAddress;

  explicit TForm1(IToolkit& toolkit, TMainFormEnvironment environment = {});
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Controls.
  std::string Caption;
  TEdit EditTaskName{"newtask.mrd"};
  TComboBox comboMapsType;
  TTrackBar TrackBar1;
  TLabel Label8;
  TEdit Edit1, Edit2, Edit3, Edit4;  // left, top, right, bottom
  TEdit Edit6;                       // folder
  TEdit Edit10{"1"};                 // thread count
  TUpDown UpDown2{1, 8, 1};
  TLabel LabelTotalxy;
  // Under the coordinates: the tile count and disk space of what the fields ask for.
  TLabel LabelEstimate;
  TButton BitBtn1{"Start"};
  TMemo Memo1{"[log window]"};
  TMemo Memo2{"[Failed tile inforamtion window]"};
  TLabel StatusBar1{"Download satellite images from Google Maps."};
  TTimerModel Timer1;

  // The map dialog "Map..." opens.
  std::unique_ptr<TMapPickForm> MapPick;

  // State.
  std::array<std::unique_ptr<TDownThread>, WorkerSlots> DownThreads;
  int RunningCount = 0;
  int TickCount = 0;
  std::unique_ptr<TDownloadTask> CurrentTask;
  std::string ConfigPath;
  std::string HelpPath;
  std::string DefaultPath;
  int DefaultThreadCount = 1;
  // The count of the task of the last Start: it begins at every Start and stays
  // after the completion until the next one.
  TProgress Progress;
  // Tools > "Check task...": it runs beside the window, and Start is its Stop meanwhile.
  TTaskCheck Check;

  // Handlers. An error escaping one is shown in the toolkit's error box.
  void FormShow();
  void comboMapsTypeChange();
  void TrackBar1Change();
  void BitBtn1Click();
  void Button1Click();
  void Timer1Timer();
  void Viewlogfile1Click();
  void LoadParametersfromprojectfilel1Click();
  // "Map...": the rectangle picked on a map.
  void ButtonMapClick();
  // A field of the request changed: the estimate follows.
  void RequestChanged();
  // Tools > "Check task...", or its Stop while a check runs.
  void Checktask1Click();
  // Before the program ends: a running task is stopped, its workers waited for
  // and the task completed (positions and memos saved), without the message box.
  void FormCloseQuery();

  // The request the fields describe, checked as Start checks it; nothing after
  // a message. Start creates a missing folder; a count of the tiles does not.
  std::unique_ptr<TTaskParams> ReadRequest(bool createFolder);

  // Every 4th tick: the memos into their files, then every worker's position into the project file.
  void SaveProgress();

  // A download task runs (a check is not one).
  bool Running() const { return Downloading; }
  // What the bar's line shows: the rate while a task runs, then how it ended.
  std::string ProgressLine() const;
  // The bar under the tile count: a check's while one runs, else the download's,
  // which stays after a task until the next Start, with how it ended.
  struct TBarView {
    bool Shown = false;
    int Value = 0, Maximum = 1;
    std::string Line;
    std::string StopReason;  // an error that stopped workers; empty when none did
  };
  TBarView ProgressBar() const;
  const std::filesystem::path& ProgramFolder() const { return Folder; }

  // Worker calls, on the main thread.
  void AddLogLine(const std::string& line) override { Memo1.Add(line); }
  void AddFailedLine(const std::string& line) override { Memo2.Add(line); }
  void TileDone(const TTileEvent& event) override { Progress.Count(event); }
  // The last worker's end completes the task at once, though not inside this
  // call: the completion waits for the workers.
  void WorkerFinished(int) override;

 private:
  void Start();
  void Stop();
  // The task name as Start completes it (".mrd" appended); nothing after a message.
  std::optional<std::string> TaskFileName();
  // The workers' positions, and their one write into the project file.
  TPositions Positions() const;
  void SavePositions(const TPositions& positions);
  void Complete(bool showMessage);
  void EnableTimer(bool enabled);
  void WaitForWorkers();
  // Start reads "Stop" while a task or a check runs.
  void ShowButtonCaption();

  IToolkit& Toolkit;
  TMainFormEnvironment Environment;
  // While a task runs: its workers tell it of every tile they write.
  std::unique_ptr<TTileFlusher> Flusher;
  bool Downloading = false;
  bool Closing = false;  // the program ends once the running task is complete
  bool Destroying = false;
  std::filesystem::path Folder;
  TRealSleeper RealSleeper;
};

// Texts of the main window.
namespace MainFormText {
inline constexpr const char* NoPath = "Please select a path to save the images.";
inline constexpr const char* TaskStopped = "Task stoped!                    ";
inline constexpr const char* NoTask = "No task running now.                  ";
inline constexpr const char* NoLogFile = "No logfile now.                         ";
// The request's refusals, under the names the window's code and tests know.
using namespace RequestText;
}  // namespace MainFormText

// The question before a task's files are replaced by a fresh start.
std::string ReplaceQuestion(const std::string& project, const std::vector<std::string>& differences);

// "Tiles: 12, about 240 KB" for the request the coordinate texts and zoom
// describe; "Tiles: —" while they describe none, naming the first field that
// is empty or holds no number ("Tiles: — Top Latitude is not a number").
std::string EstimateText(const std::string& left, const std::string& top, const std::string& right,
                         const std::string& bottom, int zoom);

}  // namespace meridane
