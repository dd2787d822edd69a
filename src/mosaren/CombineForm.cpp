#include "mosaren/CombineForm.h"

#include "config/Config.h"
#include "download/Thread.h"
#include "geo/Convert.h"

namespace meridane {

namespace fs = std::filesystem;

// One run of the combiner, off the window's thread. Everything it tells the
// window goes through the main thread's queue, in order.
class TCombineThread : public TThread {
 public:
  TCombineThread(IMainThread& mainThread, TCombineForm& form, TCombineInput input, TCombineRun run)
      : TThread(mainThread), Form(form), Input(std::move(input)), Run(std::move(run)) {}

 protected:
  void Execute() override {
    Run.OnProgress = [this](const TCombineProgress& p) { HandOver([this, p] { Form.ShowProgress(p); }); };
    Run.Stop = [this] { return Terminated(); };
    try {
      const TTileSource source = OpenInput(Input, {}, Run.ProgramFolder);
      const TCombineSummary summary = Combine(source, Run);
      HandOver([this, summary] { Form.Finish(&summary, {}); });
    } catch (const std::exception& e) {
      HandOver([this, error = std::string(e.what())] { Form.Finish(nullptr, error); });
    }
  }

 private:
  TCombineForm& Form;
  TCombineInput Input;
  TCombineRun Run;
};

TCombineForm::TCombineForm(IToolkit& toolkit, TCombineEnvironment environment)
    : Toolkit(toolkit), Environment(std::move(environment)) {
  if (Environment.ProgramFolder.empty()) Environment.ProgramFolder = ProgramFolder();
  InputKind.Items = {"Project file (.mrd)", "Tile folder"};
  InputKind.ItemIndex = 0;
  for (const TOutputFormat format : OutputFormats)
    Format.Items.push_back(std::string(FormatName(format)) + " (" + std::string(FormatExtension(format)) + ")");
  Format.ItemIndex = 0;
  Quality.Text = std::to_string(TCombineOptions{}.Quality);
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

void TCombineForm::InputKindChange() { InputPath.Text.clear(); }

void TCombineForm::BrowseInputClick() {
  const std::string from = InputPath.Text.empty() ? std::string() : fs::path(InputPath.Text).parent_path().string();
  const auto chosen = FolderInput() ? Toolkit.PickFolder("Tile folder:", InputPath.Text)
                                    : Toolkit.OpenFile("Open project file:", "Projects(*.mrd)|*.mrd", from);
  if (!chosen) return;
  InputPath.Text = *chosen;
  ProposeOutput();
}

// Beside the input, under its name: "maps/newtask.mrd" and "maps/newtask/" give "maps/newtask.mbtiles".
void TCombineForm::ProposeOutput() {
  if (!OutputPath.Text.empty() || InputPath.Text.empty()) return;
  fs::path input(InputPath.Text);
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
  if (InputPath.Text.empty()) return Toolkit.ShowMessage(ChooseInput);
  if (OutputPath.Text.empty()) return Toolkit.ShowMessage(ChooseOutput);
  TCombineInput input{.Path = InputPath.Text, .Zoom = std::nullopt};
  if (FolderInput()) {
    const auto zoom = ParseWholeNumber(Zoom.Text);
    if (!zoom || *zoom < 0 || *zoom > 30) return Toolkit.ShowMessage(EnterZoom);
    input.Zoom = zoom;
  }
  const TOutputFormat format = SelectedFormat();
  TCombineOptions options{.Quality = TCombineOptions{}.Quality, .Name = {}, .Description = {}, .MinZoom = {}};
  if (UsesJpegQuality(format)) {
    const auto quality = ParseWholeNumber(Quality.Text);
    if (!quality || *quality < 1 || *quality > 100) return Toolkit.ShowMessage(EnterQuality);
    options.Quality = *quality;
  }
  if (IsArchive(format)) {
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
  if (const auto refusal = OutputRefusal(InputPath.Text, OutputPath.Text)) return Toolkit.ShowMessage(*refusal);
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
  Worker = std::make_unique<TCombineThread>(Toolkit.MainThread(), *this, std::move(input), std::move(run));
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
  Status.Caption = ProgressLine(Progress);
  Summary.Caption = SummaryText(*summary, OutputPath.Text);
  if (!summary->Stopped) Finished = OutputPath.Text;
}

}  // namespace meridane
