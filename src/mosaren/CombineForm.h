#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "combine/Combine.h"
#include "mosaren/Console.h"
#include "ui/Controls.h"
#include "ui/Toolkit.h"

namespace meridane {

class TCombineThread;

// The map combiner's window, toolkit-free: the inputs (project files, tile
// folders, archives, added to a list and removed from it), the zoom when only
// one is wanted, the output's format and file, the format's options, Start
// and Cancel, the progress and the summary. The work runs on a thread of its
// own; its progress and end reach this logic through the toolkit's main
// thread, and the toolkit shows the controls again after them.
class TCombineForm : public IForm {
 public:
  static constexpr const char* ChooseInput = "Add a project file, a tile folder or an archive first.";
  static constexpr const char* ChooseOutput = "Choose the output file first.";
  static constexpr const char* EnterZoom = "Enter the zoom level of the tiles, 0 to 30, or leave it empty.";
  static constexpr const char* EnterQuality = "Enter a JPEG quality of 1 to 100.";
  static constexpr const char* EnterLowestZoom =
      "Enter the lowest zoom of the archive, 0 to 30, or nothing for the zoom where the whole area fits in one tile.";

  TCombineForm(IToolkit& toolkit, TCombineEnvironment environment);
  ~TCombineForm() override;
  TCombineForm(const TCombineForm&) = delete;
  TCombineForm& operator=(const TCombineForm&) = delete;
  const char* FormName() const override { return "frmCombine"; }

  // The inputs in their order (the earlier wins where they overlap), the
  // selected one the one Remove takes.
  TComboBox Inputs;
  // A path typed to be added; Start adds it too.
  TEdit InputPath;
  // Empty: every zoom found.
  TEdit Zoom;
  TCheckBox Tms{"Rows of Z/X/Y folders from the south (TMS)"};
  // Items in the order of OutputFormats.
  TComboBox Format;
  TEdit OutputPath, Quality, ArchiveName, Description;
  TEdit LowestZoom;  // an archive's; empty: down to the zoom where the whole area fits in one tile
  TLabel Status, Summary;
  TButton Start{"&Start"}, Cancel{"&Cancel"}, OpenFolder{"O&pen folder"};
  static constexpr const char* StopAndClose = "The map is not written yet. Stop it and close?";

  TOutputFormat SelectedFormat() const;
  bool Running() const { return Worker != nullptr; }
  // Whether the finished output can be shown in its folder.
  bool Done() const { return !Finished.empty(); }
  long long ProgressDone() const { return Progress.Done; }
  long long ProgressTotal() const { return Progress.Total; }

  // Adds the typed path, a project file or archive chosen, or a folder chosen.
  void AddInputClick();
  void AddFileClick();
  void AddFolderClick();
  void RemoveInputClick();
  // The inputs changed: the last run's result is of other inputs.
  void InputChange();
  // The main window's recent tasks, newest first, and one chosen as the input.
  std::vector<std::filesystem::path> RecentTasks() const;
  void OpenRecent(const std::filesystem::path& project);
  std::string HelpPath() const;
  // Whether the window may close: a run is stopped first, if the user agrees.
  bool CloseQuery();
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
  // propose: the first input proposes the output's name beside it.
  void AddInput(const std::string& path, bool propose = true);
  void ProposeOutput();
  void StopWorker();
  void ClearResult();
  // Where the file dialogs start when no path is given: the download folder.
  std::string DownloadFolder() const;

  IToolkit& Toolkit;
  TCombineEnvironment Environment;
  TCombineProgress Progress;
  std::filesystem::path Finished;  // the output of the last run that completed
  std::unique_ptr<TCombineThread> Worker;
  bool Closing = false;
};

}  // namespace meridane
