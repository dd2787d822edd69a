#include "ui/HeadlessToolkit.h"

#include <filesystem>

namespace meridane {

std::optional<std::string> THeadlessToolkit::OpenFile(const std::string& title, const std::string& filter,
                                                      const std::string& initialFolder) {
  Dialogs.push_back({title, filter, initialFolder});
  if (OpenFileAnswers.empty()) return std::nullopt;
  auto answer = OpenFileAnswers.front();
  OpenFileAnswers.pop_front();
  return answer;
}

std::optional<std::string> THeadlessToolkit::SaveFile(const std::string& title, const std::string& filter,
                                                      const std::string& initialFolder) {
  Dialogs.push_back({title, filter, initialFolder});
  if (SaveFileAnswers.empty()) return std::nullopt;
  auto answer = SaveFileAnswers.front();
  SaveFileAnswers.pop_front();
  return answer;
}

bool THeadlessToolkit::ShowMessageWith(const std::string& text, const std::string&) {
  Messages.push_back(text);
  if (ButtonAnswers.empty()) return false;
  const bool answer = ButtonAnswers.front();
  ButtonAnswers.pop_front();
  return answer;
}

std::optional<std::string> THeadlessToolkit::PickFolder(const std::string& title, const std::string& initialFolder) {
  Dialogs.push_back({title, "", initialFolder});
  if (FolderAnswers.empty()) return std::nullopt;
  auto answer = FolderAnswers.front();
  FolderAnswers.pop_front();
  return answer;
}

bool THeadlessToolkit::Ask(const std::string& text) {
  Questions.push_back(text);
  if (AskAnswers.empty()) return false;
  const bool answer = AskAnswers.front();
  AskAnswers.pop_front();
  return answer;
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
