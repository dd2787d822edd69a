#include "task/Request.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "geo/Convert.h"
#include "task/DownloadTask.h"
#include "task/TileGrid.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {
constexpr char Separator = static_cast<char>(fs::path::preferred_separator);
}  // namespace

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

int StoredThreadCount(const TTaskParams& request, int threadCount) {
  try {
    return std::min(threadCount, ComputeTileRange(request).TotalCount);
  } catch (const ETaskBuildError&) {
    return threadCount;  // building the task fails the same way and reports it
  }
}

const char* CheckArea(const std::string& leftText, const std::string& topText, const std::string& rightText,
                      const std::string& bottomText, TArea& area) {
  const auto left = ParseCoordinate(leftText), right = ParseCoordinate(rightText);
  const auto top = ParseCoordinate(topText), bottom = ParseCoordinate(bottomText);
  if (!left || !right || !top || !bottom) return RequestText::InputError;
  if (*left < -180 || *left > 180) return RequestText::LeftRange;
  if (*right < -180 || *right > 180) return RequestText::RightRange;
  if (*top < -90 || *top > 90) return RequestText::TopRange;
  if (*bottom < -90 || *bottom > 90) return RequestText::BottomRange;
  if (*left > *right) return RequestText::LeftRight;
  if (*top < *bottom) return RequestText::BottomTop;
  area = {*left, *right, *top, *bottom};
  return nullptr;
}

std::vector<std::string> RequestDifferences(const TProjectReader& project, const TStoredRequest& request) {
  std::vector<std::string> lines;
  auto differs = [&lines](const char* name, const std::string& stored, const std::string& now) {
    lines.push_back(std::string(name) + ": " + (stored.empty() ? "nothing" : stored) + " in the project, " + now +
                    " now");
  };
  const struct {
    const char* Name;
    TProjectValue Value;
    const std::string& Typed;
  } edges[] = {
      {"Left Longitude", TProjectValue::LeftLongitude, request.Left},
      {"Right Longitude", TProjectValue::RightLongitude, request.Right},
      {"Top Latitude", TProjectValue::TopLatitude, request.Top},
      {"Bottom Latitude", TProjectValue::BottomLatitude, request.Bottom},
  };
  for (const auto& edge : edges) {
    const std::string stored = project.Text(edge.Value);
    const auto before = ParseCoordinate(stored), now = ParseCoordinate(edge.Typed);
    if (!before || !now || *before != *now) differs(edge.Name, stored, edge.Typed);
  }
  const struct {
    const char* Name;
    TProjectValue Value;
    int Missing, Now;
  } numbers[] = {
      {"Zoom level", TProjectValue::Zoom, 100, request.Zoom},
      {"Threads count", TProjectValue::ThreadCount, 0, request.ThreadCount},
      {"Maps type", TProjectValue::MapsType, 100, request.MapsType},
  };
  for (const auto& n : numbers)
    if (project.Integer(n.Value, n.Missing) != n.Now) differs(n.Name, project.Text(n.Value), std::to_string(n.Now));
  return lines;
}

bool ProjectHoldsRequest(const TProjectReader& project, const TStoredRequest& request) {
  return RequestDifferences(project, request).empty();
}

const char* CompleteTaskName(std::string& name) {
  if (FileExtension(name) != ".mrd") name += ".mrd";
  // The name is a file name in the download folder, and its stem names the log,
  // the lists and the tile folder: it may not lead anywhere else.
  const std::string stem = name.substr(0, name.size() - 4);
  if (stem.empty()) return RequestText::NoTaskName;
  if (stem == "." || stem == ".." || stem.find('/') != std::string::npos || stem.find(Separator) != std::string::npos)
    return RequestText::BadTaskName;
  if (HasControlCharacter(stem)) return RequestText::TaskNameControl;
  return nullptr;
}

std::string AbsoluteFolder(const std::string& text) {
  std::string path = text;
  if (path == "~" || path.starts_with("~/")) {
    const char* home = std::getenv("HOME");
    if (home && *home) path = home + path.substr(1);
  }
  // Without links or "..": the task's files hold paths that lead where they
  // say, and the re-download takes them as they are.
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  if (ec || path.empty()) return path;
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  // A folder on the way that cannot be looked into leaves the path as typed.
  std::string whole = (ec ? absolute : resolved).string();
  // The separator as typed: a folder that exists loses it.
  if (path.back() == Separator && !whole.ends_with(Separator)) whole += Separator;
  return whole;
}

}  // namespace meridane
