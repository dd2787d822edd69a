#include "cli/CheckCommand.h"

#include <chrono>
#include <memory>

#include "cli/Cli.h"
#include "config/Config.h"
#include "tiles/Coverage.h"
#include "task/ProjectFile.h"

namespace meridane {

namespace fs = std::filesystem;

int CheckCommand(const TCheckRequest& request, std::ostream& out, std::ostream& err) {
  const fs::path program = request.ProgramFolder.empty() ? ProgramFolder() : request.ProgramFolder;
  std::unique_ptr<TTileGrid> grid;
  std::unique_ptr<TRepairListWriter> repair;
  try {
    const TStartConfig config = TConfig(TConfigSource(request.Config, program).Read()).ReadStart();
    grid = std::make_unique<TTileGrid>(OpenTaskReadOnly(request.Task, config));
    // The check writes nothing to the task: not even a list put in its place.
    if (request.Repair && IsTaskFile(request.Task, *request.Repair)) throw EFileError(TaskFileRefusal(*request.Repair));
    // Before the check: a list that cannot be written is known at once.
    if (request.Repair) repair = std::make_unique<TRepairListWriter>(*request.Repair, *grid);
  } catch (const std::exception& e) {
    err << (*e.what() ? e.what() : CreateTaskFailureMessage) << '\n';
    return ExitStatus::InputError;
  }

  auto status = [](const TCoverageSummary& s) {
    return '\r' + CheckStatusLine(s.Read, s.Tiles, s.Bad(), s.Seconds) + "\x1b[K";
  };
  using Clock = std::chrono::steady_clock;
  auto shown = Clock::now();
  int stoppedBy = 0;
  TCoverageOptions options{
      .Decode = request.Decode,
      .ProgramFolder = program,
      .OnBad =
          [&](const TBadTile& tile) {
            if (!request.Progress) out << TileKindName(tile.Kind) << ' ' << grid->TileFileName(tile.X, tile.Y) << '\n';
            if (repair) repair->Add(tile.X, tile.Y);
          },
      .OnProgress =
          [&](const TCoverageSummary& sofar) {
            if (!request.Progress || Clock::now() - shown < std::chrono::milliseconds(200)) return;
            shown = Clock::now();
            out << status(sofar) << std::flush;
          },
      .Stop = [&] { return (stoppedBy = request.Stop()) != 0; },
  };
  TCoverageSummary summary;
  try {
    summary = CheckCoverage(*grid, options);
    if (request.Progress) out << status(summary) << '\n';
    out << SummaryLine(summary) << '\n' << std::flush;
    if (summary.Stopped) return 128 + stoppedBy;
    if (repair) repair->Commit();
  } catch (const std::exception& e) {
    out << std::flush;
    err << e.what() << '\n';
    return ExitStatus::InputError;
  }
  return summary.Bad() > 0 ? ExitStatus::SomeFailed : ExitStatus::AllSaved;
}

}  // namespace meridane
