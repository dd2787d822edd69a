#include "ui/TaskCheck.h"

#include <cstdio>
#include <filesystem>

#include "config/Config.h"
#include "tiles/Coverage.h"
#include "task/ProjectFile.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// The bad tiles of a check, kept in an unnamed temporary file until the user
// decides about the repair list: a task of millions of tiles may have millions.
class TBadTileSpool {
 public:
  TBadTileSpool() : File(std::tmpfile()) {
    if (!File) throw EFileError(CannotCreateMessage(fs::temp_directory_path()));
  }
  ~TBadTileSpool() { std::fclose(File); }
  TBadTileSpool(const TBadTileSpool&) = delete;
  TBadTileSpool& operator=(const TBadTileSpool&) = delete;

  void Add(const TBadTile& tile) {
    const int pair[2] = {tile.X, tile.Y};
    if (std::fwrite(pair, sizeof pair, 1, File) != 1) throw EFileError(CannotCreateMessage(fs::temp_directory_path()));
  }
  template <class F>
  void ForEach(F&& visit) {
    std::rewind(File);
    for (int pair[2]; std::fread(pair, sizeof pair, 1, File) == 1;) visit(pair[0], pair[1]);
  }

 private:
  std::FILE* File;
};

}  // namespace

void TTaskCheck::Run() {
  if (Form1.Running()) return Toolkit.ShowMessage(TaskRunning);
  const auto chosen = Toolkit.OpenFile("Open project file:", "Projects(*.mrd)|*.mrd", Form1.DefaultPath);
  if (!chosen) return;
  const TTileGrid grid(OpenTaskReadOnly(*chosen, TConfig(Form1.ConfigPath).ReadStart()));
  const bool decode = Toolkit.Ask(DecodeQuestion);

  TBadTileSpool spool;
  Shown = TBar{.Checked = 0, .Tiles = grid.Count(), .Line = {}};
  TCoverageSummary summary;
  try {
    summary = CheckCoverage(grid, {.Decode = decode,
                                   .ProgramFolder = Form1.ProgramFolder(),
                                   .OnBad = [&spool](const TBadTile& tile) { spool.Add(tile); },
                                   .OnProgress =
                                       [this](const TCoverageSummary& sofar) {
                                         Shown->Checked = sofar.Checked();
                                         Shown->Line =
                                             CheckStatusLine(sofar.Checked(), sofar.Tiles, sofar.Bad(), sofar.Seconds);
                                         Toolkit.Repaint();
                                       },
                                   .Stop = {}});
  } catch (...) {
    Shown.reset();
    throw;
  }
  Shown.reset();

  const std::string text = *chosen + "\n" + SummaryLine(summary);
  if (summary.Bad() == 0) return Toolkit.ShowMessage(text);
  if (!Toolkit.ShowMessageWith(text, SaveButton)) return;
  const auto target =
      Toolkit.SaveFile("Save repair list:", "Failed tiles(*.ftl)|*.ftl", fs::path(*chosen).parent_path().string());
  if (!target) return;
  // Refused before the question about replacing: no answer makes it right.
  if (IsTaskFile(*chosen, *target)) return Toolkit.ShowMessage(TaskFileRefusal(*target));
  std::error_code ec;
  if (fs::exists(*target, ec) && !Toolkit.Ask(*target + " exists. Replace it?")) return;
  TRepairListWriter list(*target, grid);
  spool.ForEach([&list](int x, int y) { list.Add(x, y); });
  list.Commit();
}

}  // namespace meridane
