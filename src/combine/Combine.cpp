#include "combine/Combine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>

#include "combine/ArchiveWrite.h"
#include "combine/Folder.h"
#include "combine/Kmz.h"
#include "combine/Levels.h"
#include "config/AtomicFile.h"
#include "config/Config.h"
#include "tiles/Coverage.h"
#include "tiles/Inputs.h"

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

std::vector<TTileSource> OpenCombineInputs(const TCombineInputs& inputs, const fs::path& config,
                                           const fs::path& programFolder) {
  TStartConfig start;
  try {
    start = TConfig(TConfigSource(config, programFolder).Read()).ReadStart();
  } catch (const std::runtime_error& e) {
    throw ECombineInputError(e.what());
  }
  return OpenInputs(inputs.Paths, {.Zoom = inputs.Zoom, .FromSouth = inputs.FromSouth}, start);
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

std::string PartialPrefix(const fs::path& output) { return "." + output.stem().string() + ".~partial-"; }

fs::path LockName(const fs::path& output, const std::string& tag) {
  return output.parent_path() / (PartialPrefix(output) + tag + ".lock");
}

enum class TLock { Taken, Busy, Failed };

// Takes the lock of a tag, without waiting: fresh for a tag of this run's own
// (the file must be new), else to clean up after a run. A lock file another
// run removed between the open and the lock guards nothing, and counts as busy.
TLock TakeLock(const fs::path& lock, bool fresh, int& descriptor) {
  descriptor = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fresh ? O_EXCL : 0), 0600);
  if (descriptor < 0) return errno == EEXIST ? TLock::Busy : TLock::Failed;
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    // A file system without locks: the run's own name still keeps it apart
    // from the others, and no run cleans up there.
    if (fresh && error != EWOULDBLOCK && error != EINTR) return TLock::Taken;
    ::close(std::exchange(descriptor, -1));
    errno = error;
    return error == EWOULDBLOCK ? TLock::Busy : TLock::Failed;
  }
  struct stat opened {}, named {};
  if (::fstat(descriptor, &opened) == 0 && ::stat(lock.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
      opened.st_ino == named.st_ino)
    return TLock::Taken;
  ::close(std::exchange(descriptor, -1));
  return TLock::Busy;
}

// Removes the partial files of the output's name (whatever its format) that
// runs which did not finish left: those whose lock can be taken, as no live
// run holds it.
void RemoveLeftPartials(const fs::path& output) {
  const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
  const std::string prefix = PartialPrefix(output);
  std::map<std::string, std::vector<fs::path>> byTag;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    // A folder output's partial folder has no extension after its tag.
    const std::size_t dot = std::min(name.find('.', prefix.size()), name.size());
    if (!name.starts_with(prefix) || dot <= prefix.size()) continue;
    // A tag is "PID-COUNTER"; the parts of a split output add "-N" to it.
    std::string tag = name.substr(prefix.size(), dot - prefix.size());
    if (const std::size_t dash = tag.find('-'); dash != std::string::npos) tag = tag.substr(0, tag.find('-', dash + 1));
    byTag[tag].push_back(entry.path());
  }
  for (const auto& [tag, files] : byTag) {
    const fs::path lock = LockName(output, tag);
    int descriptor = -1;
    if (TakeLock(lock, false, descriptor) != TLock::Taken) continue;
    for (const fs::path& file : files)
      if (file.filename() != lock.filename()) fs::remove_all(file, ec);
    fs::remove(lock, ec);  // while still held: no run takes the tag before its files are gone
    ::close(descriptor);
  }
}

