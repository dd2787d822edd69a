#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/Toolkit.h"

namespace meridane {

// The toolkit of the desktop program: Qt message boxes and file dialogs, a
// QTimer, and the workers' queue run on the main thread once per batch (the
// first call into an empty queue posts one event that runs them all).
// Windows register under their form names, so the logic can show and close them.
class TQtToolkit : public QObject, public IToolkit {
  Q_OBJECT
 public:
  TQtToolkit();
  ~TQtToolkit() override;

  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                      const std::string& initialFolder) override;
  std::optional<std::string> SaveFile(const std::string& title, const std::string& filter,
                                      const std::string& initialFolder) override;
  std::optional<std::string> PickFolder(const std::string& title, const std::string& initialFolder) override;
  bool ShowMessageWith(const std::string& text, const std::string& button) override;
  bool Ask(const std::string& text) override;
  void ShellOpen(const std::string& target) override;
  bool StartProgram(const std::string& path) override;
  IMainThread& MainThread() override { return Queue; }
  void ProcessPendingEvents() override;
  void Repaint() override;
  void Post(std::function<void()> call) override;
  void SetTimer(bool enabled, int intervalMs, std::function<void()> onTick) override;
  void ShowForm(IForm& form) override;
  void ShowModal(IForm& form) override;
  void BringToFront(IForm& form) override;
  void CloseForm(IForm& form) override;
  void Terminate() override;

  // The window that shows a form; the main window is the parent of dialogs.
  void Register(IForm& form, QWidget* window);
  void SetMainWindow(QWidget* window) { Main = window; }
  // Runs a handler of a window: the boxes it opens belong to that window.
  void RunIn(QWidget* window, const std::function<void()>& handler);
  // Hands an address or a file to the desktop's program for it; false when
  // nothing could take it. Tests put their own here.
  std::function<bool(const QUrl&)> Opener;
  // Runs after what can change a window without a handler of its own (a batch
  // of the workers' calls, a timer tick, a posted call), to show the change.
  std::function<void()> Refresh;

  // What the boxes showed, in order, for tests and for a look back.
  std::vector<std::string> Messages, Errors, Questions;

 private:
  void RunBatch();
  QWidget* WindowOf(IForm& form) const;
  QWidget* Owner() const;
  // A modal box or dialog, over its owner and over any window kept on top.
  int Exec(QDialog& dialog);
  int Box(QMessageBox::Icon icon, const char* name, const std::string& text, QMessageBox::StandardButtons buttons,
          Qt::TextInteractionFlags interaction = {});

  TQueueDispatcher Queue;
  QTimer Timer;
  std::function<void()> OnTick;
  QPointer<QWidget> Main;
  QPointer<QWidget> Acting;  // the window whose handler runs
  std::map<const IForm*, QPointer<QWidget>> Windows;
};

}  // namespace meridane
