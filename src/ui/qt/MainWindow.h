#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include "ui/MainForm.h"
#include "ui/MainMenu.h"
#include "ui/Progress.h"
#include "ui/qt/Binder.h"
#include "ui/qt/QtToolkit.h"

namespace meridane {

// The main window: the widgets of TForm1's controls, its menu from the menu
// table, and a progress bar under the tile count. Every decision is the logic's.
class TForm1Window : public QMainWindow {
 public:
  // The widget keeps at most this many log lines; the log file keeps all.
  static constexpr int ShownLogLines = 20000;

  TForm1Window(TQtToolkit& toolkit, TForm1& form, TMainMenu& menu);
  ~TForm1Window() override;

  // Shows the logic's state: controls, new log lines, the progress.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  // Runs a handler of the window over the fields as the user left them.
  void Handle(const std::function<void()>& handler);

  TQtToolkit& Toolkit;
  TForm1& Form;
  TMainMenu& Menu;
  TBinder Binder;
  bool Shown = false;
  QSlider* TrackBar1 = nullptr;
  QProgressBar* Bar = nullptr;
  QLabel* BarText = nullptr;
  QLabel* StopText = nullptr;
  // The menu's commands, whose captions follow the logic's.
  std::vector<std::pair<QAction*, const TMenuItem*>> Actions;
};

}  // namespace meridane
