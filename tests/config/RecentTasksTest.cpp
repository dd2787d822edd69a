#include "config/RecentTasks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;

fs::path Touch(const fs::path& path) {
  std::ofstream(path) << "[Task]\n";
  return path;
}

TEST(RecentTasks, NewestFirstOnceAtMostTenAndOnlyTasksThatStillExist) {
  test::TTempDir dir;
  const fs::path list = dir.Path() / "state" / "meridane" / "recent";
  std::vector<fs::path> projects;
  for (int i = 0; i < 12; ++i) projects.push_back(Touch(dir.Path() / ("t" + std::to_string(i) + ".mrd")));
  for (const fs::path& project : projects) ASSERT_TRUE(RememberTask(project, list));
  ASSERT_TRUE(RememberTask(projects[5], list));  // again: moves to the top, not listed twice

  std::vector<fs::path> expected = {projects[5], projects[11], projects[10], projects[9], projects[8],
                                    projects[7], projects[6], projects[4], projects[3], projects[2]};
  EXPECT_EQ(ReadRecentTasks(list), expected);

  // A project removed since is not offered; a relative path is no line the program writes.
  fs::remove(projects[11]);
  std::ofstream(list, std::ios::app) << "relative.mrd\n";
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(ReadRecentTasks(list), expected);

  // A list that cannot be written is not the user's problem.
  EXPECT_FALSE(RememberTask(projects[0], Touch(dir.Path() / "file") / "recent"));
  EXPECT_TRUE(ReadRecentTasks(dir.Path() / "none").empty());
}

TEST(RecentTasks, TheFileLiesInTheStateFolder) {
  test::TEnvironmentGuard state("XDG_STATE_HOME"), home("HOME");
  home.Set("/home/u");
  state.Set("/var/s");
  EXPECT_EQ(RecentTasksFile(), fs::path("/var/s/meridane/recent"));
  state.Set("relative");  // to be ignored, as a relative XDG folder is
  EXPECT_EQ(RecentTasksFile(), fs::path("/home/u/.local/state/meridane/recent"));
  state.Set("");
  EXPECT_EQ(RecentTasksFile(), fs::path("/home/u/.local/state/meridane/recent"));
}

}  // namespace
}  // namespace meridane
