#include "config/RecentTasks.h"

#include <algorithm>
#include <exception>
#include <sstream>
#include <string>
#include <system_error>

#include "config/AtomicFile.h"

namespace meridane {

namespace fs = std::filesystem;

namespace {

// A list longer than this is no list the program wrote.
constexpr std::uintmax_t MaxListBytes = 64 * 1024;

std::vector<fs::path> ListedPaths(const fs::path& file) {
  std::vector<fs::path> paths;
  std::error_code error;
  if (file.empty() || !fs::is_regular_file(file, error) || fs::file_size(file, error) > MaxListBytes) return paths;
  std::string text;
  try {
    text = ReadFileBytes(file);
  } catch (const std::exception&) {
    return paths;
  }
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line) && paths.size() < MaxRecentTasks;) {
    const fs::path path(line);
    if (path.is_absolute() && std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  }
  return paths;
}

}  // namespace

fs::path RecentTasksFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // A relative XDG folder is invalid and to be ignored.
  if (state && *state && fs::path(state).is_absolute()) return fs::path(state) / "meridane" / "recent";
  const char* home = std::getenv("HOME");
  if (home && *home) return fs::path(home) / ".local" / "state" / "meridane" / "recent";
  return {};
}

std::vector<fs::path> ReadRecentTasks(const fs::path& file) {
  std::vector<fs::path> paths = ListedPaths(file);
  std::error_code error;
  std::erase_if(paths, [&](const fs::path& path) { return !fs::is_regular_file(path, error); });
  return paths;
}

bool RememberTask(const fs::path& project, const fs::path& file) {
  if (file.empty()) return false;
  std::error_code error;
  const fs::path absolute = fs::absolute(project, error).lexically_normal();
  // A line end in the name would make two lines of it.
  if (error || absolute.string().find_first_of("\r\n") != std::string::npos) return false;
  std::vector<fs::path> paths = ListedPaths(file);
  std::erase(paths, absolute);
  paths.insert(paths.begin(), absolute);
  if (paths.size() > MaxRecentTasks) paths.resize(MaxRecentTasks);
  std::string text;
  for (const fs::path& path : paths) text += path.string() + '\n';
  try {
    fs::create_directories(file.parent_path());
    TAtomicFileWriter writer(file, TFlush::Cache);
    writer.Write(text);
    writer.Commit();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace meridane
