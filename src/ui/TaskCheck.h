#pragma once

#include <optional>
#include <string>

#include "ui/MainForm.h"
#include "ui/Toolkit.h"

namespace meridane {

// Tools > "Check task...": checks the tiles of a task the user picks, with the
// main window's bar, then shows the summary and offers the bad tiles as a
// failed-tile list, which the re-download dialog takes as it is. The check
// runs inside the handler; the window is repainted as it goes.
class TTaskCheck {
 public:
  static constexpr const char* TaskRunning = "A task is running: stop it before checking a task.";
  static constexpr const char* DecodeQuestion =
      "Decode every tile as well? This finds damaged images and sizes other than 256x256, but takes much longer.";
  static constexpr const char* SaveButton = "Save repair list...";

  TTaskCheck(IToolkit& toolkit, TForm1& form1) : Toolkit(toolkit), Form1(form1) {}

  void Run();

  // While a check runs: what the main window's bar shows instead of a download's.
  struct TBar {
    long long Checked = 0, Tiles = 0;
    std::string Line;
  };
  const std::optional<TBar>& Bar() const { return Shown; }

 private:
  IToolkit& Toolkit;
  TForm1& Form1;
  std::optional<TBar> Shown;
};

}  // namespace meridane
