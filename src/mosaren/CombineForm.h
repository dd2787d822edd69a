#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "combine/Combine.h"
#include "mosaren/Console.h"
#include "ui/Controls.h"
#include "ui/Toolkit.h"

namespace meridane {

class TCombineThread;

// The map combiner's window, toolkit-free: the input (a project file or a tile
// folder with its zoom), the output's format and file, the format's options,
// Start and Cancel, the progress and the summary. The work runs on a thread of
// its own; its progress and end reach this logic through the toolkit's main
// thread, and the toolkit shows the controls again after them.
class TCombineForm : public IForm {
 public:
  static constexpr const char* ChooseInput = "Choose the project file or the tile folder first.";
  static constexpr const char* ChooseOutput = "Choose the output file first.";
  static constexpr const char* EnterZoom = "Enter the zoom level of the tiles, 0 to 30.";
  static constexpr const char* EnterQuality = "Enter a JPEG quality of 1 to 100.";
  static constexpr const char* EnterLowestZoom =
      "Enter the lowest zoom of the archive, 0 to 30, or nothing for the zoom where the whole area fits in one tile.";

  TCombineForm(IToolkit& toolkit, TCombineEnvironment environment);
  ~TCombineForm() override;
  TCombineForm(const TCombineForm&) = delete;
  TCombineForm& operator=(const TCombineForm&) = delete;
  const char* FormName() const override { return "frmCombine"; }

  // Item 0: a project file; item 1: a tile folder.
  TComboBox InputKind;
  TEdit InputPath, Zoom;
  // Items in the order of OutputFormats.
  TComboBox Format;
  TEdit OutputPath, Quality, ArchiveName, Description;
  TEdit LowestZoom;  // an archive's; empty: down to the zoom where the whole area fits in one tile
  TLabel Status, Summary;
  TButton Start{"Start"}, Cancel{"Cancel"}, OpenFolder{"Open folder"};

  bool FolderInput() const { return InputKind.ItemIndex == 1; }
  TOutputFormat SelectedFormat() const;
  bool Running() const { return Worker != nullptr; }
  // Whether the finished output can be shown in its folder.
  bool Done() const { return !Finished.empty(); }
  long long ProgressDone() const { return Progress.Done; }
  long long ProgressTotal() const { return Progress.Total; }

  void InputKindChange();
  void BrowseInputClick();
  // The output's name follows the format.
  void FormatChange();
  void BrowseOutputClick();
  void StartClick();
  void CancelClick();
  void OpenFolderClick();

 private:
  friend class TCombineThread;
  void ShowProgress(const TCombineProgress& progress);
  void Finish(const TCombineSummary* summary, const std::string& error);
  void ProposeOutput();
  void StopWorker();

  IToolkit& Toolkit;
  TCombineEnvironment Environment;
  TCombineProgress Progress;
  std::filesystem::path Finished;  // the output of the last run that completed
  std::unique_ptr<TCombineThread> Worker;
  bool Closing = false;
};

}  // namespace meridane
