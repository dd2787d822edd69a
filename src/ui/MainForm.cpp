#include "ui/MainForm.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "config/Config.h"
#include "config/IniFile.h"
#include "geo/Convert.h"
#include "task/MapTypes.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

constexpr char Separator = static_cast<char>(fs::path::preferred_separator);

// The folder part of a path with its separator, and the name after it.
std::string FolderPart(const std::string& path) { return path.substr(0, path.find_last_of(Separator) + 1); }
std::string NamePart(const std::string& path) { return path.substr(path.find_last_of(Separator) + 1); }

// The thread count Start stores for a request: a count above the tile count is
// lowered to it. The resume compares this, not the field's text, so that an
// unchanged request resumes even when the field holds more than Start runs.
int StoredThreadCount(const TTaskParams& request, int threadCount) {
  try {
    return std::min(threadCount, ComputeTileRange(request).TotalCount);
  } catch (const ETaskBuildError&) {
    return threadCount;  // building the task fails the same way and reports it
  }
}

}  // namespace

bool ProjectHoldsRequest(const TIniFile& project, const TStoredRequest& request) {
  return project.ReadInteger("MapsType", "MapsType", 100) == request.MapsType &&
         project.ReadString("AREA", "LeftLongitude", "") == request.Left &&
         project.ReadString("AREA", "RightLongitude", "") == request.Right &&
         project.ReadString("AREA", "TopLatitude", "") == request.Top &&
         project.ReadString("AREA", "BottomLatitude", "") == request.Bottom &&
         project.ReadInteger("Zoom", "Zoom", 100) == request.Zoom &&
         project.ReadInteger("THREADS", "ThreadCount", 0) == request.ThreadCount;
}

std::optional<double> ParseCoordinate(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i > start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t mantissa = i;
  bool any = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    any = digits() || any;
  }
  if (!any) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data() + mantissa, text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  // A number beyond a double's range is still a number: one too small is 0, one
  // too large is infinite, which the range checks then refuse.
  if (ec == std::errc::result_out_of_range)
    value = LeadingExponent(text.substr(mantissa)) < 0 ? 0.0 : std::numeric_limits<double>::infinity();
  else if (ec != std::errc())
    return std::nullopt;
  return text.front() == '-' ? -value : value;
}

TForm1::TForm1(IToolkit& toolkit, TMainFormEnvironment environment)
    : Toolkit(toolkit), Environment(std::move(environment)) {
  TrackBar1.OnChange = [this] { TrackBar1Change(); };
}

TForm1::~TForm1() {
  Destroying = true;
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
    HelpPath = (Folder / "help" / "help.chm").string();
    comboMapsType.Items.clear();
    for (const TMapKind& kind : MapsTypeList) comboMapsType.Items.emplace_back(kind.Name);
    const TMainWindowConfig config = TConfig(ConfigPath).ReadMainWindow();
    DefaultPath = config.DefaultPath;
    DefaultThreadCount = config.DefaultThreadCount;
    Caption = "Meridane " + config.Version;
    Edit6.Text = DefaultPath;
    UpDown2.Max = WorkerSlots;
    Edit10.Text = std::to_string(DefaultThreadCount);
    comboMapsType.ItemIndex = 1;
    comboMapsTypeChange();
  });
}

void TForm1::comboMapsTypeChange() {
  const int m = comboMapsType.ItemIndex;
  if (m < 0 || m >= static_cast<int>(MapsTypeList.size())) return;
  const TMapKind& kind = MapsTypeList[static_cast<std::size_t>(m)];
  TrackBar1.SetMax(kind.ZoomMax);
  TrackBar1.SetMin(kind.ZoomMin);
  TrackBar1.SetPosition(kind.ZoomOnSelect);
}

void TForm1::TrackBar1Change() {
  Label8.Caption = std::to_string(TrackBar1.Position());
  TrackBar1.Hint = Label8.Caption;
}

void TForm1::BitBtn1Click() {
  RunHandler(Toolkit, [this] {
    if (BitBtn1.Caption == "Start")
      Start();
    else
      Stop();
  });
}

