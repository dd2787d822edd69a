#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "config/AtomicFile.h"
#include "task/TileGrid.h"
#include "tiles/TileKind.h"
#include "tiles/TileReader.h"

namespace meridane {

struct TBadTile {
  int X = 0, Y = 0;
  TTileKind Kind = TTileKind::Good;
};

struct TCoverageSummary : TTileCounts {
  long long Tiles = 0;  // of the task
  double Seconds = 0;
  bool Decoded = false;
  bool Stopped = false;  // Stop answered true before every tile was checked
  // Tiles read so far, for progress only: ahead of the counts by the tiles of
  // blocks not yet handed on.
  long long Read = 0;

  long long Checked() const { return Total(); }
  long long Bad() const { return Checked() - Count(TTileKind::Good); }
  double TilesPerSecond() const { return Seconds > 0 ? static_cast<double>(Checked()) / Seconds : 0; }
};

// "20 tiles: 14 good, 1 missing, 1 empty, 1 not an image, 1 placeholder, 1 not
// decodable, 1 not 256x256; 41234 tiles/s"; the decoder's kinds only when it ran.
std::string SummaryLine(const TCoverageSummary& summary);
// The time a run over total tiles has left at its rate so far, "0:01:05";
// "--:--" before it has a rate.
std::string TimeLeft(long long done, long long total, double seconds);
// "1200/20000 tiles, 41234 tiles/s, 3 bad, 0:00:01 left", while a check runs.
std::string CheckStatusLine(long long checked, long long tiles, long long bad, double seconds);

struct TCoverageOptions {
  // Decode every image to find damaged data and sizes other than TileSide.
  bool Decode = false;
  // Holds blankimg/blank.jpg and blank.png, the placeholders; without them none is found.
  std::filesystem::path ProgramFolder{};
  // A tile file longer than this is no tile (the configuration's MaxTileBytes).
  std::size_t MaxTileBytes = DefaultMaxTileBytes;
  // Threads reading the tiles; 0: one per processor, at most 4.
  int Threads = 0;
  // On the calling thread, in walk order.
  std::function<void(const TBadTile&)> OnBad{};
  // On the calling thread about every 100 ms: the check so far (its counts,
  // the tiles handed to OnBad among them, and its time).
  std::function<void(const TCoverageSummary& sofar)> OnProgress{};
  // Asked often; true ends the check early.
  std::function<bool()> Stop{};
};

// Sorts every tile of a task, in the task's walk order, by what its file holds.
// Reads the tile folder and the blank images, writes nothing. Memory stays the
// same however many tiles the task has. A tile folder that is missing holds no
// tile; one that cannot be opened throws EFileError "Cannot open file %s". An
// error that escapes OnBad ends the check and reaches the caller.
TCoverageSummary CheckCoverage(const TTileGrid& grid, const TCoverageOptions& options);

// Bad tiles as a failed-tile list ("path|url" lines), which the re-download
// takes as it is: the file appears, whole, on Commit.
class TRepairListWriter {
 public:
  TRepairListWriter(const std::filesystem::path& target, const TTileGrid& grid);
  void Add(int x, int y);
  void Commit();

 private:
  void Flush();

  TAtomicFileWriter Writer;
  const TTileGrid& Grid;
  std::string Pending;
};

}  // namespace meridane
