#include "ui/HeadlessToolkit.h"

#include <deque>
#include <filesystem>
#include <utility>

namespace meridane {

namespace {

// The next of the answers a test gave, or none when they are used up.
template <class T>
T NextAnswer(std::deque<T>& answers, T none) {
  if (answers.empty()) return none;
  T answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

}  // namespace

std::optional<std::string> THeadlessToolkit::OpenFile(const std::string& title, const std::string& filter,
                                                      const std::string& initialFolder) {
  Dialogs.push_back({title, filter, initialFolder});
  return NextAnswer(OpenFileAnswers, std::optional<std::string>());
}

std::optional<std::string> THeadlessToolkit::SaveFile(const std::string& title, const std::string& filter,
                                                      const std::string& initialFolder) {
  Dialogs.push_back({title, filter, initialFolder});
  return NextAnswer(SaveFileAnswers, std::optional<std::string>());
}

bool THeadlessToolkit::ShowMessageWith(const std::string& text, const std::string&) {
  Messages.push_back(text);
  return NextAnswer(ButtonAnswers, false);
}

std::optional<std::string> THeadlessToolkit::PickFolder(const std::string& title, const std::string& initialFolder) {
  Dialogs.push_back({title, "", initialFolder});
  return NextAnswer(FolderAnswers, std::optional<std::string>());
}

bool THeadlessToolkit::Ask(const std::string& text) {
  Questions.push_back(text);
  return NextAnswer(AskAnswers, false);
}

bool THeadlessToolkit::StartProgram(const std::string& path) {
  Started.push_back(path);
  return std::filesystem::exists(path);
}

void THeadlessToolkit::SetTimer(bool enabled, int intervalMs, std::function<void()> onTick) {
  TimerOn = enabled;
  Interval = intervalMs;
  NextTick = Now() + std::chrono::milliseconds(intervalMs);
  OnTick = std::move(onTick);
}

int THeadlessToolkit::Pump(std::chrono::milliseconds timeout) {
  int ran = Queue.Pump(Posted.empty() ? timeout : std::chrono::milliseconds(0));
  // Calls posted while these run wait for the next turn, as in an event loop.
  for (std::size_t n = Posted.size(); n > 0; --n, ++ran) {
    const std::function<void()> call = std::move(Posted.front());
    Posted.pop_front();
    call();
  }
  return ran;
}

void THeadlessToolkit::ProcessPendingEvents() {
  Pump(std::chrono::milliseconds(1));
  const auto now = Now();
  if (!TimerOn || now < NextTick) return;
  // Like an event loop's timer: a late tick runs once, missed ones are not made up.
  NextTick = now + std::chrono::milliseconds(Interval);
  Tick();
}

void THeadlessToolkit::ShowForm(IForm& form) {
  Calls.push_back(std::string("Show ") + form.FormName());
  if (Visible.insert(form.FormName()).second) form.FormShow();
}

void THeadlessToolkit::ShowModal(IForm& form) {
  Calls.push_back(std::string("ShowModal ") + form.FormName());
  Visible.insert(form.FormName());
  form.FormShow();
  if (WhileModal) WhileModal(form);
  Visible.erase(form.FormName());
}

void THeadlessToolkit::CloseForm(IForm& form) {
  Calls.push_back(std::string("Close ") + form.FormName());
  Visible.erase(form.FormName());
}

bool THeadlessToolkit::Tick() {
  if (!TimerOn || !OnTick) return false;
  OnTick();
  return true;
}

}  // namespace meridane