std::unique_ptr<TTaskParams> TForm1::ReadRequest(bool createFolder) {
  auto refuse = [this](const std::string& message) {
    Toolkit.ShowMessage(message);
    return std::unique_ptr<TTaskParams>();
  };
  const std::string folderText = Edit6.Text;
  if (folderText.empty()) return refuse(MainFormText::NoPath);
  std::error_code ec;
  if (createFolder && !fs::is_directory(folderText, ec) && !fs::create_directory(folderText, ec))
    return refuse("Create directory " + folderText + " Failed.");

  const auto left = ParseCoordinate(Edit1.Text), right = ParseCoordinate(Edit3.Text);
  const auto top = ParseCoordinate(Edit2.Text), bottom = ParseCoordinate(Edit4.Text);
  if (!left || !right || !top || !bottom) return refuse(MainFormText::InputError);
  if (*left < -180 || *left > 180) return refuse(MainFormText::LeftRange);
  if (*right < -180 || *right > 180) return refuse(MainFormText::RightRange);
  if (*top < -90 || *top > 90) return refuse(MainFormText::TopRange);
  if (*bottom < -90 || *bottom > 90) return refuse(MainFormText::BottomRange);
  if (*left > *right) return refuse(MainFormText::LeftRight);
  if (*top < *bottom) return refuse(MainFormText::BottomTop);

  auto params = std::make_unique<TTaskParams>();
  params->LeftLongitude = *left;
  params->RightLongitude = *right;
  params->TopLatitude = *top;
  params->BottomLatitude = *bottom;
  params->Zoom = TrackBar1.Position();
  params->MapsType = SatelliteMapType;
  params->Folder = folderText;
  if (params->Folder.back() != Separator) params->Folder += Separator;
  return params;
}

