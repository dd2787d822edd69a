#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/Config.h"
#include "download/DownThread.h"
#include "ui/Controls.h"
#include "ui/Memo.h"
#include "ui/Toolkit.h"

namespace meridane {

// The failed-tile re-download dialog's logic: fetches again, one after another
// on a worker thread, every tile of a failed-tile list, with a transcript. The
// lines reach the transcript through the main thread's queue, so the window
// stays live while a slow server answers. The list itself is only read.
class TfrmFlt : public IForm {
 public:
  static constexpr const char* EmptyList = "No failed files records.";
  static constexpr const char* StartLine = "Start...";
  static constexpr const char* EndLine = "Download End.";
  // Before the end line of a run that Stop ended: how many lines it left.
  static std::string StoppedLine(long long notTried);
  // The workers' text: the same server refusal reads the same everywhere.
  static constexpr const char* BannedLine = TDownThread::BannedMessage;
  // Why a line's file is not written (lists are shared, so a line may only
  // name what a download task writes); each is followed by the path or folder.
  static constexpr const char* NotAbsolutePath = "Not an absolute path: ";
  static constexpr const char* NotTileFile = "Not a tile file: ";
  static constexpr const char* NoSuchFolder = "No such folder: ";
  static constexpr const char* NotRegularFile = "Not a regular file: ";
  static constexpr const char* ParentInPath = "A \"..\" in the path: ";
  static constexpr const char* LinkInPath = "A folder of the path is a link: ";
  // The path itself is not shown: the byte would cut it short.
  static constexpr const char* NulInPath = "NUL byte in the file path";
  // Immediate repeats of one tile after a reset connection before it counts as failed.
  static constexpr int MaxResetRepeats = MaxImmediateRepeats;

  TfrmFlt(IToolkit& toolkit, TConfigSource config,
          std::function<std::unique_ptr<IHttpClient>()> makeClient = MakeCurlHttpClient);
  // A run still going is stopped and waited for; its last lines go nowhere.
  ~TfrmFlt() override;

  std::string Caption = "Re-Download failed files";
  TButton Button1{"Open *.ftl file and download..."};
  // There only while a run goes on.
  TButton Button2{"Stop"};
  TMemo Memo1;
  // Runs on the main thread after every transcript line, so the dialog can
  // repaint (or a console print it).
  std::function<void(const std::string&)> OnLine;
  // Runs on the main thread once a run has ended, before an error that ended it is shown.
  std::function<void()> OnEnd;

  const char* FormName() const override { return "frmFlt"; }
  void FormShow() override { Memo1.Clear(); }
  // Chooses a list and starts its run, which goes on after the handler returns.
  void Button1Click();
  // Stop: the transfer at hand is cut short and its file left as it was, then
  // the run ends as usual.
  void Button2Click();
  bool Running() const { return Worker != nullptr; }

  // Tiles that failed in the last run (for the console's exit status).
  int FailedCount() const { return Failures; }

 private:
  class TFetchThread;

  void Run();
  // On the main thread: a transcript line, and whether it tells of a failure.
  void AddLine(const std::string& line, bool failure = false);
  // On the main thread, after the worker's last line: nothing when the run ended
  // as it should, otherwise the error that ended it.
  void Finish(const std::optional<std::string>& error);

  IToolkit& Toolkit;
  TConfigSource Config;
  std::function<std::unique_ptr<IHttpClient>()> MakeClient;
  int Failures = 0;
  std::unique_ptr<TFetchThread> Worker;
  bool Destroying = false;
};

}  // namespace meridane
