#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "config/Config.h"
#include "download/DownThread.h"
#include "ui/Controls.h"
#include "ui/Memo.h"
#include "ui/Toolkit.h"

namespace meridane {

// The failed-tile re-download dialog's logic: fetches again, one after another
// on the main thread, every tile of a failed-tile list, with a transcript.
// The list itself is only read.
class TfrmFlt : public IForm {
 public:
  static constexpr const char* EmptyList = "No failed files records.";
  static constexpr const char* StartLine = "Start...";
  static constexpr const char* EndLine = "Download End.";
  // The workers' text: the same server refusal reads the same everywhere.
  static constexpr const char* BannedLine = TDownThread::BannedMessage;
  // Why a line's file is not written (lists are shared, so a line may only
  // name what a download task writes); each is followed by the path or folder.
  static constexpr const char* NotAbsolutePath = "Not an absolute path: ";
  static constexpr const char* NotTileFile = "Not a tile file: ";
  static constexpr const char* NoSuchFolder = "No such folder: ";
  static constexpr const char* NotRegularFile = "Not a regular file: ";
  // The path itself is not shown: the byte would cut it short.
  static constexpr const char* NulInPath = "NUL byte in the file path";
  // Immediate repeats of one tile after a reset connection before it counts as failed.
  static constexpr int MaxResetRepeats = TDownThread::MaxImmediateRepeats;

  TfrmFlt(IToolkit& toolkit, TConfigSource config,
          std::function<std::unique_ptr<IHttpClient>()> makeClient = MakeCurlHttpClient);

  std::string Caption = "Re-Download failed files";
  TButton Button1{"Open *.ftl file and download..."};
  TMemo Memo1;
  // Runs after every transcript line, so the dialog can repaint (or a console print it).
  std::function<void(const std::string&)> OnLine;

  const char* FormName() const override { return "frmFlt"; }
  void FormShow() override { Memo1.Clear(); }
  void Button1Click();

  // Tiles that failed in the last run (for the console's exit status).
  int FailedCount() const { return Failures; }

 private:
  void Run();
  void AddLine(const std::string& line);
  // A line whose file may not be written: a failure line, and on with the next.
  void Refuse(const std::string& why, const std::string& url);

  IToolkit& Toolkit;
  TConfigSource Config;
  std::function<std::unique_ptr<IHttpClient>()> MakeClient;
  int Failures = 0;
};

}  // namespace meridane