// The partial files of this run, under a tag of its own whose lock it holds
// until they are gone: renamed into place, or removed unless they were.
class TPartialFiles {
 public:
  TPartialFiles(const fs::path& output, TOutputFormat format, const TTileSet& set) : Output(output) {
    static std::atomic<unsigned long long> counter{0};
    for (int attempt = 0; attempt < 100 && Descriptor < 0; ++attempt) {
      Tag = std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
      if (TakeLock(LockName(Output, Tag), true, Descriptor) == TLock::Failed)
        throw EWriteError(Output, WriteFailureReason(errno));
    }
    if (Descriptor < 0) throw EWriteError(Output, "no partial file name is free");
    Path = PartialName(Output, Tag);
    Files = OutputFiles(format, Path, set);
  }
  ~TPartialFiles() {
    std::error_code ec;
    // A database writer keeps its journal beside its file; a folder output
    // is a folder, and moves the one it replaces to ".old".
    for (const char* suffix : {"", "-journal", "-wal", "-shm", ".old"}) fs::remove_all(Files.front().string() + suffix, ec);
    for (std::size_t i = 1; i < Files.size(); ++i) fs::remove(Files[i], ec);
    fs::remove(LockName(Output, Tag), ec);
    ::close(Descriptor);
  }
  TPartialFiles(const TPartialFiles&) = delete;
  TPartialFiles& operator=(const TPartialFiles&) = delete;

  fs::path Path;                // the output's partial name, which its writer is given
  std::vector<fs::path> Files;  // as OutputFiles names them

 private:
  fs::path Output;
  std::string Tag;
  int Descriptor = -1;
};

// Puts a complete file on the disk, then gives it its name: a power cut after
// finds the old file or the whole new one under the name, never an empty one.
// written: the file as this run wrote it. Returns an errno, or 0.
int SyncAndRename(const fs::path& from, const fs::path& to, struct stat& written) {
  const int descriptor = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errno;
  int error = 0;
  if ((::fdatasync(descriptor) != 0 && errno != EINVAL) || ::fstat(descriptor, &written) != 0) error = errno;
  ::close(descriptor);
  if (!error && ::rename(from.c_str(), to.c_str()) != 0) error = errno;
  return error;
}

// The folder's entries on the disk, after the renames into it. Returns an errno, or 0.
int SyncFolder(const fs::path& folder) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return errno;
  const int error = ::fsync(descriptor) == 0 || errno == EINVAL ? 0 : errno;
  ::close(descriptor);
  return error;
}

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
  std::string written = Plural(s.Written(), "tile", "tiles") + " written";
  if (!s.Levels.empty()) {
    const int low = s.Levels.begin()->first, high = s.Levels.rbegin()->first;
    written += ", " + std::to_string(s.WrittenAtZoom()) + " at zoom " + std::to_string(s.Zoom) + " and " +
               std::to_string(s.LevelTiles()) + " at zoom" +
               (low == high ? " " + std::to_string(low) : "s " + std::to_string(low) + " to " + std::to_string(high)) +
               " (" + std::to_string(s.Built) + " of them built)";
  }
  const std::string conflicts = s.Conflicts > 0 ? "; " + Plural(s.Conflicts, "conflict", "conflicts") +
                                                      " (inputs overlap with different tiles: the earlier input's kept)"
                                                : std::string();
  const fs::path name = output.has_filename() ? output.filename() : output.parent_path().filename();
  return written + "; left out: " + LeftOut(s) + conflicts + "; " + name.string() + ", " + Size(s.OutputBytes) +
         (s.Layout.empty() ? "" : "; " + s.Layout);
}

std::string NothingWrittenText(const TFeedResult& fed) {
  return "None of the " + std::to_string(fed.Fed()) + " tiles could be written; left out: " + LeftOut(fed) + ".";
}

fs::path PartialName(const fs::path& output, const std::string& tag) {
  return output.parent_path() / (PartialPrefix(output) + tag + output.extension().string());
}

TCombineSummary Combine(const TTileSource& source, const TCombineRun& run) {
  return Combine(std::vector<TTileSource>{source}, run);
}

namespace {

// A folder output replaces only an empty folder or an earlier one of its kind.
void CheckFolderTarget(const fs::path& output) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(output, ec);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status))
    throw ECombineInputError(output.string() + " exists and is not a folder: choose a new or empty folder.");
  if (!fs::is_empty(output, ec) && !IsTileFolderOutput(output))
    throw ECombineInputError("The folder " + output.string() +
                             " holds other files: choose a new or empty folder, so that the tiles mix with nothing.");
}

// The bytes of the files in a folder, all levels down.
std::uintmax_t FolderBytes(const fs::path& folder) {
  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) bytes += it->file_size(ec);
  return bytes;
}

constexpr const char* SeveralZoomsText = "Several zooms can go only into .mbtiles, .pmtiles, .sqlitedb or a folder of tiles.";

}  // namespace

