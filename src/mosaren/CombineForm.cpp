#include "mosaren/CombineForm.h"

#include <algorithm>
#include <exception>

#include "config/Config.h"
#include "config/RecentTasks.h"
#include "download/Thread.h"
#include "geo/Convert.h"

namespace meridane {

namespace fs = std::filesystem;

// One run of the combiner, off the window's thread. Everything it tells the
// window goes through the main thread's queue, in order.
class TCombineThread : public TThread {
 public:
  TCombineThread(IMainThread& mainThread, TCombineForm& form, TCombineInputs inputs, TCombineRun run)
      : TThread(mainThread), Form(form), Inputs(std::move(inputs)), Run(std::move(run)) {}

 protected:
  void Execute() override {
    Run.OnProgress = [this](const TCombineProgress& p) { HandOver([this, p] { Form.ShowProgress(p); }); };
    Run.Stop = [this] { return Terminated(); };
    try {
      const TCombineSummary summary = Combine(OpenCombineInputs(Inputs, {}, Run.ProgramFolder), Run);
      HandOver([this, summary] { Form.Finish(&summary, {}); });
    } catch (const std::exception& e) {
      HandOver([this, error = std::string(e.what())] { Form.Finish(nullptr, error); });
    }
  }

 private:
  TCombineForm& Form;
  TCombineInputs Inputs;
  TCombineRun Run;
};

TCombineForm::TCombineForm(IToolkit& toolkit, TCombineEnvironment environment)
    : Toolkit(toolkit), Environment(std::move(environment)) {
  if (Environment.ProgramFolder.empty()) Environment.ProgramFolder = ProgramFolder();
  for (const TOutputFormat format : OutputFormats)
    Format.Items.push_back(std::string(FormatName(format)) + " (" + std::string(FormatExtension(format)) + ")");
  Format.ItemIndex = 0;
  Quality.Text = std::to_string(TCombineOptions{}.Quality);
  // Started empty, the window offers the task the user worked on last.
  if (const auto recent = RecentTasks(); !recent.empty()) OpenRecent(recent.front());
}

std::vector<fs::path> TCombineForm::RecentTasks() const {
  return Environment.RecentTasks.empty() ? std::vector<fs::path>() : ReadRecentTasks(Environment.RecentTasks);
}

void TCombineForm::OpenRecent(const fs::path& project) {
  if (Running()) return;
  Inputs.Items.clear();
  OutputPath.Text.clear();
  AddInput(project.string());
}

std::string TCombineForm::HelpPath() const { return (Environment.ProgramFolder / "help" / "index.html").string(); }

std::string TCombineForm::DownloadFolder() const {
  try {
    return TConfig(TConfigSource({}, Environment.ProgramFolder).Read()).ReadMainWindow().DefaultPath;
  } catch (const std::exception&) {
    return {};  // a configuration that cannot be read leaves the dialog where the toolkit starts it
  }
}

void TCombineForm::InputChange() { ClearResult(); }

void TCombineForm::ClearResult() {
  if (Running()) return;
  Finished.clear();
  Summary.Caption.clear();
  Status.Caption.clear();
  Progress = {};
}

bool TCombineForm::CloseQuery() {
  if (!Running()) return true;
  if (!Toolkit.Ask(StopAndClose)) return false;
  StopWorker();
  return true;
}

TCombineForm::~TCombineForm() { StopWorker(); }

void TCombineForm::StopWorker() {
  if (!Worker) return;
  Worker->Terminate();
  Worker->WaitFor();
  // Its last calls still point at this window: run them while it is here,
  // quietly, as the window is going.
  Closing = true;
  Toolkit.MainThread().RunHandedOver();
  Worker.reset();
}

TOutputFormat TCombineForm::SelectedFormat() const {
  const int index = std::clamp(Format.ItemIndex, 0, static_cast<int>(std::size(OutputFormats)) - 1);
  return OutputFormats[index];
}

void TCombineForm::AddInput(const std::string& path, bool propose) {
  if (path.empty()) return;
  const auto at = std::find(Inputs.Items.begin(), Inputs.Items.end(), path);
  if (at == Inputs.Items.end()) Inputs.Items.push_back(path);
  Inputs.ItemIndex = static_cast<int>(std::find(Inputs.Items.begin(), Inputs.Items.end(), path) - Inputs.Items.begin());
  if (propose && Inputs.Items.size() == 1) ProposeOutput();
  InputChange();
}

void TCombineForm::AddInputClick() {
  AddInput(InputPath.Text);
  InputPath.Text.clear();
}

void TCombineForm::AddFileClick() {
  const std::string from = Inputs.Items.empty() ? DownloadFolder() : fs::path(Inputs.Items.back()).parent_path().string();
  if (const auto chosen = Toolkit.OpenFile(
          "Add a project file or an archive:", "Maps(*.mrd *.mbtiles *.pmtiles)|*.mrd *.mbtiles *.pmtiles", from))
    AddInput(*chosen);
}

void TCombineForm::AddFolderClick() {
  const std::string from = Inputs.Items.empty() ? DownloadFolder() : Inputs.Items.back();
  if (const auto chosen = Toolkit.PickFolder("Tile folder:", from)) AddInput(*chosen);
}

void TCombineForm::RemoveInputClick() {
  if (Inputs.ItemIndex < 0 || Inputs.ItemIndex >= static_cast<int>(Inputs.Items.size())) return;
  Inputs.Items.erase(Inputs.Items.begin() + Inputs.ItemIndex);
  Inputs.ItemIndex = std::min(Inputs.ItemIndex, static_cast<int>(Inputs.Items.size()) - 1);
  InputChange();
}

// Beside the input, under its name: "maps/newtask.mrd" and "maps/newtask/" give "maps/newtask.mbtiles".
void TCombineForm::ProposeOutput() {
  if (!OutputPath.Text.empty() || Inputs.Items.empty()) return;
  fs::path input(Inputs.Items.front());
  if (!input.has_filename()) input = input.parent_path();
  OutputPath.Text = (input.parent_path() / input.stem()).string() + std::string(FormatExtension(SelectedFormat()));
}

void TCombineForm::FormatChange() {
  if (OutputPath.Text.empty()) return ProposeOutput();
  OutputPath.Text = fs::path(OutputPath.Text).replace_extension(FormatExtension(SelectedFormat())).string();
}

void TCombineForm::BrowseOutputClick() {
  const std::string extension(FormatExtension(SelectedFormat()));
  const std::string filter = std::string(FormatName(SelectedFormat())) + "(*" + extension + ")|*" + extension;
  const auto chosen = Toolkit.SaveFile("Save output as:", filter, fs::path(OutputPath.Text).parent_path().string());
  if (!chosen) return;
  OutputPath.Text = *chosen;
  FormatChange();
}

void TCombineForm::StartClick() {
  if (Running()) return;
  // A path typed and not added yet is meant too; the output is the user's to choose.
  AddInput(InputPath.Text, false);
  InputPath.Text.clear();
  if (Inputs.Items.empty()) return Toolkit.ShowMessage(ChooseInput);
  if (OutputPath.Text.empty()) return Toolkit.ShowMessage(ChooseOutput);
  TCombineInputs inputs{
      .Paths = {Inputs.Items.begin(), Inputs.Items.end()}, .Zoom = std::nullopt, .FromSouth = Tms.Checked};
  if (!Zoom.Text.empty()) {
    const auto zoom = ParseWholeNumber(Zoom.Text);
    if (!zoom || *zoom < 0 || *zoom > 30) return Toolkit.ShowMessage(EnterZoom);
    inputs.Zoom = zoom;
  }
  const TOutputFormat format = SelectedFormat();
  TCombineOptions options{.Quality = TCombineOptions{}.Quality, .Name = {}, .Description = {}, .MinZoom = {}};
  if (UsesJpegQuality(format)) {
    const auto quality = ParseWholeNumber(Quality.Text);
    if (!quality || *quality < 1 || *quality > 100) return Toolkit.ShowMessage(EnterQuality);
    options.Quality = *quality;
  }
  if (StoresName(format)) {
    options.Name = ArchiveName.Text;
    options.Description = Description.Text;
    if (!LowestZoom.Text.empty()) {
      const auto lowest = ParseWholeNumber(LowestZoom.Text);
      if (!lowest || *lowest < 0 || *lowest > 30) return Toolkit.ShowMessage(EnterLowestZoom);
      options.MinZoom = lowest;
    }
  }
  if (OutputFormatOf(OutputPath.Text) != format) FormatChange();
  // Refused before the question about replacing: no answer makes it right.
  for (const std::string& input : Inputs.Items)
    if (const auto refusal = OutputRefusal(input, OutputPath.Text)) return Toolkit.ShowMessage(*refusal);
  std::error_code ec;
  if (fs::exists(OutputPath.Text, ec) && !Toolkit.Ask(OutputPath.Text + " exists. Replace it?")) return;

  Finished.clear();
  Summary.Caption.clear();
  Progress = {};
  Status.Caption = "Reading the input...";
  TCombineRun run{.Output = OutputPath.Text,
                  .Options = options,
                  .ProgramFolder = Environment.ProgramFolder,
                  .OnProgress = {},
                  .Stop = {},
                  .MakeSink = Environment.MakeSink};
  Worker = std::make_unique<TCombineThread>(Toolkit.MainThread(), *this, std::move(inputs), std::move(run));
  Worker->Start();
}

void TCombineForm::CancelClick() {
  if (Worker) Worker->Terminate();
}

void TCombineForm::OpenFolderClick() {
  if (!Done()) return;
  const fs::path folder = fs::absolute(Finished).parent_path();
  Toolkit.ShellOpen(folder.string());
}

void TCombineForm::ShowProgress(const TCombineProgress& progress) {
  Progress = progress;
  Status.Caption = ProgressLine(progress);
}

void TCombineForm::Finish(const TCombineSummary* summary, const std::string& error) {
  if (Closing) return;
  Worker->WaitFor();
  Worker.reset();
  if (!summary) {
    Status.Caption.clear();
    Summary.Caption = "Not written: " + error;
    return Toolkit.ShowMessage(error);
  }
  Progress = {.Done = summary->Fed(), .Total = summary->Tiles, .Seconds = summary->Seconds};
  // A stopped run's rate and time left are of nothing that goes on.
  if (summary->Stopped) Progress = {};
  Status.Caption = summary->Stopped ? std::string() : ProgressLine(Progress);
  Summary.Caption = (summary->Stopped || summary->Note.empty() ? "" : summary->Note + "\n") + SummaryText(*summary, OutputPath.Text);
  if (!summary->Stopped) Finished = OutputPath.Text;
}

}  // namespace meridane
