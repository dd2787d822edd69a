#include "cli/Cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "cli/CheckCommand.h"
#include "cli/ConsoleToolkit.h"
#include "config/Config.h"
#include "meridane/Version.h"
#include "ui/FailedForm.h"
#include "ui/MainForm.h"
#include "ui/Progress.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// The first stop signal (its number makes the exit status), 0 before any; and
// the presses of Ctrl-C or SIGTERM, the second of which ends the program at once.
std::atomic<int> FirstSignal{0};
std::atomic<int> Presses{0};

void OnStopSignal(int signal) {
  int none = 0;
  FirstSignal.compare_exchange_strong(none, signal);
  // A closed terminal may hang up more than once, and a session's end may send
  // SIGTERM after it: a hang-up is never a press.
  if (signal != SIGHUP && Presses.fetch_add(1) >= 1) ::_exit(128 + signal);
}

bool StopAsked() { return FirstSignal.load() != 0; }
int StoppedStatus() { return 128 + FirstSignal.load(); }

struct TOptions {
  std::string Left, Right, Top, Bottom, Folder, Task, Threads, Config, Open, Redownload, Check, Repair;
  int Zoom = 0;
  bool Count = false;
  bool Decode = false;
  bool Progress = false;
  bool NoProgress = false;
  bool Fresh = false;
};

