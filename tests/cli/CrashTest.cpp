// meridane-cli killed with SIGKILL at random moments of a task (inside Start,
// around a save, anywhere), started again until it completes: no tile may be
// lost or torn, no failed-tile record lost, no temporary file left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <regex>

#include "support/Images.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestServers.h"
#include "task/TextFile.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::ReadAll;

// This test's requests in nginx's log carry this tile-address version.
constexpr const char* Version = "v=79";
constexpr int MinX = 6000, MaxX = 6019, MinY = 3000, MaxY = 3011;
constexpr int FailingX = 6003, FailingY = 3005;  // nginx answers 500

// A configuration for nginx's tiles with no pause or one of pauseMs; version
// tells a test's requests apart in nginx's log.
std::string ServerConfig(const std::string& version, int pauseMs) {
  const std::string host = test::TestServerAddress("http");
  return "[Servers]\r\nHost0=" + host + "\r\nHost1=" + host + "\r\nHost2=" + host + "\r\nHost3=" + host +
         "\r\nUrlTemplate=http://{host}/kh/" + version +
         "&s={galileo}&x={x}&y={y}&z={z}\r\n[Download]\r\nTilePause=" + std::to_string(pauseMs) + "\r\n";
}

// meridane-cli starting the task of the served range.
std::vector<std::string> StartArgs(const fs::path& config, const std::string& folder, const std::string& task,
                                   int threads) {
  std::vector<std::string> args = {MERIDANE_CLI, "--config", config.string(), "--folder", folder, "--task", task};
  args.insert(args.end(), {"--left", "83.68", "--right", "84.54", "--top", "43.32", "--bottom", "42.95"});
  args.insert(args.end(), {"--zoom", "13", "--threads", std::to_string(threads), "--no-progress"});
  return args;
}

// The tiles of the served range that are not the served tile (or, for the one
// the server fails, the placeholder) in tileFolder.
std::vector<std::string> WrongTiles(const fs::path& served, const std::string& tileFolder) {
  const std::string blank = ReadAll(fs::path(MERIDANE_CLI).parent_path() / "blankimg" / "blank.jpg");
  std::vector<std::string> wrong;
  for (int x = MinX; x <= MaxX; ++x) {
    for (int y = MinY; y <= MaxY; ++y) {
      const std::string name = "gs_" + std::to_string(x) + "_" + std::to_string(y) + "_13.jpg";
      const std::string expected =
          x == FailingX && y == FailingY
              ? blank
              : ReadAll(served / "tiles/13" / std::to_string(x) / (std::to_string(y) + ".jpg"));
      const std::string tile = ReadAll(tileFolder + name);
      if (tile != expected) wrong.push_back(name + " (" + std::to_string(tile.size()) + " bytes)");
    }
  }
  return wrong;
}

