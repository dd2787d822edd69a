#include "ui/MainForm.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <limits>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "config/RecentTasks.h"
#include "geo/Convert.h"
#include "task/MapTypes.h"
#include "ui/MapPickForm.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

constexpr char Separator = static_cast<char>(fs::path::preferred_separator);

// The folder part of a path with its separator, and the name after it.
std::string FolderPart(const std::string& path) { return path.substr(0, path.find_last_of(Separator) + 1); }
std::string NamePart(const std::string& path) { return path.substr(path.find_last_of(Separator) + 1); }

// A typical satellite tile, and its line in the image list: what the estimate
// counts per tile.
constexpr double EstimatedTileBytes = 20 * 1024 + 150;

// "240 KB", "1.3 GB": a size as people read it, "." whatever the locale.
std::string SizeText(double bytes) {
  static constexpr const char* Units[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(Units)) bytes /= 1024, ++unit;
  char text[32];
  const int decimals = unit > 0 && bytes < 10 ? 1 : 0;
  const auto end = std::to_chars(text, text + sizeof text, bytes, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end) + " " + Units[unit];
}

}  // namespace

std::string ReplaceQuestion(const std::string& project, const std::vector<std::string>& differences) {
  std::string text = "The task " + project + " was started with other inputs:\n";
  for (const std::string& line : differences) text += line + "\n";
  return text +
         "\nStart it afresh? That replaces its project file, image list, log and failed-tile list, and downloads "
         "every tile again.";
}

std::string EstimateText(const std::string& left, const std::string& top, const std::string& right,
                         const std::string& bottom, int zoom) {
  // A field that holds no number is named: the dash alone does not say which.
  const struct {
    const char* Name;
    const std::string& Text;
  } fields[] = {{"Left Longitude", left}, {"Right Longitude", right}, {"Top Latitude", top}, {"Bottom Latitude", bottom}};
  for (const auto& field : fields) {
    if (field.Text.empty()) return std::string("Tiles: \u2014 ") + field.Name + " is empty";
    if (!ParseCoordinate(field.Text)) return std::string("Tiles: \u2014 ") + field.Name + " is not a number";
  }
  TArea area;
  if (CheckArea(left, top, right, bottom, area)) return "Tiles: \u2014";
  TTaskParams request;
  request.LeftLongitude = area.Left, request.RightLongitude = area.Right;
  request.TopLatitude = area.Top, request.BottomLatitude = area.Bottom;
  request.Zoom = zoom;
  request.MapsType = SatelliteMapType;
  try {
    const int count = ComputeTileRange(request).TotalCount;
    return "Tiles: " + GroupedNumber(count) + ", about " + SizeText(count * EstimatedTileBytes);
  } catch (const ETaskBuildError&) {
    return "Tiles: too many for one task";
  }
}

TForm1::TForm1(IToolkit& toolkit, TMainFormEnvironment environment)
    : MapPick(std::make_unique<TMapPickForm>(toolkit, *this)),
      Check(toolkit),
      Toolkit(toolkit),
      Environment(std::move(environment)) {
  TrackBar1.OnChange = [this] { TrackBar1Change(); };
  Check.OnChange = [this] { ShowButtonCaption(); };
  MapPick->MakeClient = Environment.MakeClient;
  MapPick->Sleeper = Environment.Sleeper ? Environment.Sleeper : &RealSleeper;
}

TForm1::~TForm1() {
  Destroying = true;
  Check.OnChange = nullptr;
  Check.Close();
  // The toolkit's timer must not call a window that is gone.
  if (Timer1.Enabled) EnableTimer(false);
  // Workers use this window until they end; they must not outlive it.
  for (auto& worker : DownThreads)
    if (worker) worker->Terminate();
  WaitForWorkers();
}

void TForm1::WaitForWorkers() {
  auto anyRunning = [this] {
    return std::any_of(DownThreads.begin(), DownThreads.end(), [](const auto& w) { return w && !w->Finished(); });
  };
  // Their last calls need the main thread.
  while (anyRunning()) Toolkit.ProcessPendingEvents();
}

