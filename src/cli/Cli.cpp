#include "cli/Cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>

#include "cli/CheckCommand.h"
#include "cli/Commands.h"
#include "meridane/Version.h"
#include "task/MapTypes.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// The command line's texts as CLI11 fills them.
struct TOptions {
  std::string Left, Right, Top, Bottom, Folder, Task, Threads, Config, Open, Redownload, Check, Repair;
  int Zoom = 0;
  bool Count = false;
  bool Decode = false;
  bool Progress = false;
  bool NoProgress = false;
  bool Fresh = false;
};

}  // namespace

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
  auto* zoom = app.add_option("--zoom", o.Zoom, "zoom level (default 12)")->check(CLI::Range(MapTypeOf(SatelliteMapType).ZoomMin, MapTypeOf(SatelliteMapType).ZoomMax));
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
  // A field not given stays unset, so that the window's default or the project's value holds.
  const auto given = [](const CLI::Option* option, const std::string& text) {
    return *option ? std::optional<std::string>(text) : std::nullopt;
  };
  TCliOptions options;
  options.Left = given(left, o.Left);
  options.Right = given(right, o.Right);
  options.Top = given(top, o.Top);
  options.Bottom = given(bottom, o.Bottom);
  options.Folder = given(folder, o.Folder);
  options.Task = given(task, o.Task);
  options.Threads = given(threads, o.Threads);
  if (*zoom) options.Zoom = o.Zoom;
  options.Open = given(open, o.Open);
  options.Redownload = o.Redownload;
  options.Progress = !o.NoProgress && (o.Progress || ::isatty(STDOUT_FILENO));
  options.Fresh = o.Fresh;

  // One command a run, named by its option; without one, the download.
  if (*redownload) return RedownloadCommand(options, configPath, out, err);
  if (*check)
    return CheckCommand({.Task = o.Check,
                         .Repair = *repair ? std::optional(o.Repair) : std::nullopt,
                         .Decode = o.Decode,
                         .Progress = options.Progress,
                         .Config = configPath,
                         .ProgramFolder = {},
                         .Stop = FirstStopSignal},
                        out, err);
  if (o.Count) return CountCommand(options, configPath, out, err);
  return DownloadCommand(options, configPath, out, err);
}

}  // namespace meridane