TEST(CliCrash, KilledAtRandomMomentsLosesNothing) {
  if (test::TestServerAddress("http").empty()) GTEST_SKIP() << "no test servers";
  const fs::path served = std::getenv("MERIDANE_TEST_SERVERS_DIR");
  const auto logStart = fs::file_size(served / "access.log");
  test::TTempDir dir;
  const fs::path config = dir / "config.ini", output = dir / "output.txt";
  // 240 tiles by 4 workers with a pause of 150 ms: several saves a run.
  test::WriteAll(config, ServerConfig(Version, 150));

  // Each run is killed inside Start, right after a chosen write of the project
  // file, of the other task files or of a tile, or at a random moment of its
  // first six seconds, and started again; from the tenth kill on it runs to its
  // end. A task that ends before is checked, and the next one begins.
  // Every failure names the seed; MERIDANE_CRASH_SEED=N plays its choices again.
  const char* given = std::getenv("MERIDANE_CRASH_SEED");
  const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
  SCOPED_TRACE("MERIDANE_CRASH_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  int kills = 0, tasks = 0;
  for (; tasks < 10 && (tasks == 0 || kills < 10); ++tasks) {
    SCOPED_TRACE("task " + std::to_string(tasks));
    const std::string folder = dir.Folder() + "maps" + std::to_string(tasks) + "/";
    const std::string project = folder + "k.mrd";
    const std::vector<std::string> start = StartArgs(config, folder, "k", 4);
    const std::vector<std::string> open = {MERIDANE_CLI, "--config", config.string(),
                                           "--open",     project,    "--no-progress"};
    int status = -1;
    for (int run = 0; run < 60 && status < 0; ++run) {
      std::vector<std::string> environment;
      std::optional<std::chrono::microseconds> moment;  // none: it runs to its end
      if (kills < 10) {
        const int plan = pick(0, 4);
        if (plan == 0) moment = std::chrono::microseconds(pick(0, 30'000));
        if (plan == 4) moment = std::chrono::microseconds(pick(300'000, 6'000'000));
        if (plan >= 1 && plan <= 3) {
          const char* part[] = {"/k.", "/k_", "/gs_"};
          environment = {std::string("LD_PRELOAD=") + MERIDANE_CRASH_SHIM,
                         "MERIDANE_KILL_PATH=" + std::string(part[plan - 1]),
                         "MERIDANE_KILL_AFTER=" + std::to_string(plan == 3 ? pick(1, 40) : pick(1, 2))};
        }
      }
      const pid_t pid = test::SpawnProgram(fs::exists(project) ? open : start, output, output, environment);
      status = moment ? test::WaitUntil(pid, Clock::now() + *moment) : test::WaitForExit(pid);
      if (status == 1000) {  // killed by the shim
        status = -1;
        ++kills;
      } else if (status < 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ++kills;
      }
    }
    ASSERT_EQ(status, 1) << ReadAll(output);  // completed with one substituted tile

    ASSERT_EQ(WrongTiles(served, folder + "k/"), std::vector<std::string>{});
    const std::vector<std::string> failed = SplitLines(ReadAll(folder + "k_failed.ftl"));
    ASSERT_FALSE(failed.empty());
    for (const std::string& line : failed) EXPECT_TRUE(line.starts_with(folder + "k/gs_6003_3005_13.jpg|")) << line;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      EXPECT_EQ(entry.path().string().find(".~"), std::string::npos) << entry.path();
  }
  ASSERT_GE(kills, 10);

  // What the kills cost: tiles fetched more than once.
  int fetched = 0;
  const std::string log = ReadAll(served / "access.log").substr(logStart);
  for (const std::string& line : SplitLines(log))
    fetched += line.find(std::string(" 200 \"GET /kh/") + Version) != std::string::npos;
  const int once = tasks * ((MaxX - MinX + 1) * (MaxY - MinY + 1) - 1);
  std::printf("%d kills in %d tasks; %d tiles fetched again (%.1f a kill)\n", kills, tasks, fetched - once,
              static_cast<double>(fetched - once) / kills);
}

// A fresh Start over a task, killed right after each of its file writes: what
// is left is the old task whole, still resumable with its failed records, or
// no project at all; never the old project beside replaced files.
TEST(CliCrash, FreshStartKilledBetweenItsWritesLeavesTheOldTaskOrNone) {
  test::TTempDir dir;
  const fs::path config = dir / "config.ini", output = dir / "output.txt";
  // Nothing is fetched: every run ends inside Start.
  test::WriteAll(config,
                 "[Servers]\r\nHost0=127.0.0.1:1\r\nHost1=127.0.0.1:1\r\nHost2=127.0.0.1:1\r\n"
                 "Host3=127.0.0.1:1\r\n");
  const auto killedAfter = [&](const std::string& folder, const char* right, const char* part, int count) {
    std::vector<std::string> args = {MERIDANE_CLI, "--config",      config.string(), "--left",   "83.68", "--right",
                                     right,        "--top",         "43.32",         "--bottom", "42.95", "--zoom",
                                     "13",         "--folder",      folder,          "--task",   "k",     "--threads",
                                     "2",          "--no-progress", "--fresh"};
    const pid_t pid =
        test::SpawnProgram(std::move(args), output, output,
                           {std::string("LD_PRELOAD=") + MERIDANE_CRASH_SHIM, std::string("MERIDANE_KILL_PATH=") + part,
                            "MERIDANE_KILL_AFTER=" + std::to_string(count)});
    return test::WaitForExit(pid) == 1000;
  };
  // A file replaced takes two steps, a link beside it and a rename: the first
  // six are those of the image list, the log and the failed-tile list.
  for (int count = 1; count <= 6; ++count) {
    SCOPED_TRACE(count);
    const std::string folder = dir.Folder() + "maps" + std::to_string(count) + "/";
    // The old task: its Start ends right after its project file, and it has a record.
    ASSERT_TRUE(killedAfter(folder, "84.54", "/k.mrd", 1)) << ReadAll(output);
    test::WriteAll(folder + "k_failed.ftl", folder + "k/gs_6003_3005_13.jpg|http://127.0.0.1:1/\r\n");
    std::vector<std::string> old;
    for (const char* name : {"k.mrd", "k_list.txt", "k_log.txt", "k_failed.ftl"}) old.push_back(ReadAll(folder + name));

    ASSERT_TRUE(killedAfter(folder, "84.60", "/k", count)) << ReadAll(output);
    if (!fs::exists(folder + "k.mrd")) continue;
    std::vector<std::string> left;
    for (const char* name : {"k.mrd", "k_list.txt", "k_log.txt", "k_failed.ftl"})
      left.push_back(ReadAll(folder + name));
    EXPECT_EQ(left, old);
  }
}

// Where the file system has no unnamed files, a tile write killed before its
// rename leaves its temporary file in the task's temporary folder, not among
// the tiles, and the next Start removes it.
TEST(CliCrash, KilledTileWriteWithoutUnnamedFilesLeavesNothingAmongTheTiles) {
  if (test::TestServerAddress("http").empty()) GTEST_SKIP() << "no test servers";
  const fs::path served = std::getenv("MERIDANE_TEST_SERVERS_DIR");
  test::TTempDir dir;
  const fs::path config = dir / "config.ini", output = dir / "output.txt";
  test::WriteAll(config, ServerConfig("v=81", 0));
  const std::string folder = dir.Folder() + "maps/";
  const std::string shim = std::string("LD_PRELOAD=") + MERIDANE_CRASH_SHIM;
  const pid_t pid =
      test::SpawnProgram(StartArgs(config, folder, "n", 2), output, output,
                         {shim, "MERIDANE_NO_TMPFILE=1", "MERIDANE_KILL_PATH=/gs_", "MERIDANE_KILL_BEFORE=5"});
  ASSERT_EQ(test::WaitForExit(pid), 1000) << ReadAll(output);
  auto temporaries = [&folder] {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file() && entry.path().filename().string().find(".~") != std::string::npos)
        found.push_back(entry.path().string().substr(folder.size()));
    return found;
  };
  // The killed write's, and maybe the other worker's.
  const std::vector<std::string> left = temporaries();
  ASSERT_FALSE(left.empty());
  for (const std::string& name : left) EXPECT_TRUE(name.starts_with("n/.~tmp/gs_")) << name;

  const pid_t resume =
      test::SpawnProgram({MERIDANE_CLI, "--config", config.string(), "--open", folder + "n.mrd", "--no-progress"},
                         output, output, {shim, "MERIDANE_NO_TMPFILE=1"});
  ASSERT_EQ(test::WaitForExit(resume), 1) << ReadAll(output);  // completed with one substituted tile
  EXPECT_EQ(temporaries(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(folder + "n/.~tmp"));
  EXPECT_EQ(WrongTiles(served, folder + "n/"), std::vector<std::string>{});
}

// A file system of its own on a loop device, mounted while the object lives.
class TLoopDisk {
 public:
  explicit TLoopDisk(const fs::path& folder) : Image(folder / "disk.img"), Mount(folder / "disk") {
    fs::create_directory(Mount);
    std::ofstream(Image).close();
    fs::resize_file(Image, 64 << 20);
    Made = Shell("mkfs.ext4 -q -F '" + Image.string() + "'") == 0;
  }
  ~TLoopDisk() { Unmount(); }
  bool MountIt() {
    Mounted = Made && Shell("mount -t ext4 -o loop '" + Image.string() + "' '" + Mount.string() + "'") == 0;
    return Mounted;
  }
  void Unmount() {
    if (Mounted) Shell("umount '" + Mount.string() + "'");
    Mounted = false;
  }
  const fs::path Image, Mount;

 private:
  static int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }
  bool Made = false, Mounted = false;
};

// A power cut right after a save: whatever the disk lost, the saved positions
// pass only tiles that are on it whole, so the resume fetches every other one.
TEST(CliCrash, PowerCutRightAfterASaveLosesNoTile) {
  if (test::TestServerAddress("http").empty()) GTEST_SKIP() << "no test servers";
  if (::geteuid() != 0) GTEST_SKIP() << "a power cut needs root (a loop-mounted ext4 shut down)";
  const fs::path served = std::getenv("MERIDANE_TEST_SERVERS_DIR");
  test::TTempDir dir;
  TLoopDisk disk(dir.Path());
  if (!disk.MountIt()) GTEST_SKIP() << "could not make and loop-mount an ext4 image (mkfs.ext4, mount -o loop)";
  const fs::path config = dir / "config.ini", output = dir / "output.txt";
  // 240 tiles by 4 workers, 40 a second: the first save, at 4 s, passes about 160.
  test::WriteAll(config, ServerConfig("v=80", 100));
  const std::string folder = disk.Mount.string() + "/maps/";
  const pid_t pid = test::SpawnProgram(StartArgs(config, folder, "p", 4), output, output,
                                       {std::string("LD_PRELOAD=") + MERIDANE_CRASH_SHIM,
                                        "MERIDANE_POWER_CUT_NAME=/p.mrd", "MERIDANE_POWER_CUT_AFTER=1"});
  ASSERT_EQ(test::WaitForExit(pid), 1000) << ReadAll(output);

  // The disk comes back with what it had before the cut.
  disk.Unmount();
  ASSERT_TRUE(disk.MountIt());
  const std::string project = ReadAll(folder + "p.mrd");
  ASSERT_TRUE(std::regex_search(project, std::regex("T1X=[0-9]+"))) << project;

  const pid_t resume = test::SpawnProgram(
      {MERIDANE_CLI, "--config", config.string(), "--open", folder + "p.mrd", "--no-progress"}, output, output);
  ASSERT_EQ(test::WaitForExit(resume), 1) << ReadAll(output);  // completed with one substituted tile
  EXPECT_EQ(WrongTiles(served, folder + "p/"), std::vector<std::string>{});
}

// A power cut right after the combiner put its picture in place: the picture
// under its name is whole, as a run without the cut writes it.
TEST(CliCrash, PowerCutRightAfterTheCombinersOutputKeepsItWhole) {
  if (::geteuid() != 0) GTEST_SKIP() << "a power cut needs root (a loop-mounted ext4 shut down)";
  test::TTempDir dir;
  TLoopDisk disk(dir.Path());
  if (!disk.MountIt()) GTEST_SKIP() << "could not make and loop-mount an ext4 image (mkfs.ext4, mount -o loop)";
  fs::create_directories(dir / "tiles");
  for (int x = 4; x < 8; ++x)
    for (int y = 4; y < 8; ++y)
      test::WriteAll(dir / "tiles" / ("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_4.jpg"),
                     test::EncodeJpeg(256, 256));
  const auto args = [&](const std::string& output) {
    return std::vector<std::string>{MERIDANE_MOSAREN, (dir / "tiles").string(), "--zoom", "4", "-o", output};
  };
  const fs::path log = dir / "output.txt";
  ASSERT_EQ(test::WaitForExit(test::SpawnProgram(args((dir / "whole.png").string()), log, log)), 0) << ReadAll(log);
  const std::string picture = disk.Mount.string() + "/map.png";
  const pid_t pid = test::SpawnProgram(args(picture), log, log,
                                       {std::string("LD_PRELOAD=") + MERIDANE_CRASH_SHIM,
                                        "MERIDANE_POWER_CUT_NAME=/map.png", "MERIDANE_POWER_CUT_AFTER=1"});
  ASSERT_EQ(test::WaitForExit(pid), 1000) << ReadAll(log);

  // The disk comes back with what it had before the cut.
  disk.Unmount();
  ASSERT_TRUE(disk.MountIt());
  const std::string kept = ReadAll(picture), whole = ReadAll(dir / "whole.png");
  EXPECT_EQ(kept.size(), whole.size());
  EXPECT_TRUE(kept == whole);
}

}  // namespace
}  // namespace meridane
