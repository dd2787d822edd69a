#pragma once

#include <functional>
#include <optional>
#include <string>

#include "download/Thread.h"

namespace meridane {

// A window's logic as a toolkit sees it: a name to bind its widgets by, and the
// show event, which runs each time the window becomes visible.
class IForm {
 public:
  virtual ~IForm() = default;
  virtual const char* FormName() const = 0;
  virtual void FormShow() {}
};

// What only a window toolkit can do, for every window's logic. The logic calls
// these on the main thread; an implementation may show windows (Qt), print
// (console) or play back a script (tests).
class IToolkit {
 public:
  virtual ~IToolkit() = default;

  // A modal message box with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A modal message box with OK and a second button captioned button; true
  // when that button closed it.
  virtual bool ShowMessageWith(const std::string& text, const std::string& button) = 0;
  // A modal question with Yes and No; true for Yes.
  virtual bool Ask(const std::string& text) = 0;
  // The application's error box, for an error that escaped a handler.
  virtual void ShowError(const std::string& text) = 0;
  // The file-open dialog; empty when cancelled. filter is "Name|pattern".
  virtual std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                              const std::string& initialFolder) = 0;
  // The file-save dialog; empty when cancelled. filter is "Name|pattern". It
  // does not ask before a file is replaced: the caller asks, once it has
  // refused the names it never writes.
  virtual std::optional<std::string> SaveFile(const std::string& title, const std::string& filter,
                                              const std::string& initialFolder) = 0;
  // The folder picker, opened at initialFolder when it exists; empty when cancelled.
  virtual std::optional<std::string> PickFolder(const std::string& title, const std::string& initialFolder) = 0;
  // Opens a document or address in the user's program for it; when there is
  // none, the user is told so with the address to copy.
  virtual void ShellOpen(const std::string& target) = 0;
  // Starts a program, detached; false when it could not be started.
  virtual bool StartProgram(const std::string& path) = 0;
  // The main thread, for the workers' calls.
  virtual IMainThread& MainThread() = 0;
  // Lets the toolkit handle what is pending (repaints, queued main-thread calls).
  virtual void ProcessPendingEvents() = 0;
  // Inside a long handler: shows what the logic changed and repaints, taking
  // none of the user's input.
  virtual void Repaint() {}
  // Runs call on the main thread once the event at hand is handled, never inside
  // the caller: for what must not run inside a worker's call (it may wait for
  // that worker).
  virtual void Post(std::function<void()> call) = 0;
  // Turns the periodic timer on or off; onTick runs on the main thread.
  virtual void SetTimer(bool enabled, int intervalMs, std::function<void()> onTick) = 0;
  // Shows a window without making it modal; one already shown stays as it is.
  virtual void ShowForm(IForm& form) = 0;
  // Shows a window modally: returns once it is closed.
  virtual void ShowModal(IForm& form) = 0;
  virtual void BringToFront(IForm& form) = 0;
  // Hides a window; a modal one ends its ShowModal.
  virtual void CloseForm(IForm& form) = 0;
  // Ends the application: the message loop stops after the current event.
  virtual void Terminate() = 0;
};

// Runs a handler as a toolkit would: an error that escapes it ends it and is
// shown in the error box.
void RunHandler(IToolkit& toolkit, const std::function<void()>& handler);

}  // namespace meridane
