#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/Toolkit.h"

namespace meridane {

// What a check needs from the window that starts it.
struct TCheckRequest {
  std::filesystem::path ProgramFolder;  // holds the placeholders
  std::string ConfigPath;
  std::string InitialFolder;  // where the project dialog opens
  bool TaskRunning = false;   // a download runs: no check beside it
};

// Tools > "Check task...": checks the tiles of a task the user picks on a
// worker thread, with the main window's bar, then shows the summary and offers
// the bad tiles as a failed-tile list, which the re-download dialog takes as it
// is. The window stays live meanwhile; Stop ends the check. The summary stays
// on offer until the user closes it: a cancelled or failed save may be tried again.
class TTaskCheck {
 public:
  static constexpr const char* TaskRunning = "A task is running: stop it before checking a task.";
  static constexpr const char* DecodeQuestion =
      "Decode every tile as well? This finds damaged images and sizes other than 256x256, but takes much longer.";
  static constexpr const char* SaveButton = "Save repair list...";
  // The menu command's caption while a check runs: choosing it again stops the check.
  static constexpr const char* StopCaption = "Stop check";

  explicit TTaskCheck(IToolkit& toolkit);
  // A check still going is stopped and waited for; its result goes nowhere.
  ~TTaskCheck();
  TTaskCheck(const TTaskCheck&) = delete;
  TTaskCheck& operator=(const TTaskCheck&) = delete;

  // Picks a task and starts its check, which goes on after the call returns.
  void Run(const TCheckRequest& request);
  // Asks a running check to end; its summary then tells how far it came.
  void Stop();
  // Stops a running check and waits for its end, without a summary: the window closes.
  void Close();
  bool Running() const { return Worker != nullptr; }

  // Runs on the main thread when a check starts or ends, and at each step of
  // its progress, so the window can show it.
  std::function<void()> OnChange;

  // While a check runs: what the main window's bar shows instead of a download's.
  struct TBar {
    long long Checked = 0, Tiles = 0;
    std::string Line;
  };
  const std::optional<TBar>& Bar() const { return Shown; }

 private:
  class TCheckThread;
  struct TResult;

  // On the main thread, after the worker's last call.
  void Finish(const std::optional<std::string>& error);
  // The summary and the repair list, until the user is done with them.
  void Offer(TResult& result);
  // Writes the list; the message of a failure, or nothing.
  std::optional<std::string> Save(TResult& result, const std::string& target);
  void Changed() {
    if (OnChange) OnChange();
  }

  IToolkit& Toolkit;
  std::unique_ptr<TCheckThread> Worker;
  std::shared_ptr<TResult> Current;
  std::optional<TBar> Shown;
  bool Closing = false;
  // Gone with the check: a call posted for it does nothing then.
  std::shared_ptr<char> Alive = std::make_shared<char>();
};

}  // namespace meridane