void TForm1::FormShow() {
  RunHandler(Toolkit, [this] {
    Folder = Environment.ProgramFolder.empty() ? meridane::ProgramFolder() : Environment.ProgramFolder;
    ConfigPath = TConfigSource(Environment.ConfigPath, Folder).Read().string();
    // The manual, an HTML page the desktop's browser opens.
    HelpPath = (Folder / "help" / "index.html").string();
    comboMapsType.Items.clear();
    for (int type = 0; type < ListedMapTypes; ++type) comboMapsType.Items.emplace_back(MapTypeOf(type).Name);
    const TMainWindowConfig config = TConfig(ConfigPath).ReadMainWindow();
    DefaultPath = config.DefaultPath;
    DefaultThreadCount = config.DefaultThreadCount;
    Caption = "Meridane " + config.Version;
    Edit6.Text = DefaultPath;
    UpDown2.Max = WorkerSlots;
    Edit10.Text = std::to_string(DefaultThreadCount);
    comboMapsType.ItemIndex = 1;
    comboMapsTypeChange();
    RequestChanged();
  });
}

void TForm1::RequestChanged() {
  LabelEstimate.Caption = EstimateText(Edit1.Text, Edit2.Text, Edit3.Text, Edit4.Text, TrackBar1.Position());
}

std::string TForm1::ProgressLine() const { return Running() ? Progress.RateLine() : Progress.Summary(); }

void TForm1::comboMapsTypeChange() {
  const int m = comboMapsType.ItemIndex;
  if (m < 0 || m >= ListedMapTypes) return;
  const TMapType& kind = MapTypeOf(m);
  TrackBar1.SetMax(kind.ZoomMax);
  TrackBar1.SetMin(kind.ZoomMin);
  TrackBar1.SetPosition(kind.ZoomOnSelect);
}

void TForm1::TrackBar1Change() {
  Label8.Caption = std::to_string(TrackBar1.Position());
  TrackBar1.Hint = Label8.Caption;
  RequestChanged();
}

void TForm1::ButtonMapClick() {
  RunHandler(Toolkit, [this] { MapPick->Execute(); });
}

void TForm1::BitBtn1Click() {
  RunHandler(Toolkit, [this] {
    if (Check.Running())
      Check.Stop();
    else if (!Downloading)
      Start();
    else
      Stop();
  });
}

void TForm1::ShowButtonCaption() { BitBtn1.Caption = Downloading || Check.Running() ? "Stop" : "Start"; }

void TForm1::Checktask1Click() {
  RunHandler(Toolkit, [this] {
    if (Check.Running()) return Check.Stop();
    Check.Run({.ProgramFolder = Folder,
               .ConfigPath = TConfigSource(Environment.ConfigPath, Folder).Read().string(),
               .InitialFolder = Edit6.Text.empty() ? DefaultPath : Edit6.Text,
               .TaskRunning = Downloading});
  });
}

TForm1::TBarView TForm1::ProgressBar() const {
  TBarView view;
  const auto clamp = [](long long n) { return static_cast<int>(std::clamp<long long>(n, 0, std::numeric_limits<int>::max())); };
  if (const auto& check = Check.Bar()) {
    view.Shown = true;
    view.Maximum = clamp(std::max(1LL, check->Tiles));
    view.Value = std::min(clamp(check->Checked), view.Maximum);
    view.Line = check->Line;
    return view;
  }
  view.Shown = Downloading || Progress.HasRun();
  view.Maximum = clamp(std::max<long>(1, Progress.Tiles()));
  view.Value = std::min(clamp(Progress.Handled()), view.Maximum);
  view.Line = ProgressLine();
  if (view.Shown) view.StopReason = Progress.StopReason();
  return view;
}

std::unique_ptr<TTaskParams> TForm1::ReadRequest(bool createFolder) {
  auto refuse = [this](const std::string& message) {
    Toolkit.ShowMessage(message);
    return std::unique_ptr<TTaskParams>();
  };
  if (Edit6.Text.empty()) return refuse(MainFormText::NoPath);
  if (HasControlCharacter(Edit6.Text)) return refuse(MainFormText::PathControl);
  // Every path in the task's files is absolute, so its failed-tile list can be
  // re-downloaded from anywhere; the field shows the folder the task uses.
  const std::string folderText = AbsoluteFolder(Edit6.Text);
  if (createFolder) Edit6.Text = folderText;
  std::error_code ec;
  if (createFolder && !fs::is_directory(folderText, ec) && !fs::create_directory(folderText, ec))
    return refuse("Create directory " + folderText + " Failed.");

  TArea area;
  if (const char* message = CheckArea(Edit1.Text, Edit2.Text, Edit3.Text, Edit4.Text, area)) return refuse(message);

  auto params = std::make_unique<TTaskParams>();
  params->LeftLongitude = area.Left;
  params->RightLongitude = area.Right;
  params->TopLatitude = area.Top;
  params->BottomLatitude = area.Bottom;
  params->Zoom = TrackBar1.Position();
  params->MapsType = SatelliteMapType;
  params->Folder = folderText;
  if (params->Folder.back() != Separator) params->Folder += Separator;
  return params;
}

