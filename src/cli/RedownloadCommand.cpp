#include <chrono>

#include "cli/Commands.h"
#include "cli/ConsoleToolkit.h"
#include "ui/FailedForm.h"

namespace meridane {

int RedownloadCommand(const TCliOptions& o, const std::filesystem::path& config, std::ostream& out, std::ostream& err,
                      const TStopCheck& stop) {
  TConsoleToolkit toolkit(err);
  TfrmFlt dialog(toolkit, config);
  dialog.OnLine = [&out](const std::string& line) { out << line << '\n' << std::flush; };
  toolkit.OpenFileAnswers.push_back(o.Redownload);
  dialog.FormShow();
  dialog.Button1Click();
  int stoppedBy = 0;
  while (dialog.Running()) {
    // Stop: the line at hand is cut, then "Download End."
    if (stoppedBy == 0 && (stoppedBy = stop()) != 0) dialog.Button2Click();
    toolkit.Pump(std::chrono::milliseconds(100));
  }
  if (stoppedBy != 0) return 128 + stoppedBy;
  if (!toolkit.Errors.empty()) {
    // The list could not be read: nothing was tried.
    return dialog.Memo1.Count() == 0 ? ExitStatus::InputError : ExitStatus::SomeFailed;
  }
  return dialog.FailedCount() > 0 ? ExitStatus::SomeFailed : ExitStatus::AllSaved;
}

}  // namespace meridane