int Redownload(const TOptions& o, const TConfigSource& config, std::ostream& out, std::ostream& err) {
  TConsoleToolkit toolkit(err);
  TfrmFlt dialog(toolkit, config);
  dialog.OnLine = [&out](const std::string& line) { out << line << '\n' << std::flush; };
  toolkit.OpenFileAnswers.push_back(o.Redownload);
  dialog.FormShow();
  dialog.Button1Click();
  bool stopped = false;
  while (dialog.Running()) {
    if (StopAsked() && !stopped) {
      stopped = true;
      dialog.Button2Click();  // Stop: the line at hand is cut, then "Download End."
    }
    toolkit.Pump(std::chrono::milliseconds(100));
  }
  if (stopped) return StoppedStatus();
  if (!toolkit.Errors.empty()) {
    // The list could not be read: nothing was tried.
    return dialog.Memo1.Count() == 0 ? ExitStatus::InputError : ExitStatus::SomeFailed;
  }
  return dialog.FailedCount() > 0 ? ExitStatus::SomeFailed : ExitStatus::AllSaved;
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A write to a closed pipe fails with EPIPE instead; the stream then writes no more.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "meridane-cli: downloads the satellite map tiles of a rectangle at one zoom level, "
      "resumes a stopped task, re-downloads failed tiles and checks the tiles of a task."};
  app.set_version_flag("--version", ProgramVersion, "print the version and exit");
  TOptions o;
  auto* left = app.add_option("--left", o.Left, "west edge, decimal degrees (-180..180)");
  auto* right = app.add_option("--right", o.Right, "east edge, decimal degrees");
  auto* top = app.add_option("--top", o.Top, "north edge, decimal degrees (-90..90)");
  auto* bottom = app.add_option("--bottom", o.Bottom, "south edge, decimal degrees");
  auto* zoom = app.add_option("--zoom", o.Zoom, "zoom level (default 12)")->check(CLI::Range(1, 20));
  auto* folder = app.add_option("--folder", o.Folder, "download folder (default: DefaultPath of the configuration)");
  auto* task = app.add_option("--task", o.Task, "task name, the project file's name (default newtask.mrd)");
  auto* threads = app.add_option("--threads", o.Threads, "download threads, 1..8 (default: the configuration's)");
  auto* config = app.add_option("--config", o.Config,
                                "configuration file (default: ini/config.ini beside the program, or "
                                "~/.config/meridane/config.ini when the program's folder is read-only)");
  auto* open =
      app.add_option("--open", o.Open, "load the fields from a project file (.mrd); options given beside it win");
  auto* redownload = app.add_option("--redownload", o.Redownload, "re-download the tiles of a failed-tile list (.ftl)");
  auto* check = app.add_option("--check", o.Check,
                               "check the tiles of a task (.mrd): a line for each tile that is missing, empty, not an "
                               "image or the placeholder, then a summary; writes nothing to the task");
  auto* repair =
      app.add_option("--repair", o.Repair, "with --check: write the bad tiles as a failed-tile list (.ftl) for --redownload");
  auto* decode = app.add_flag("--decode", o.Decode,
                              "with --check: decode every image too, for damaged tiles and sizes other than 256x256");
  app.add_flag("--count", o.Count, "check the inputs and print the tile range and count; write nothing");
  app.add_flag("--progress", o.Progress, "one status line instead of the log lines (default on a terminal)");
  app.add_flag("--no-progress", o.NoProgress, "the log lines, also on a terminal");
  app.add_flag("--fresh", o.Fresh,
               "start afresh when the task's project file holds other inputs, replacing its files "
               "(without it such a task is left as it is)");
  redownload->excludes(left)->excludes(right)->excludes(top)->excludes(bottom)->excludes(open);
  check->excludes(left)->excludes(right)->excludes(top)->excludes(bottom)->excludes(open)->excludes(redownload);
  repair->needs(check);
  decode->needs(check);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return ExitStatus::AllSaved;
  } catch (const CLI::CallForVersion&) {
    out << "meridane-cli " << ProgramVersion << '\n';
    return ExitStatus::AllSaved;
  } catch (const CLI::ParseError& e) {
    err << e.what() << '\n';
    return ExitStatus::InputError;
  }

  fs::path configPath;
  if (*config) {
    if (!fs::is_regular_file(o.Config)) {
      err << "Cannot open file " << o.Config << '\n';
      return ExitStatus::InputError;
    }
    configPath = o.Config;
  }
  if (*redownload) return Redownload(o, configPath, out, err);
  if (*check) {
    const bool progress = !o.NoProgress && (o.Progress || ::isatty(STDOUT_FILENO));
    const int status = CheckCommand({.Task = o.Check,
                                     .Repair = *repair ? std::optional(o.Repair) : std::nullopt,
                                     .Decode = o.Decode,
                                     .Progress = progress,
                                     .Config = configPath,
                                     .ProgramFolder = {},
                                     .StopAsked = StopAsked},
                                    out, err);
    return status == ExitStatus::StoppedByUser ? StoppedStatus() : status;
  }

  TConsoleToolkit toolkit(err);
  toolkit.Yes = o.Fresh;
  TForm1 form(toolkit, TMainFormEnvironment{{}, configPath});
  form.FormShow();
  if (*open) {
    if (!fs::is_regular_file(o.Open)) {
      err << "Cannot open file " << o.Open << '\n';
      return ExitStatus::InputError;
    }
    toolkit.OpenFileAnswers.push_back(o.Open);
    form.LoadParametersfromprojectfilel1Click();
  } else if (!*left || !*right || !*top || !*bottom) {
    err << "--left, --right, --top and --bottom are needed (or --open with a project file)\n";
    return ExitStatus::InputError;
  }
  // Texts exactly as given, as if typed into the fields.
  if (*left) form.Edit1.Text = o.Left;
  if (*right) form.Edit3.Text = o.Right;
  if (*top) form.Edit2.Text = o.Top;
  if (*bottom) form.Edit4.Text = o.Bottom;
  if (*zoom) form.TrackBar1.SetPosition(o.Zoom);
  if (*folder) form.Edit6.Text = o.Folder;
  if (*task) form.EditTaskName.Text = o.Task;
  if (*threads) form.Edit10.Text = o.Threads;

  if (o.Count) {
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

  const bool progress = !o.NoProgress && (o.Progress || ::isatty(STDOUT_FILENO));
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
  bool stopped = false;
  while (form.Running()) {
    if (StopAsked() && !stopped) {
      stopped = true;
      form.BitBtn1Click();  // Stop: each worker finishes its tile
    }
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
  if (stopped) return StoppedStatus();
  // An error box (a position or a task file that could not be written) fails the run too.
  const bool failed = counter.Failures() > 0 || form.Memo2.Count() > 0 || !toolkit.Errors.empty();
  return failed ? ExitStatus::SomeFailed : ExitStatus::AllSaved;
}

}  // namespace meridane
