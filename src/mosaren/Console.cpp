#include "mosaren/Console.h"

#include <CLI/CLI.hpp>
#include <chrono>

#include "config/Config.h"
#include "meridane/Version.h"
#include "task/ProjectFile.h"

namespace meridane {

namespace fs = std::filesystem;

std::optional<std::string> OutputRefusal(const fs::path& input, const fs::path& output) {
  const auto format = OutputFormatOf(output);
  for (const fs::path& file : format ? OutputFiles(*format, output) : std::vector<fs::path>{output})
    if (IsTaskFile(input, file)) return TaskFileRefusal(file);
  return std::nullopt;
}

int RunCombineConsole(int argc, char** argv, std::ostream& out, std::ostream& err, const TCombineEnvironment& env) {
  CLI::App app{
      "mosaren: joins the tiles of download tasks, tile folders or tile archives into one MBTiles or PMTiles "
      "archive, a folder of tiles (Z/X/Y), a GeoTIFF, a PNG or JPEG picture with a world file, a phone's .sqlitedb "
      "or a Garmin .kmz. Archives and folders get the zooms below too, each tile the average of the four below it; "
      "where only part of such a tile is covered the rest is transparent (PNG, WebP) or white (JPEG). Without "
      "arguments it opens its window."};
  app.set_version_flag("--version", ProgramVersion, "print the version and exit");
  std::vector<std::string> inputs;
  std::string output, config;
  TCombineOptions options;
  std::optional<int> zoom;
  bool progress = false, tms = false;
  app.add_option("input", inputs,
                 "project files (.mrd), tile folders (Z/X/Y.png or a task's gs_X_Y_Z.jpg names), MBTiles or PMTiles "
                 "files; where they overlap, the first sound tile wins; inputs of lower zooms give the zooms below")
      ->required();
  app.add_option("-o,--output", output,
                 "the file to write: .mbtiles, .pmtiles, .tif, .png, .jpg, .sqlitedb or .kmz; or a folder of tiles: "
                 "a name ending in / (or an existing folder)")
      ->required();
  app.add_option("--zoom", zoom, "only the inputs' tiles of this zoom level (default: each zoom found)")
      ->check(CLI::Range(0, 30));
  app.add_flag("--tms", tms, "the rows of Z/X/Y folders count from the south");
  app.add_option("--quality", options.Quality,
                 "JPEG quality of a .jpg picture, a GeoTIFF of JPEG tiles, a .kmz, or the JPEG tiles built for the "
                 "lower zooms of an archive, 1..100 (default 85)")
      ->check(CLI::Range(1, 100));
  app.add_option("--min-zoom", options.MinZoom,
                 "the lowest zoom of an archive or folder (default: where the whole area fits in one tile); "
                 "the zoom of the tiles: no lower zooms");
  app.add_option("--name", options.Name, "the name stored in an archive or a .kmz (default: the task's)");
  app.add_option("--description", options.Description, "the description stored in an archive or a .kmz");
  app.add_option("--config", config, "configuration file (default: the program's)");
  app.add_flag("--progress", progress, "a status line while the tiles are written");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return CombineExit::Written;
  } catch (const CLI::CallForVersion&) {
    out << "mosaren " << ProgramVersion << '\n';
    return CombineExit::Written;
  } catch (const CLI::ParseError& e) {
    err << e.what() << '\n';
    return CombineExit::InputError;
  }

  for (const std::string& input : inputs)
    if (const auto refusal = OutputRefusal(input, output)) {
      err << *refusal << '\n';
      return CombineExit::InputError;
    }
  const fs::path program = env.ProgramFolder.empty() ? ProgramFolder() : env.ProgramFolder;
  using Clock = std::chrono::steady_clock;
  auto shown = Clock::now();
  std::string lastLine;
  const TCombineRun run{
      .Output = output,
      .Options = options,
      .ProgramFolder = program,
      .OnProgress =
          [&](const TCombineProgress& p) {
            lastLine = ProgressLine(p);
            if (!progress || Clock::now() - shown < std::chrono::milliseconds(200)) return;
            shown = Clock::now();
            out << '\r' << lastLine << "\x1b[K" << std::flush;
          },
      .Stop = [&] { return env.StopSignal() != 0; },
      .MakeSink = env.MakeSink,
  };
  TCombineSummary summary;
  try {
    summary = Combine(
        OpenCombineInputs({.Paths = {inputs.begin(), inputs.end()}, .Zoom = zoom, .FromSouth = tms}, config, program),
        run);
  } catch (const ECombineInputError& e) {
    err << e.what() << '\n';
    return CombineExit::InputError;
  } catch (const std::exception& e) {
    if (progress && !lastLine.empty()) out << '\n';
    out << std::flush;
    err << e.what() << '\n';
    return CombineExit::Failed;
  }
  if (progress) out << '\r' << ProgressLine({summary.Fed(), summary.Tiles, summary.Seconds}) << "\x1b[K\n";
  if (!summary.Stopped && !summary.Note.empty()) out << summary.Note << '\n';
  out << SummaryText(summary, output) << '\n' << std::flush;
  return summary.Stopped ? 128 + env.StopSignal() : CombineExit::Written;
}

}  // namespace meridane