std::optional<std::string> TForm1::TaskFileName() {
  std::string name = EditTaskName.Text;
  const char* refusal = CompleteTaskName(name);
  if (!refusal) return name;
  Toolkit.ShowMessage(refusal);
  return std::nullopt;
}

void TForm1::Start() {
  ConfigPath = TConfigSource(Environment.ConfigPath, Folder).Read().string();
  const TStartConfig config = TConfig(ConfigPath).ReadStart();
  const std::optional<std::string> taskName = TaskFileName();
  if (!taskName) return;
  std::unique_ptr<TTaskParams> params = ReadRequest(true);
  if (!params) return;
  const std::string folder = params->Folder;
  const int zoom = params->Zoom;
  bool resume = false;
  std::error_code ec;

  RunningCount = 0;
  // Eight worker slots and eight stored positions: never more workers, never none.
  const int threadCount = std::clamp(ParseWholeNumber(Edit10.Text).value_or(1), 1, WorkerSlots);

  const std::string project = folder + *taskName;
  bool replacing = false;
  // Read once: the request to compare, and where the workers of a resume stopped.
  std::optional<TProjectReader> stored;
  if (fs::exists(project, ec)) {
    // One that cannot be read is shown, neither compared as empty nor replaced.
    stored.emplace(TProjectReader::Open(project));
    const TStoredRequest request{.Left = Edit1.Text,
                                 .Right = Edit3.Text,
                                 .Top = Edit2.Text,
                                 .Bottom = Edit4.Text,
                                 .Zoom = zoom,
                                 .ThreadCount = StoredThreadCount(*params, threadCount),
                                 .MapsType = comboMapsType.ItemIndex};
    const std::vector<std::string> differences = RequestDifferences(*stored, request);
    resume = differences.empty();
    // A fresh start replaces the task's log and failed-tile list: only when asked for.
    if (!resume && !Toolkit.Ask(ReplaceQuestion(project, differences))) return;
    replacing = !resume;
  }

  params->ThreadCount = threadCount;
  params->SlotCount = WorkerSlots;
  params->TaskName = *taskName;
  ApplyStartConfig(*params, config);
  params->Resume = resume;

  std::unique_ptr<TDownloadTask> task;
  try {
    task = std::make_unique<TDownloadTask>(std::move(*params), resume ? stored->Positions() : TPositions{});
    task->CreateTileFolder();
  } catch (const std::exception& e) {
    if (dynamic_cast<const ETaskBuildError*>(&e) && *e.what()) Toolkit.ShowMessage(e.what());
    return Toolkit.ShowMessage(CreateTaskFailureMessage);
  }
  // Never more workers than tiles; the task's files store the count it runs.
  task->Params.ThreadCount = std::min(task->Params.ThreadCount, task->TotalCount);
  CurrentTask = std::move(task);
  const TDownloadTask& t = *CurrentTask;

  // A task replaced loses its project file first: a kill or a full disk while
  // its other files are replaced then leaves the old task whole or no project,
  // never the old project beside emptied files.
  if (replacing) RemoveFile(project);
  t.RemoveLeftovers();
  // The project file last: a task is resumed only once all its files exist, so a
  // kill or a full disk while they are written leaves a task that starts afresh.
  // A list of millions of tiles takes seconds: the window shows how far it is.
  using Clock = std::chrono::steady_clock;
  auto shown = Clock::now();
  t.WriteImageList([&](long long written) {
    if (Clock::now() - shown < std::chrono::milliseconds(100)) return;
    shown = Clock::now();
    LabelTotalxy.Caption = "Writing the image list: " + std::to_string(written * 100 / std::max(1, t.TotalCount)) + "%";
    Toolkit.Repaint();
  });
  t.WriteLogHeader();
  t.CreateFailedList();
  t.WriteProjectFile();
  if (!Environment.RecentTasks.empty()) RememberTask(t.ProjectPath(), Environment.RecentTasks);
  Memo1.LoadFromFile(t.LogPath);
  Memo2.LoadFromFile(t.FailedPath);
  if (!t.DamagedPositions.empty()) {
    std::string message = "The project file " + project + " is damaged:";
    for (const std::string& line : t.DamagedPositions) message += "\n" + line;
    Toolkit.ShowMessage(message);
  }
  LabelTotalxy.Caption = "Total images: " + std::to_string(t.TotalCount);
  Progress.Begin(t);
  Downloading = true;
  ShowButtonCaption();
  Flusher = std::make_unique<TTileFlusher>(t.TileFolder);
  for (int i = 0; i < t.Params.ThreadCount; ++i) {
    TWorkerContext context{.MainThread = &Toolkit.MainThread(),
                           .Host = this,
                           .Sleeper = Environment.Sleeper ? Environment.Sleeper : &RealSleeper,
                           .MakeClient = Environment.MakeClient,
                           .ProgramFolder = Folder,
                           .Flusher = Flusher.get()};
    DownThreads[static_cast<std::size_t>(i)] = std::make_unique<TDownThread>(false, i, t, std::move(context));
    ++RunningCount;
  }
  EnableTimer(true);
  TickCount = 0;
}

