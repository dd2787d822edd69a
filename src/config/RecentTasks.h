#pragma once

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace meridane {

// The tasks the main window started or opened, for the companions to start on:
// $XDG_STATE_HOME/meridane/recent (~/.local/state/meridane/recent), one
// absolute project path a line, newest first.
inline constexpr std::size_t MaxRecentTasks = 10;

// The file's place; empty when neither XDG_STATE_HOME nor HOME is set.
std::filesystem::path RecentTasksFile();

// The paths the file holds, newest first, of project files that still exist;
// none when there is no such file or it cannot be read.
std::vector<std::filesystem::path> ReadRecentTasks(const std::filesystem::path& file = RecentTasksFile());

// Puts the project first, once, keeping at most MaxRecentTasks. A list that
// cannot be written is no reason to stop the user's work: false, and nothing
// else happens.
bool RememberTask(const std::filesystem::path& project, const std::filesystem::path& file = RecentTasksFile());

}  // namespace meridane
