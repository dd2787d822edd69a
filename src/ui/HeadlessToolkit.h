#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ui/Toolkit.h"

namespace meridane {

// A toolkit without a screen: dialogs answer from scripts, message boxes and
// shell calls are recorded, main-thread calls wait in a queue until pumped,
// and the timer ticks when told to, or when it is due while the logic waits in
// ProcessPendingEvents (as in a real event loop). Tests and the console front
// end drive it.
class THeadlessToolkit : public IToolkit {
 public:
  // queueLimit: the workers' calls queued before a worker waits for a Pump.
  explicit THeadlessToolkit(std::size_t queueLimit = TQueueDispatcher::DefaultLimit) : Queue(queueLimit) {}
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                      const std::string& initialFolder) override;
  std::optional<std::string> SaveFile(const std::string& title, const std::string& filter,
                                      const std::string& initialFolder) override;
  std::optional<std::string> PickFolder(const std::string& title, const std::string& initialFolder) override;
  // Recorded with the messages; answers from ButtonAnswers, OK when none is left.
  bool ShowMessageWith(const std::string& text, const std::string& button) override;
  // Answers from AskAnswers, No when none is left; the questions are recorded.
  bool Ask(const std::string& text) override;
  void ShellOpen(const std::string& target) override { Opened.push_back(target); }
  bool StartProgram(const std::string& path) override;
  IMainThread& MainThread() override { return Queue; }
  // Waits a moment for a call when none is queued, so waiting loops do not
  // spin; then runs the timer's tick if it is due.
  void ProcessPendingEvents() override;
  void SetTimer(bool enabled, int intervalMs, std::function<void()> onTick) override;
  void ShowForm(IForm& form) override;
  void ShowModal(IForm& form) override;
  void BringToFront(IForm& form) override { Calls.push_back(std::string("BringToFront ") + form.FormName()); }
  void CloseForm(IForm& form) override;
  void Terminate() override { Calls.push_back("Terminate"); }

  // Runs the queued main-thread calls, waiting up to timeout for the first, then
  // the posted ones.
  int Pump(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
  void Post(std::function<void()> call) override { Posted.push_back(std::move(call)); }
  // One timer tick, when the timer is on. Returns whether it ticked.
  bool Tick();
  bool TimerEnabled() const { return TimerOn; }

  // The clock that decides when a tick is due; tests move it by hand.
  using TClock = std::chrono::steady_clock;
  std::function<TClock::time_point()> Now = TClock::now;
  int TimerInterval() const { return Interval; }

  // Answers for the next dialogs, in order; an empty answer cancels.
  std::deque<std::optional<std::string>> OpenFileAnswers;
  std::deque<std::optional<std::string>> FolderAnswers;
  std::deque<std::optional<std::string>> SaveFileAnswers;
  std::deque<bool> AskAnswers;
  std::deque<bool> ButtonAnswers;  // true: the box's second button
  // What the logic asked for.
  struct TDialog {
    std::string Title, Filter, InitialFolder;
  };
  std::vector<TDialog> Dialogs;
  std::vector<std::string> Messages, Errors, Opened, Started, Questions;
  // The window calls, as "ShowModal frmOptions", "Show frmConvert", "Close frmAbout", "Terminate".
  std::vector<std::string> Calls;
  // The names of the windows shown now.
  std::set<std::string> Visible;
  // Acts as the user while a modal window is open; when it returns with the
  // window still open, the user has closed it from its title bar.
  std::function<void(IForm&)> WhileModal;

 private:
  TQueueDispatcher Queue;
  std::deque<std::function<void()>> Posted;  // only the main thread posts
  bool TimerOn = false;
  int Interval = 0;
  TClock::time_point NextTick;
  std::function<void()> OnTick;
};

}  // namespace meridane