TCombineSummary Combine(const std::vector<TTileSource>& given, const TCombineRun& run) {
  if (given.empty()) throw ECombineInputError("No input to combine.");
  const auto format = OutputFormatOf(run.Output);
  if (!format)
    throw ECombineInputError("Unknown output format: " + run.Output.filename().string() +
                             " (the name must end in .mbtiles, .pmtiles, .tif, .png, .jpg, .sqlitedb or .kmz, or in / for a folder)");
  // "maps/out/" is the folder "maps/out".
  fs::path output = run.Output;
  while (output.string().size() > 1 && output.string().ends_with('/')) output = output.string().substr(0, output.string().size() - 1);
  if (run.Options.Quality < 1 || run.Options.Quality > 100)
    throw ECombineInputError("The JPEG quality must be 1 to 100.");
  const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
  if (!fs::is_directory(folder)) throw ECombineInputError(CannotCreateMessage(output));

  // The finest input is the set; the others give the zooms below.
  std::vector<const TTileSource*> sources;
  for (const TTileSource& source : given) sources.push_back(&source);
  std::stable_sort(sources.begin(), sources.end(), [](auto* a, auto* b) { return a->Set.Zoom > b->Set.Zoom; });
  for (std::size_t i = 1; i < sources.size(); ++i)
    if (sources[i]->Set.Zoom == sources[i - 1]->Set.Zoom)
      throw ECombineInputError("Two inputs are of zoom " + std::to_string(sources[i]->Set.Zoom) +
                               ": give one input for each zoom.");
  if (!IsArchive(*format) && run.Options.MinZoom)
    throw ECombineInputError("A lowest zoom (--min-zoom) can go only into .mbtiles, .pmtiles, .sqlitedb or a folder of tiles.");
  const TTileSource& source = *sources.front();
  std::vector<const TTileSource*> others;
  std::string note;
  if (IsArchive(*format)) {
    others.assign(sources.begin() + 1, sources.end());
  } else if (sources.size() > 1) {
    // A picture, a GeoTIFF or a KMZ is one zoom: the finest.
    std::string zooms;
    for (std::size_t i = sources.size(); i-- > 1;) zooms += (zooms.empty() ? "" : ", ") + std::to_string(sources[i]->Set.Zoom);
    note = (sources.size() == 2 ? "Zoom " + zooms + " is" : "Zooms " + zooms + " are") +
           " left out: the output holds the finest zoom, " + std::to_string(source.Set.Zoom) + ".";
  }
  std::vector<TTileSet> sets{source.Set};
  for (const TTileSource* s : others) sets.push_back(s->Set);
  const int minZoom = run.Options.MinZoom.value_or(LowestZoom(sets));
  if (minZoom < 0 || minZoom > source.Set.Zoom)
    throw ECombineInputError("The lowest zoom must be 0 to " + std::to_string(source.Set.Zoom) +
                             ", the zoom of the tiles; it is " + std::to_string(minZoom) + ".");
  if (*format == TOutputFormat::Folder) CheckFolderTarget(output);

  TTileSet set = source.Set;
  // A picture too large for its format is refused before anything is written.
  if (const auto picture = PictureFormatOf(*format))
    if (const auto refusal = PictureSizeRefusal(set, *picture)) throw ECombineInputError(*refusal);
  if (!run.Options.Name.empty()) set.Name = run.Options.Name;
  set.Description = run.Options.Description;
  // The bounds an archive tells cover every input.
  for (const TTileSource* other : others) {
    set.West = std::min(set.West, other->Set.West), set.East = std::max(set.East, other->Set.East);
    set.South = std::min(set.South, other->Set.South), set.North = std::max(set.North, other->Set.North);
  }
  RemoveLeftPartials(output);

  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
  TCombineSummary summary;
  summary.Tiles = set.Count();
  summary.Zoom = set.Zoom;
  summary.Note = note;
  try {
    const TPartialFiles partial(output, *format, set);
    const std::vector<fs::path>& partials = partial.Files;
    const std::vector<fs::path> finals = OutputFiles(*format, output, set);
    // The tiles' own format, not the map type's: a GeoTIFF chooses its encoding by it.
    set.Format = FirstTileFormat(source, {.ProgramFolder = run.ProgramFolder});
    std::unique_ptr<ITileSink> sink = run.MakeSink(*format, partial.Path, set, run.Options);
    std::unique_ptr<TLevelBuilder> levels;
    if (sink->TakesLevels() && (minZoom < set.Zoom || !others.empty()))
      levels = std::make_unique<TLevelBuilder>(
          set, others, TLevelBuilder::TOptions{.MinZoom = minZoom, .Quality = run.Options.Quality,
                                               .ProgramFolder = run.ProgramFolder, .MaxTileBytes = DefaultMaxTileBytes},
          *sink);
    else if (!others.empty())
      throw ECombineInputError(SeveralZoomsText);
    TFeedOptions feed{.ProgramFolder = run.ProgramFolder,
                      .Pixels = !IsArchive(*format),
                      .LookAhead = *format == TOutputFormat::Png,
                      .OnProgress =
                          [&](long long done) {
                            if (run.OnProgress) run.OnProgress({.Done = done, .Total = summary.Tiles, .Seconds = seconds()});
                          },
                      .Stop = run.Stop};
    if (levels)
      feed.OnHalf = [&](int x, int y, const TRgba& half, TImageFormat tileFormat) { levels->AddHalf(x, y, half, tileFormat); };
    const TFeedResult fed = FeedTiles(source, *sink, feed);
    static_cast<TFeedResult&>(summary) = fed;
    if (fed.Stopped) {
      levels.reset();
      sink.reset();  // before its files go
      summary.Seconds = seconds();
      return summary;
    }
    if (levels) {
      levels->Finish();
      summary.Levels = levels->Written();
      summary.Built = levels->Built();
      for (std::size_t k = 0; k < TileKindCount; ++k) summary.Counts[k] += levels->InputCounts().Counts[k];
      levels.reset();
    }
    // An output of no tile at all is of no use, and would look like a map.
    if (summary.Written() == 0) {
      sink.reset();
      throw ECombineNothingWritten(NothingWrittenText(summary));
    }
    sink->Finish();
    sink.reset();
    // A folder of tiles replacing an earlier one moves it aside first; the
    // partial files' cleanup removes it.
    std::error_code ec;
    if (*format == TOutputFormat::Folder && fs::exists(fs::symlink_status(output, ec)) && !fs::is_empty(output, ec)) {
      if (::rename(output.c_str(), (partials.front().string() + ".old").c_str()) != 0)
        throw EWriteError(output, WriteFailureReason(errno));
    }
    // The file itself last: its name appears once the files beside it are there.
    struct stat written {};
    for (std::size_t i = partials.size(); i-- > 0;) {
      if (i > 0 && !fs::exists(partials[i])) continue;
      if (const int error = SyncAndRename(partials[i], finals[i], written)) {
        // No world file without its picture.
        for (std::size_t j = i + 1; j < finals.size(); ++j) fs::remove(finals[j], ec);
        throw EWriteError(output, WriteFailureReason(error));
      }
    }
    // A split output's parts replace the file under the name the user chose.
    if (finals.front() != output) fs::remove(output, ec);
    if (const int error = SyncFolder(folder)) throw EWriteError(output, WriteFailureReason(error));
    // Another run may have put its own file there since: this run's is not the output then.
    struct stat named {};
    if (::stat(finals.front().c_str(), &named) != 0 || named.st_dev != written.st_dev ||
        named.st_ino != written.st_ino)
      throw EWriteError(output, "another run wrote it at the same time");
    summary.OutputBytes = *format == TOutputFormat::Folder ? FolderBytes(output) : static_cast<std::uintmax_t>(written.st_size);
    if (*format == TOutputFormat::Kmz) {
      // The parts of a split KMZ are all the map.
      for (std::size_t i = 1; i < finals.size(); ++i)
        if (const std::uintmax_t bytes = fs::file_size(finals[i], ec); !ec) summary.OutputBytes += bytes;
      summary.Layout = KmzLayoutText(set, output);
    }
  } catch (const EWriteError& e) {
    // The writers name the partial file, which the user never sees.
    throw EWriteError(output, e.Reason);
  }
  summary.Seconds = seconds();
  return summary;
}

}  // namespace meridane
