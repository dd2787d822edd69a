#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "combine/Outputs.h"
#include "combine/Source.h"

namespace meridane {

// What the user gave as the input: a project file, or a tile folder with its zoom.
struct TCombineInput {
  std::filesystem::path Path;
  std::optional<int> Zoom;  // given: Path is a tile folder
};

// The input's tiles. config is the configuration file (empty: the one the
// program finds in programFolder). Throws ECombineInputError.
TTileSource OpenInput(const TCombineInput& input, const std::filesystem::path& config,
                      const std::filesystem::path& programFolder);

// What the user gave as the inputs: project files, tile folders, archives.
struct TCombineInputs {
  std::vector<std::filesystem::path> Paths;
  std::optional<int> Zoom;  // only the tiles of this zoom; else every zoom found
  bool FromSouth = false;   // a Z/X/Y tree counts rows from the south (TMS)
};

// The inputs' tiles, one source a zoom, lowest first, the inputs of one zoom
// joined (OpenInputs). Throws ECombineInputError.
std::vector<TTileSource> OpenCombineInputs(const TCombineInputs& inputs, const std::filesystem::path& config,
                                           const std::filesystem::path& programFolder);

struct TCombineProgress {
  long long Done = 0, Total = 0;
  double Seconds = 0;
};
// "1200/20000 tiles, 4123 tiles/s, 0:00:04 left"
std::string ProgressLine(const TCombineProgress& progress);

// The tiles of every input by kind, and whether a stop left nothing written.
struct TCombineSummary : TFeedResult {
  long long Tiles = 0;             // of the set of the finest zoom
  std::uintmax_t OutputBytes = 0;  // of the output's own file (a picture's, not its world file's; a split KMZ's parts; a folder's files)
  double Seconds = 0;
  std::string Layout;  // how the output is cut into files, when it is (a KMZ's overlays)
  std::string Note;    // said before the summary: the inputs' zooms a one-zoom output leaves out
  int Zoom = 0;        // of the set
  // Tiles written at the zooms below the set's by zoom: built, or an input's of that zoom.
  std::map<int, long long> Levels;
  long long Built = 0;  // of those, the ones built from the zoom above

  long long LevelTiles() const {
    long long total = 0;
    for (const auto& [zoom, count] : Levels) total += count;
    return total;
  }
  // Of the set's zoom: the good tiles of the finest input.
  long long WrittenAtZoom() const { return Count(TTileKind::Good) - (LevelTiles() - Built); }
  // In all.
  long long Written() const { return Count(TTileKind::Good) + Built; }
};
// "1200 tiles written; left out: 3 placeholders, 40 missing, 0 empty, 1 not
// an image, 2 not decodable, 0 not 256x256; map.mbtiles, 1.2 MB (1234567 bytes)";
// with zooms below: "1600 tiles written, 1200 at zoom 16 and 400 at zooms 10
// to 15 (380 of them built); left out: ...". What is left out counts every
// input's tiles. Inputs that overlap with other tiles add "; 2 conflicts (...)"
// before the file, and then "; " and the Layout, if any.
std::string SummaryText(const TCombineSummary& summary, const std::filesystem::path& output);

// Not one tile of the input could be written: nothing was put under the
// output's name. The message counts what was left out.
class ECombineNothingWritten : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// "None of the 20 tiles could be written; left out: 0 placeholders, 0 missing,
// 0 empty, 0 not an image, 20 not decodable, 0 not 256x256."
std::string NothingWrittenText(const TFeedResult& fed);

using TSinkFactory = std::function<std::unique_ptr<ITileSink>(TOutputFormat, const std::filesystem::path&,
                                                              const TTileSet&, const TCombineOptions&)>;

struct TCombineRun {
  std::filesystem::path Output;  // its extension names the format
  TCombineOptions Options;
  std::filesystem::path ProgramFolder;  // holds blankimg/
  // On the calling thread about every 100 ms.
  std::function<void(const TCombineProgress&)> OnProgress{};
  // Asked before every tile; true ends the run with nothing written.
  std::function<bool()> Stop{};
  TSinkFactory MakeSink = meridane::MakeSink;
};

// Where one run writes an output until it is complete: ".NAME.~partial-TAG.EXT"
// beside it, so that a picture's world file has a name of its own too. Each
// run has a tag of its own, and holds a lock on ".NAME.~partial-TAG.lock" while
// it writes (a split KMZ's parts add "-N" to the tag: ".NAME.~partial-TAG-N.EXT"):
// two runs writing the same output never share a file, and a run
// removes only the partial files of tags whose lock it can take (of runs that
// were killed).
std::filesystem::path PartialName(const std::filesystem::path& output, const std::string& tag);

// Writes the output of the source's tiles. The files are written under their
// partial names and take the output's names once complete and on the disk; a
// stop, an error or a full disk removes them and leaves the output's names as
// they were. An output format or option the run cannot take throws
// ECombineInputError; a failure while writing throws std::runtime_error with
// the user's message, which names the output (EWriteError when a file could
// not be written). When another run put its output in place meanwhile, this
// run's output is not the one there, and that is a failure too. A run that
// could write no tile throws ECombineNothingWritten and leaves nothing.
TCombineSummary Combine(const TTileSource& source, const TCombineRun& run);
// The same of several inputs, each of a zoom of its own: the finest is the
// set; the others' sound tiles are stored at their zooms, in place of the
// tiles built there from the zoom above. Several inputs go only into an
// output of several zooms (ECombineInputError otherwise).
TCombineSummary Combine(const std::vector<TTileSource>& sources, const TCombineRun& run);

}  // namespace meridane