void TForm1::Start() {
  ConfigPath = TConfigSource(Environment.ConfigPath, Folder).Read().string();
  const TStartConfig config = TConfig(ConfigPath).ReadStart();
  std::unique_ptr<TTaskParams> params = ReadRequest(true);
  if (!params) return;
  const std::string folder = params->Folder;
  const int zoom = params->Zoom;
  bool resume = false;
  std::error_code ec;

  RunningCount = 0;
  // Eight worker slots and eight stored positions: never more workers, never none.
  const int threadCount = std::clamp(ParseWholeNumber(Edit10.Text).value_or(1), 1, WorkerSlots);
  std::string taskName = EditTaskName.Text;
  if (FileExtension(taskName) != ".mrd") taskName += ".mrd";

  const std::string project = folder + taskName;
  if (fs::exists(project, ec)) {
    const TStoredRequest request{.Left = Edit1.Text,
                                 .Right = Edit3.Text,
                                 .Top = Edit2.Text,
                                 .Bottom = Edit4.Text,
                                 .Zoom = zoom,
                                 .ThreadCount = StoredThreadCount(*params, threadCount),
                                 .MapsType = comboMapsType.ItemIndex};
    resume = ProjectHoldsRequest(TIniFile(project), request) && FolderPart(project) == folder &&
             NamePart(project) == EditTaskName.Text;
  }

  params->ThreadCount = threadCount;
  params->SlotCount = WorkerSlots;
  params->TaskName = taskName;
  ApplyStartConfig(*params, config);
  params->Resume = resume;

  std::unique_ptr<TDownloadTask> task;
  try {
    task = std::make_unique<TDownloadTask>(*params);
  } catch (const std::exception& e) {
    if (dynamic_cast<const ETaskBuildError*>(&e) && *e.what()) Toolkit.ShowMessage(e.what());
    return Toolkit.ShowMessage(CreateTaskFailureMessage);
  }
  CurrentTask = std::make_unique<TCurrentTask>(TCurrentTask{std::move(params), std::move(task)});
  TTaskParams& p = *CurrentTask->Params;
  const TDownloadTask& t = *CurrentTask->Task;
  if (t.TotalCount < p.ThreadCount) p.ThreadCount = t.TotalCount;

  t.RemoveLeftovers();
  // The project file last: a task is resumed only once all its files exist, so a
  // kill or a full disk while they are written leaves a task that starts afresh.
  t.WriteImageList();
  t.WriteLogHeader();
  t.CreateFailedList();
  t.WriteProjectFile();
  Memo1.LoadFromFile(t.LogPath);
  Memo2.LoadFromFile(t.FailedPath);
  LabelTotalxy.Caption = "Total images: " + std::to_string(t.TotalCount);
  BitBtn1.Caption = "Stop";
  for (int i = 0; i < p.ThreadCount; ++i) {
    TWorkerContext context{&Toolkit.MainThread(), this, Environment.Sleeper ? Environment.Sleeper : &RealSleeper,
                           Environment.MakeClient, Folder};
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
  for (int i = 0; i < CurrentTask->Params->ThreadCount; ++i) {
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

std::vector<std::pair<std::string, std::string>> TForm1::Positions() const {
  std::vector<std::pair<std::string, std::string>> keys;
  for (int i = 0; CurrentTask && i < CurrentTask->Params->ThreadCount; ++i) {
    const auto& worker = DownThreads[static_cast<std::size_t>(i)];
    if (!worker) continue;
    const auto [x, y] = worker->LastPosition();
    const std::string n = std::to_string(i + 1);
    // A position of 0 leaves the key as it was.
    if (x > 0) keys.emplace_back("T" + n + "X", std::to_string(x));
    if (y > 0) keys.emplace_back("T" + n + "Y", std::to_string(y));
  }
  return keys;
}

void TForm1::SavePositions(const std::vector<std::pair<std::string, std::string>>& positions) {
  // One replacement of the project file: a crash never pairs a new X with an old Y.
  if (!positions.empty()) TIniFile(CurrentTask->Task->ProjectPath()).WriteStrings("THREADS", positions);
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
  Memo1.SaveToFile(CurrentTask->Task->LogPath);
  Memo2.SaveToFile(CurrentTask->Task->FailedPath);
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
  Memo1.Add("Log file has been saved as " + (CurrentTask ? CurrentTask->Task->LogPath : std::string()));

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
    attempt([this] { Memo1.SaveToFile(CurrentTask->Task->LogPath); });
    attempt([this] { Memo2.SaveToFile(CurrentTask->Task->FailedPath); });
    // Positions past records that could not be saved would lose those records.
    if (failure.empty()) attempt([this] { SavePositions(Positions()); });
    for (int i = 0; i < CurrentTask->Params->ThreadCount; ++i) DownThreads[static_cast<std::size_t>(i)].reset();
  }
  BitBtn1.Caption = "Start";
  if (!failure.empty()) Toolkit.ShowError(failure);
  if (showMessage) Toolkit.ShowMessage(MainFormText::TaskStopped);
}

void TForm1::FormCloseQuery() {
  RunHandler(Toolkit, [this] {
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
    if (fs::exists(CurrentTask->Task->LogPath, ec)) return Toolkit.ShellOpen(CurrentTask->Task->LogPath);
    Toolkit.ShowMessage(MainFormText::NoLogFile);
  });
}

void TForm1::LoadParametersfromprojectfilel1Click() {
  RunHandler(Toolkit, [this] {
    const auto chosen = Toolkit.OpenFile("Open project file:", "Projects(*.mrd)|*.mrd", DefaultPath);
    if (!chosen) return;
    const TIniFile ini(*chosen);
    Edit1.Text = ini.ReadString("AREA", "LeftLongitude", "");
    Edit3.Text = ini.ReadString("AREA", "RightLongitude", "");
    Edit2.Text = ini.ReadString("AREA", "TopLatitude", "");
    Edit4.Text = ini.ReadString("AREA", "BottomLatitude", "");
    Edit10.Text = std::to_string(ini.ReadInteger("THREADS", "ThreadCount", DefaultThreadCount));
    Edit6.Text = FolderPart(*chosen);
    EditTaskName.Text = NamePart(*chosen);
    int mapsType = ini.ReadInteger("MapsType", "MapsType", 1);
    // A map type the list does not have opens as the satellite maps.
    if (mapsType < 0 || mapsType >= static_cast<int>(MapsTypeList.size())) mapsType = SatelliteMapType;
    comboMapsType.ItemIndex = mapsType;
    comboMapsTypeChange();
    TrackBar1.SetPosition(ini.ReadInteger("Zoom", "Zoom", 0));
  });
}

}  // namespace meridane