void TForm1::Stop() {
  if (!CurrentTask) return;
  // The lines the workers handed over before the click come before its own.
  Toolkit.MainThread().RunHandedOver();
  for (int i = 0; i < CurrentTask->Params.ThreadCount; ++i) {
    if (auto& worker = DownThreads[static_cast<std::size_t>(i)]) worker->Terminate();
    Memo1.Add("Thread" + std::to_string(i + 1) + "will be terminated by user. please wait...");
  }
}

void TForm1::EnableTimer(bool enabled) {
  Timer1.Enabled = enabled;
  Toolkit.SetTimer(enabled, Timer1.Interval, [this] { Timer1Timer(); });
}

void TForm1::Timer1Timer() {
  RunHandler(Toolkit, [this] {
    ++TickCount;
    if (TickCount % 4 == 0) {
      try {
        SaveProgress();
      } catch (const std::exception&) {
        // With every worker done the completion saves again and reports what fails;
        // otherwise the error ends this tick and the next save tries again.
        if (RunningCount != 0) throw;
      }
    }
    // Closing completes quietly; a tick while the window waits for the workers
    // may be the one that sees the last of them end.
    if (RunningCount == 0) Complete(!Closing);
  });
}

TPositions TForm1::Positions() const {
  static_assert(WorkerSlots <= ProjectSlots);
  TPositions positions;
  for (int i = 0; CurrentTask && i < CurrentTask->Params.ThreadCount; ++i) {
    const auto& worker = DownThreads[static_cast<std::size_t>(i)];
    if (!worker) continue;
    const auto [x, y] = worker->LastPosition();
    positions[static_cast<std::size_t>(i)] = {x, y};
  }
  return positions;
}

void TForm1::SavePositions(const TPositions& positions) {
  if (!AnyPosition(positions)) return;
  // The tiles the positions pass are on the disk first: a resume skips them,
  // so after a power cut it must find them whole, not empty.
  FlushFileSystem(CurrentTask->TileFolder);
  WriteProjectPositions(CurrentTask->ProjectPath(), positions);
}

void TForm1::WorkerFinished(int) {
  if (--RunningCount != 0) return;
  Toolkit.Post([this] {
    if (Destroying) return;
    RunHandler(Toolkit, [this] {
      if (RunningCount == 0) Complete(!Closing);
    });
  });
}

void TForm1::SaveProgress() {
  if (!CurrentTask) return;
  // The positions are read first and stored last. A worker hands over a tile's
  // record before it moves its position, so running the queue after reading
  // them brings every record of a tile they have passed into the memos, and
  // the memos' save into the files.
  const auto positions = Positions();
  Toolkit.MainThread().RunHandedOver();
  Memo1.SaveToFile(CurrentTask->LogPath);
  Memo2.SaveToFile(CurrentTask->FailedPath);
  SavePositions(positions);
}

