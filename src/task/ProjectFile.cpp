#include "task/ProjectFile.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "config/AtomicFile.h"
#include "config/IniFile.h"
#include "geo/Convert.h"
#include "geo/GeneralReal.h"
#include "task/MapTypes.h"
#include "task/TextFile.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

struct TKey {
  std::string_view Section, Name;
};
// By TProjectValue, in the order a new project file holds them.
constexpr TKey Keys[] = {
    {"MapsType", "MapsType"}, {"AREA", "LeftLongitude"}, {"AREA", "RightLongitude"}, {"AREA", "TopLatitude"},
    {"AREA", "BottomLatitude"}, {"Zoom", "Zoom"}, {"XY", "MinX"}, {"XY", "MinY"},
    {"XY", "MaxX"}, {"XY", "MaxY"}, {"THREADS", "ThreadCount"},
};
static_assert(std::size(Keys) == static_cast<std::size_t>(TProjectValue::ThreadCount) + 1);

const TKey& KeyOf(TProjectValue value) { return Keys[static_cast<std::size_t>(value)]; }

constexpr std::string_view PositionSection = "THREADS";
// "T3X" for slot 2.
std::string PositionKey(std::size_t slot, char axis) { return "T" + std::to_string(slot + 1) + axis; }

// Absolute, with every link and ".." resolved as far as the path exists.
fs::path Resolved(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec) resolved = fs::absolute(path, ec).lexically_normal();
  // "T/" is T.
  return resolved.has_filename() ? resolved : resolved.parent_path();
}

}  // namespace

bool AnyPosition(const TPositions& positions) {
  return std::any_of(positions.begin(), positions.end(), [](const TTilePosition& p) { return p.X > 0 || p.Y > 0; });
}

TProjectReader::TProjectReader(const fs::path& path) {
  try {
    *this = Open(path);
  } catch (const EFileError&) {
  }
}

TProjectReader TProjectReader::Open(const fs::path& path) {
  TProjectReader reader;
  std::error_code ec;
  if (fs::status(path, ec).type() != fs::file_type::not_found) reader.Content = ReadRegularFile(path, MaxProjectBytes);
  return reader;
}

TProjectReader TProjectReader::FromText(std::string content) {
  TProjectReader reader;
  reader.Content = std::move(content);
  return reader;
}

std::string TProjectReader::Text(TProjectValue value) const {
  const TKey& key = KeyOf(value);
  return ReadIniValue(Content, key.Section, key.Name).value_or("");
}

int TProjectReader::Integer(TProjectValue value, int missing) const {
  int number = missing;
  return ParseDecimalInteger(Text(value), number) ? number : missing;
}

TPositions TProjectReader::Positions() const {
  auto read = [this](const std::string& key) {
    int number = 0;
    return ParseDecimalInteger(ReadIniValue(Content, PositionSection, key).value_or(""), number) ? number : 0;
  };
  TPositions positions;
  for (std::size_t slot = 0; slot < positions.size(); ++slot)
    positions[slot] = {read(PositionKey(slot, 'X')), read(PositionKey(slot, 'Y'))};
  return positions;
}

void WriteNewProject(const fs::path& path, const TTaskParams& params, const TTileRange& range) {
  const std::string texts[] = {
      std::to_string(params.MapsType),          FormatGeneralReal(params.LeftLongitude),
      FormatGeneralReal(params.RightLongitude), FormatGeneralReal(params.TopLatitude),
      FormatGeneralReal(params.BottomLatitude), std::to_string(params.Zoom),
      std::to_string(range.MinX),               std::to_string(range.MinY),
      std::to_string(range.MaxX),               std::to_string(range.MaxY),
      std::to_string(params.ThreadCount),
  };
  static_assert(std::size(texts) == std::size(Keys));
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < std::size(Keys); ++i) {
    if (i == 0 || Keys[i].Section != Keys[i - 1].Section) {
      if (i != 0) lines.emplace_back();
      lines.push_back("[" + std::string(Keys[i].Section) + "]");
    }
    lines.push_back(std::string(Keys[i].Name) + "=" + texts[i]);
  }
  for (std::size_t slot = 0; slot < static_cast<std::size_t>(std::max(params.SlotCount, 0)); ++slot) {
    lines.push_back(PositionKey(slot, 'X') + "=");
    lines.push_back(PositionKey(slot, 'Y') + "=");
  }
  lines.emplace_back();
  WriteLines(path, lines);
}

