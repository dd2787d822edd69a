// The commands on a task's fields: the count and the download.
#include <chrono>
#include <filesystem>
#include <thread>

#include "cli/Commands.h"
#include "cli/ConsoleToolkit.h"
#include "ui/MainForm.h"
#include "ui/Progress.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// Opens the project file given with --open into the shown window, then types
// each field given beside it. False, with the reason on err, when the
// rectangle is missing or the project file cannot be read.
bool FillFields(TForm1& form, TConsoleToolkit& toolkit, const TCliOptions& o, std::ostream& err) {
  form.FormShow();
  if (o.Open) {
    if (!fs::is_regular_file(*o.Open)) {
      err << "Cannot open file " << *o.Open << '\n';
      return false;
    }
    toolkit.OpenFileAnswers.push_back(*o.Open);
    form.LoadParametersfromprojectfilel1Click();
  } else if (!o.Left || !o.Right || !o.Top || !o.Bottom) {
    err << "--left, --right, --top and --bottom are needed (or --open with a project file)\n";
    return false;
  }
  // Texts exactly as given, as if typed into the fields.
  if (o.Left) form.Edit1.Text = *o.Left;
  if (o.Right) form.Edit3.Text = *o.Right;
  if (o.Top) form.Edit2.Text = *o.Top;
  if (o.Bottom) form.Edit4.Text = *o.Bottom;
  if (o.Zoom) form.TrackBar1.SetPosition(*o.Zoom);
  if (o.Folder) form.Edit6.Text = *o.Folder;
  if (o.Task) form.EditTaskName.Text = *o.Task;
  if (o.Threads) form.Edit10.Text = *o.Threads;
  return true;
}

}  // namespace

int CountCommand(const TCliOptions& o, const fs::path& config, std::ostream& out, std::ostream& err) {
  TConsoleToolkit toolkit(err);
  TForm1 form(toolkit, TMainFormEnvironment{{}, config});
  if (!FillFields(form, toolkit, o, err)) return ExitStatus::InputError;
  const auto params = form.ReadRequest(false);
  if (!params) return ExitStatus::InputError;
  try {
    const TTileRange r = ComputeTileRange(*params);
    out << "MinX=" << r.MinX << "\nMinY=" << r.MinY << "\nMaxX=" << r.MaxX << "\nMaxY=" << r.MaxY
        << "\nTotal images: " << r.TotalCount << '\n';
  } catch (const ETaskBuildError& e) {
    err << e.what() << '\n';
    return ExitStatus::InputError;
  }
  return ExitStatus::AllSaved;
}

int DownloadCommand(const TCliOptions& o, const fs::path& config, std::ostream& out, std::ostream& err,
                    const TStopCheck& stop) {
  TConsoleToolkit toolkit(err);
  toolkit.Yes = o.Fresh;
  TForm1 form(toolkit, TMainFormEnvironment{{}, config});
  if (!FillFields(form, toolkit, o, err)) return ExitStatus::InputError;

  const bool progress = o.Progress;
  const TProgress& counter = form.Progress;
  form.Memo1.OnAdd = [&](std::string_view line) {
    if (!progress) out << line << '\n';
  };
  form.BitBtn1Click();
  if (!form.Running()) {
    // The question was printed: a task with other inputs is left as it is.
    if (!toolkit.Questions.empty() && !o.Fresh) err << "Nothing was changed: --fresh starts the task afresh.\n";
    // The message is printed already: a refused input, or a file that could not be written.
    return toolkit.Errors.empty() ? ExitStatus::InputError : ExitStatus::SomeFailed;
  }

  const TDownloadTask& t = *form.CurrentTask;
  if (!progress) {
    // The log as Start loaded it: the header of a new task, the two resume lines of an old one.
    const std::size_t first = t.Params.Resume && form.Memo1.Count() >= 2 ? form.Memo1.Count() - 2 : 0;
    for (std::size_t i = first; i < form.Memo1.Count(); ++i) out << form.Memo1.Line(i) << '\n';
    out << std::flush;
  }

  using Clock = std::chrono::steady_clock;
  auto nextTick = Clock::now() + std::chrono::milliseconds(form.Timer1.Interval);
  auto nextStatus = Clock::now();
  int stoppedBy = 0;
  while (form.Running()) {
    if (stoppedBy == 0 && (stoppedBy = stop()) != 0) form.BitBtn1Click();  // Stop: each worker finishes its tile
    const auto now = Clock::now();
    if (now >= nextTick) {
      nextTick += std::chrono::milliseconds(form.Timer1.Interval);
      toolkit.Tick();
      continue;
    }
    const int ran = toolkit.Pump(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now),
                                          std::chrono::milliseconds(100)));
    if (!progress) out << std::flush;  // once per batch of lines, not per line
    // While lines flow, let them gather for a moment: one wake-up for many lines.
    if (ran > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (progress && Clock::now() >= nextStatus) {
      out << '\r' << counter.StatusLine() << "\x1b[K" << std::flush;
      nextStatus = Clock::now() + std::chrono::milliseconds(200);
    }
  }
  if (progress) out << '\r' << counter.StatusLine() << "\x1b[K\n" << std::flush;
  if (stoppedBy != 0) return 128 + stoppedBy;
  // An error box (a position or a task file that could not be written) fails the run too.
  const bool failed = counter.Failures() > 0 || form.Memo2.Count() > 0 || !toolkit.Errors.empty();
  return failed ? ExitStatus::SomeFailed : ExitStatus::AllSaved;
}

}  // namespace meridane