void TForm1::Complete(bool showMessage) {
  if (!Running()) return;  // a task completes once
  EnableTimer(false);
  Memo1.Add("");
  Memo1.Add(std::string(32, '-'));
  Memo1.Add("Task Stoped!");
  Memo1.Add("");
  Memo1.Add("Now time:" + NowText());
  Memo1.Add("");
  Memo1.Add("Log file has been saved as " + (CurrentTask ? CurrentTask->LogPath : std::string()));

  // A write that fails must not keep the window in the running state: finish
  // every step, then report the first failure.
  std::string failure;
  auto attempt = [&failure](const std::function<void()>& step) {
    try {
      step();
    } catch (const std::exception& e) {
      if (failure.empty()) failure = e.what();
    }
  };
  if (CurrentTask) {
    attempt([this] { Memo1.SaveToFile(CurrentTask->LogPath); });
    attempt([this] { Memo2.SaveToFile(CurrentTask->FailedPath); });
    // Positions past records that could not be saved would lose those records.
    if (failure.empty()) attempt([this] { SavePositions(Positions()); });
    for (int i = 0; i < CurrentTask->Params.ThreadCount; ++i) DownThreads[static_cast<std::size_t>(i)].reset();
    Flusher.reset();
    // With every worker gone, the tiles' temporary folder holds nothing of use.
    EmptyTemporaryFolder(CurrentTask->TemporaryFolder);
  }
  Downloading = false;
  ShowButtonCaption();
  if (!failure.empty()) Toolkit.ShowError(failure);
  if (showMessage) Toolkit.ShowMessage(MainFormText::TaskStopped);
}

void TForm1::FormCloseQuery() {
  RunHandler(Toolkit, [this] {
    // A check goes first: nothing of it is kept.
    Check.Close();
    if (!Running()) return;
    Closing = true;
    Stop();
    while (Running() && RunningCount > 0) Toolkit.ProcessPendingEvents();
    Complete(false);
  });
}

void TForm1::Button1Click() {
  RunHandler(Toolkit, [this] {
    if (const auto folder = Toolkit.PickFolder("Select path to save", Edit6.Text)) Edit6.Text = *folder;
  });
}

void TForm1::Viewlogfile1Click() {
  RunHandler(Toolkit, [this] {
    if (!CurrentTask) return Toolkit.ShowMessage(MainFormText::NoTask);
    std::error_code ec;
    if (fs::exists(CurrentTask->LogPath, ec)) return Toolkit.ShellOpen(CurrentTask->LogPath);
    Toolkit.ShowMessage(MainFormText::NoLogFile);
  });
}

void TForm1::LoadParametersfromprojectfilel1Click() {
  RunHandler(Toolkit, [this] {
    const auto chosen =
        Toolkit.OpenFile("Open project file:", "Projects(*.mrd)|*.mrd", Edit6.Text.empty() ? DefaultPath : Edit6.Text);
    if (!chosen) return;
    const TProjectReader project = TProjectReader::Open(*chosen);
    if (!Environment.RecentTasks.empty()) RememberTask(*chosen, Environment.RecentTasks);
    Edit1.Text = project.Text(TProjectValue::LeftLongitude);
    Edit3.Text = project.Text(TProjectValue::RightLongitude);
    Edit2.Text = project.Text(TProjectValue::TopLatitude);
    Edit4.Text = project.Text(TProjectValue::BottomLatitude);
    Edit10.Text = std::to_string(project.Integer(TProjectValue::ThreadCount, DefaultThreadCount));
    Edit6.Text = FolderPart(*chosen);
    EditTaskName.Text = NamePart(*chosen);
    int mapsType = project.Integer(TProjectValue::MapsType, 1);
    // A map type the list does not have opens as the satellite maps.
    if (mapsType < 0 || mapsType >= ListedMapTypes) mapsType = SatelliteMapType;
    comboMapsType.ItemIndex = mapsType;
    comboMapsTypeChange();
    TrackBar1.SetPosition(project.Integer(TProjectValue::Zoom, 0));
    RequestChanged();
  });
}

}  // namespace meridane