void WriteProjectPositions(const fs::path& path, const TPositions& positions) {
  std::vector<std::pair<std::string, std::string>> keys;
  for (std::size_t slot = 0; slot < positions.size(); ++slot) {
    const auto [x, y] = positions[slot];
    if (x > 0) keys.emplace_back(PositionKey(slot, 'X'), std::to_string(x));
    if (y > 0) keys.emplace_back(PositionKey(slot, 'Y'), std::to_string(y));
  }
  if (!keys.empty()) TIniFile(path).WriteStrings(PositionSection, keys);
}

TTaskParams OpenTaskReadOnly(const fs::path& path, const TStartConfig& config) {
  // Unlike the main window's reading, a file that is missing is no task either.
  const TProjectReader project = TProjectReader::FromText(ReadRegularFile(path, MaxProjectBytes));
  const fs::path file = fs::absolute(path);
  TTaskParams params;
  ApplyStartConfig(params, config);
  params.Folder = file.parent_path().string();
  if (!params.Folder.ends_with(static_cast<char>(fs::path::preferred_separator)))
    params.Folder += static_cast<char>(fs::path::preferred_separator);
  params.TaskName = file.filename().string();
  params.Resume = true;

  const struct {
    TProjectValue Value;
    double Limit;
    double& Into;
  } coordinates[] = {
      {TProjectValue::LeftLongitude, 180, params.LeftLongitude},
      {TProjectValue::RightLongitude, 180, params.RightLongitude},
      {TProjectValue::TopLatitude, 90, params.TopLatitude},
      {TProjectValue::BottomLatitude, 90, params.BottomLatitude},
  };
  for (const auto& c : coordinates) {
    const std::optional<double> number = ParseCoordinate(project.Text(c.Value));
    if (!number || *number < -c.Limit || *number > c.Limit)
      throw ETaskBuildError("The project file " + path.string() + " has no valid " +
                            std::string(KeyOf(c.Value).Name) + ".");
    c.Into = *number;
  }
  params.Zoom = project.Integer(TProjectValue::Zoom, 0);
  // As the main window opens a task: a map type it does not offer is the satellite maps.
  params.MapsType = project.Integer(TProjectValue::MapsType, SatelliteMapType);
  if (MapTypeOf(params.MapsType).Name.empty()) params.MapsType = SatelliteMapType;
  params.ThreadCount = std::clamp(project.Integer(TProjectValue::ThreadCount, 1), 1, ProjectSlots);
  return params;
}

bool IsTaskFile(const fs::path& task, const fs::path& path) {
  std::error_code ec;
  const fs::path target = Resolved(path);
  // As a task names them, after its project file without the extension, in its
  // folder: a link to the project file leads elsewhere, the task is here.
  std::vector<fs::path> files;
  fs::path stem;
  if (fs::is_directory(task, ec)) {
    stem = Resolved(task);
  } else {
    files.push_back(task);
    const fs::path project = fs::absolute(task, ec);
    stem = Resolved(project.parent_path()) / project.stem();
  }
  const fs::path tiles = Resolved(stem);
  for (const char* suffix : {".mrd", "_list.txt", "_log.txt", "_failed.ftl"}) files.push_back(stem.string() + suffix);
  for (const fs::path& file : files)
    if (Resolved(file) == target || fs::equivalent(file, path, ec)) return true;
  // The tile folder itself, or anything under it.
  return std::mismatch(tiles.begin(), tiles.end(), target.begin(), target.end()).first == tiles.end();
}

std::string TaskFileRefusal(const fs::path& path) {
  return "Not written: " + path.string() + " is a file of the task or lies in its tile folder.";
}

}  // namespace meridane
