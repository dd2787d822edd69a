#include "combine/Combine.h"

#include <chrono>
#include <cstdio>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "tiles/Coverage.h"

namespace meridane {

namespace fs = std::filesystem;

TTileSource OpenInput(const TCombineInput& input, const fs::path& config, const fs::path& programFolder) {
  if (input.Zoom) return FolderSource(input.Path, *input.Zoom);
  TStartConfig start;
  try {
    start = TConfig(TConfigSource(config, programFolder).Read()).ReadStart();
  } catch (const std::runtime_error& e) {
    throw ECombineInputError(e.what());
  }
  return TaskSource(input.Path, start);
}

std::string ProgressLine(const TCombineProgress& p) {
  const double rate = p.Seconds > 0 ? static_cast<double>(p.Done) / p.Seconds : 0;
  char text[160];
  std::snprintf(text, sizeof text, "%lld/%lld tiles, %.0f tiles/s, %s left", p.Done, p.Total, rate,
                TimeLeft(p.Done, p.Total, p.Seconds).c_str());
  return text;
}

namespace {

// "16 bytes", "1.2 MB (1234567 bytes)"
std::string Size(std::uintmax_t bytes) {
  const std::string exact = std::to_string(bytes) + " bytes";
  if (bytes < 1024) return exact;
  char text[64];
  if (bytes < 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024);
  else if (bytes < 1024ULL * 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024 * 1024));
  else
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / (1024 * 1024 * 1024));
  return text + (" (" + exact + ")");
}

std::string Plural(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Removes the partial files of an output unless it was completed.
class TPartialFiles {
 public:
  explicit TPartialFiles(std::vector<fs::path> files) : Files(std::move(files)) {
    // A database writer keeps its journal beside its file.
    const std::string main = Files.front().string();
    for (const char* suffix : {"-journal", "-wal", "-shm"}) Files.push_back(main + suffix);
    Remove();  // what a killed run left
  }
  ~TPartialFiles() {
    if (!Kept) Remove();
  }
  TPartialFiles(const TPartialFiles&) = delete;
  TPartialFiles& operator=(const TPartialFiles&) = delete;
  void Keep() { Kept = true; }

 private:
  void Remove() noexcept {
    for (const fs::path& file : Files) {
      std::error_code ec;
      fs::remove(file, ec);
    }
  }
  std::vector<fs::path> Files;
  bool Kept = false;
};

// "1 placeholder, 40 missing, 0 empty, 1 not an image, 2 not decodable, 0 not 256x256"
std::string LeftOut(const TFeedResult& s) {
  std::string text = Plural(s.Count(TTileKind::Placeholder), "placeholder", "placeholders");
  for (const TTileKind kind : {TTileKind::Missing, TTileKind::Empty, TTileKind::NotImage, TTileKind::NotDecodable,
                               TTileKind::OtherSize})
    text += ", " + std::to_string(s.Count(kind)) + " " + std::string(TileKindName(kind));
  return text;
}

}  // namespace

std::string SummaryText(const TCombineSummary& s, const fs::path& output) {
  if (s.Stopped) return "Stopped: nothing written.";
  return Plural(s.Written(), "tile", "tiles") + " written; left out: " + LeftOut(s) + "; " +
         output.filename().string() + ", " + Size(s.OutputBytes);
}

std::string NothingWrittenText(const TFeedResult& fed) {
  return "None of the " + std::to_string(fed.Fed()) + " tiles could be written; left out: " + LeftOut(fed) + ".";
}

fs::path PartialName(const fs::path& output) {
  return output.parent_path() / ("." + output.stem().string() + ".~partial" + output.extension().string());
}

TCombineSummary Combine(const TTileSource& source, const TCombineRun& run) {
  const auto format = OutputFormatOf(run.Output);
  if (!format)
    throw ECombineInputError("Unknown output format: " + run.Output.filename().string() +
                             " (the name must end in .mbtiles, .pmtiles, .tif, .png or .jpg)");
  if (run.Options.Quality < 1 || run.Options.Quality > 100)
    throw ECombineInputError("The JPEG quality must be 1 to 100.");
  const fs::path folder = run.Output.parent_path().empty() ? fs::path(".") : run.Output.parent_path();
  if (!fs::is_directory(folder)) throw ECombineInputError(CannotCreateMessage(run.Output));

  TTileSet set = source.Set;
  // A picture too large for its format is refused before anything is written.
  if (const auto picture = PictureFormatOf(*format))
    if (const auto refusal = PictureSizeRefusal(set, *picture)) throw ECombineInputError(*refusal);
  if (!run.Options.Name.empty()) set.Name = run.Options.Name;
  set.Description = run.Options.Description;
  const fs::path partial = PartialName(run.Output);
  const std::vector<fs::path> partials = OutputFiles(*format, partial), finals = OutputFiles(*format, run.Output);
  TPartialFiles cleanup(partials);

  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
  TCombineSummary summary;
  summary.Tiles = set.Count();
  std::unique_ptr<ITileSink> sink = run.MakeSink(*format, partial, set, run.Options);
  const TFeedResult fed = FeedTiles(
      source, *sink,
      {.ProgramFolder = run.ProgramFolder,
       .Pixels = !IsArchive(*format),
       .OnProgress =
           [&](long long done) {
             if (run.OnProgress) run.OnProgress({.Done = done, .Total = summary.Tiles, .Seconds = seconds()});
           },
       .Stop = run.Stop});
  static_cast<TFeedResult&>(summary) = fed;
  if (fed.Stopped) {
    sink.reset();  // before its files go
    summary.Seconds = seconds();
    return summary;
  }
  // An output of no tile at all is of no use, and would look like a map.
  if (summary.Written() == 0) {
    sink.reset();
    throw ECombineNothingWritten(NothingWrittenText(fed));
  }
  sink->Finish();
  sink.reset();
  // The file itself last: its name appears once the files beside it are there.
  for (std::size_t i = partials.size(); i-- > 0;) {
    std::error_code ec;
    if (i > 0 && !fs::exists(partials[i])) continue;
    fs::rename(partials[i], finals[i], ec);
    if (!ec) continue;
    // No world file without its picture.
    for (std::size_t j = i + 1; j < finals.size(); ++j) fs::remove(finals[j], ec);
    throw EFileError(CannotCreateMessage(finals[i]));
  }
  cleanup.Keep();
  for (const fs::path& file : finals) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (!ec) summary.OutputBytes += size;
  }
  summary.Seconds = seconds();
  return summary;
}

}  // namespace meridane
