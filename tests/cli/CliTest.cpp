// meridane-cli as a process: a smoke run of the real program, and what only a
// process shows (signals, a closed output, a frozen clock, a list that never ends).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cli/CliServer.h"
#include "geo/Commonfunc.h"
#include "support/FaultServer.h"
#include "support/Images.h"
#include "support/Process.h"
#include "support/ProcessState.h"
#include "support/Wait.h"
#include "task/TextFile.h"
#include "task/TileGrid.h"
#include "ui/FailedForm.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

class Cli : public test::TCliServer {
 protected:
  // Starts meridane-cli with its output in Out and Err.
  pid_t Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), MERIDANE_CLI);
    return test::SpawnProgram(std::move(args), Out, Err);
  }

  static int Wait(pid_t pid) { return test::WaitForExit(pid); }

  int Run(std::vector<std::string> args) { return Wait(Spawn(std::move(args))); }

  // Waits until the program has written at least count lines.
  void WaitForLines(std::size_t count) {
    test::WaitFor([&] { return SplitLines(ReadAll(Out)).size() >= count; });
  }

  fs::path Out = Dir / "out.txt", Err = Dir / "err.txt";
};

// The program as installed: the count, then a one-tile task with its files.
TEST_F(Cli, CountsAndDownloads) {
  auto count = Area("116.39", "116.8", "39.9", "39.5");
  count.push_back("--count");
  EXPECT_EQ(Run(count), 0);
  EXPECT_EQ(ReadAll(Out), "MinX=843\nMinY=388\nMaxX=844\nMaxY=389\nTotal images: 4\n");
  EXPECT_FALSE(fs::exists(Dir / "maps"));

  auto task = Area("116.39", "116.39", "39.9", "39.9");
  task.insert(task.end(), {"--task", "smoke"});
  EXPECT_EQ(Run(task), 0);
  const std::string out = ReadAll(Out);
  EXPECT_EQ(out.rfind("Project: " + Dir.Folder() + "maps/smoke.mrd\n", 0), 0u) << out;
  EXPECT_NE(out.find("T1:seq=1,gs_843_388_10.jpg OK\n"), std::string::npos) << out;
  EXPECT_EQ(ReadAll(Err), "Task stoped!                    \n");
  EXPECT_EQ(ReadAll(Dir / "maps/smoke/gs_843_388_10.jpg"), ReadAll(Served / "tiles/10/843/388.jpg"));
  ExpectSavedLog("smoke");
}

// With the clock standing still the periodic tick never comes: the task ends
// on its last worker's end, its log complete.
TEST_F(Cli, CompletesWithoutATick) {
  auto args = Area("116.39", "116.8", "39.9", "39.5");
  args.insert(args.begin(), MERIDANE_CLI);
  const pid_t pid = test::SpawnProgram(std::move(args), Out, Err,
                                       {std::string("LD_PRELOAD=") + MERIDANE_CRASH_SHIM, "MERIDANE_FROZEN_CLOCK=1"});
  ASSERT_EQ(Wait(pid), 0) << ReadAll(Err);
  const std::string log = Dir.Folder() + "maps/newtask_log.txt";
  EXPECT_TRUE(ReadAll(log).ends_with("Log file has been saved as " + log + "\r\n"));
}

// A task with a tile of each bad kind: the check names them in walk order and
// leaves the task as it was; its repair list goes through the re-download, and
// the check then finds every tile good.
TEST_F(Cli, CheckNamesBadTilesAndItsRepairListFixesThem) {
  const std::string left = std::to_string(TileXToLon(843.5, 10)), right = std::to_string(TileXToLon(845.5, 10)),
                    top = std::to_string(TileYToLat(388.5, 10, 0)), bottom = std::to_string(TileYToLat(390.5, 10, 0));
  auto args = Area(left.c_str(), right.c_str(), top.c_str(), bottom.c_str());
  args.insert(args.end(), {"--task", "checked"});
  ASSERT_EQ(Run(args), 0);

  const std::string good = test::EncodeJpeg(256, 256);
  const struct {
    int X, Y;
    std::optional<std::string> Bytes;  // none: removed
    std::string Kind;                  // empty: good
    bool Decoder;                      // only the decoder finds it
  } tiles[] = {
      {843, 388, good, "", false},
      {843, 389, std::nullopt, "missing", false},
      {843, 390, "", "empty", false},
      {844, 388, "<html><body>Not Found</body></html>", "not an image", false},
      {844, 389, ReadAll(fs::path(MERIDANE_CLI).parent_path() / "blankimg/blank.jpg"), "placeholder", false},
      {844, 390, good.substr(0, good.size() / 2), "not decodable", true},
      {845, 388, test::EncodeJpeg(512, 512), "not 256x256", true},
      {845, 389, good, "", false},
      {845, 390, good, "", false},
  };
  const std::string host = test::TestServerAddress("http");
  const fs::path maps = Dir / "maps";
  std::string plain, decoded, repair;
  for (const auto& t : tiles) {
    const std::string name = "gs_" + std::to_string(t.X) + "_" + std::to_string(t.Y) + "_10.jpg";
    if (t.Bytes)
      test::WriteAll(maps / "checked" / name, *t.Bytes);
    else
      fs::remove(maps / "checked" / name);
    if (t.Kind.empty()) continue;
    if (!t.Decoder) plain += t.Kind + " " + name + "\n";
    decoded += t.Kind + " " + name + "\n";
    repair += (maps / "checked" / name).string() + "|http://" + host + "/kh/" + Version + "&s=" +
              GalileoPrefix(t.X, t.Y) + "&x=" + std::to_string(t.X) + "&y=" + std::to_string(t.Y) + "&z=10\r\n";
  }
  std::map<std::string, std::string> files;
  for (const char* file : {"checked.mrd", "checked_list.txt", "checked_log.txt", "checked_failed.ftl"})
    files[file] = ReadAll(maps / file);
  const std::string project = (maps / "checked.mrd").string(), list = (Dir / "repair.ftl").string();

  // The rate at the end of the summary differs from run to run.
  auto withoutRate = [](std::string out) {
    const std::size_t rate = out.rfind("; ");
    EXPECT_TRUE(out.ends_with(" tiles/s\n")) << out;
    return rate == std::string::npos ? out : out.substr(0, rate);
  };
  EXPECT_EQ(Run({"--config", Config.string(), "--check", project}), 1);
  EXPECT_EQ(withoutRate(ReadAll(Out)), plain + "9 tiles: 5 good, 1 missing, 1 empty, 1 not an image, 1 placeholder");
  EXPECT_EQ(Run({"--config", Config.string(), "--check", project, "--decode", "--repair", list}), 1);
  EXPECT_EQ(withoutRate(ReadAll(Out)), decoded +
                                           "9 tiles: 3 good, 1 missing, 1 empty, 1 not an image, 1 placeholder, 1 not "
                                           "decodable, 1 not 256x256");
  EXPECT_EQ(ReadAll(list), repair);
  for (const auto& [file, text] : files) EXPECT_EQ(ReadAll(maps / file), text) << file;

  EXPECT_EQ(Run({"--config", Config.string(), "--redownload", list}), 0);
  EXPECT_EQ(Run({"--config", Config.string(), "--check", project}), 0);
  EXPECT_EQ(withoutRate(ReadAll(Out)), "9 tiles: 9 good, 0 missing, 0 empty, 0 not an image, 0 placeholder");
  EXPECT_EQ(ReadAll(Err), "");
}

TEST_F(Cli, CheckInputErrors) {
  test::WriteAll(Dir / "bad.mrd", "[AREA]\r\nLeftLongitude=east\r\n");
  test::WriteAll(Dir / "far.mrd",
                 "[AREA]\r\nLeftLongitude=1\r\nRightLongitude=2\r\nTopLatitude=1\r\nBottomLatitude=0\r\n"
                 "[Zoom]\r\nZoom=31\r\n");
  test::WriteAll(Dir / "fine.mrd",
                 "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\n"
                 "BottomLatitude=39.5\r\n[Zoom]\r\nZoom=10\r\n");
  const struct {
    std::vector<std::string> Args;
    std::string Error;  // empty: not compared
  } cases[] = {
      {{"--check", (Dir / "none.mrd").string()}, "Cannot open file " + (Dir / "none.mrd").string() + "\n"},
      {{"--check", (Dir / "bad.mrd").string()},
       "The project file " + (Dir / "bad.mrd").string() + " has no valid LeftLongitude.\n"},
      {{"--check", (Dir / "far.mrd").string()}, "Error: Create task failure.\n"},
      {{"--check", (Dir / "fine.mrd").string(), "--repair", (Dir / "no/repair.ftl").string()},
       "Cannot create file " + (Dir / "no/repair.ftl").string() + "\n"},
      {{"--repair", (Dir / "repair.ftl").string()}, ""},
      {{"--check", (Dir / "far.mrd").string(), "--left", "1"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.Args;
    args.insert(args.begin(), {"--config", Config.string()});
    EXPECT_EQ(Run(args), 2) << args.back();
    if (!c.Error.empty()) {
      EXPECT_EQ(ReadAll(Err), c.Error);
    }
  }
  EXPECT_FALSE(fs::exists(Dir / "no"));
}

// Started with its output closed ("--check T.mrd --repair r.ftl >&-"), the check
// must not give the repair list the number of its output and write its lines there.
TEST_F(Cli, ClosedStandardDescriptorsTakeNoFileOfTheRun) {
  const fs::path project = Dir / "fine.mrd";
  test::WriteAll(project,
                 "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\n"
                 "BottomLatitude=39.5\r\n[Zoom]\r\nZoom=10\r\n");
  const fs::path open = Dir / "open.ftl";
  ASSERT_EQ(Run({"--config", Config.string(), "--check", project.string(), "--repair", open.string()}), 1);
  ASSERT_NE(ReadAll(open), "");
  for (const std::vector<int>& closed : {std::vector<int>{1}, {1, 2}, {0, 1, 2}}) {
    SCOPED_TRACE(testing::PrintToString(closed));
    const fs::path list = Dir / "closed.ftl";
    EXPECT_EQ(Wait(test::SpawnWithClosed(
                  {MERIDANE_CLI, "--config", Config.string(), "--check", project.string(), "--repair", list.string()},
                  closed)),
              1);
    EXPECT_EQ(ReadAll(list), ReadAll(open));
  }
}

TEST_F(Cli, RedownloadExitStatus) {
  const std::string host = test::TestServerAddress("http");
  const std::string good = Dir.Folder() + "gs_1_1_1.jpg|http://" + host + "/tile.jpg\r\n";
  test::WriteAll(Dir / "good.ftl", good);
  EXPECT_EQ(Run({"--config", Config.string(), "--redownload", (Dir / "good.ftl").string()}), 0);
  EXPECT_EQ(ReadAll(Out),
            "Start...\n" + Dir.Folder() + "gs_1_1_1.jpg:http://" + host + "/tile.jpg ->OK\nDownload End.\n");

  test::WriteAll(Dir / "bad.ftl", good + Dir.Folder() + "gs_1_2_1.jpg|http://" + host + "/status/404\r\n");
  EXPECT_EQ(Run({"--config", Config.string(), "--redownload", (Dir / "bad.ftl").string()}), 1);
  EXPECT_EQ(ReadAll(Dir / "bad.ftl"), good + Dir.Folder() + "gs_1_2_1.jpg|http://" + host + "/status/404\r\n");
  EXPECT_EQ(Run({"--config", Config.string(), "--redownload", (Dir / "none.ftl").string()}), 2);
  EXPECT_EQ(ReadAll(Err), "Cannot open file " + (Dir / "none.ftl").string() + "\n");
}

// A device or a pipe is no list: refused at once instead of read without end.
// In a process of its own, so that a run that hangs or eats the memory is killed.
TEST_F(Cli, RedownloadOfWhatIsNoFile) {
  ASSERT_EQ(::mkfifo((Dir / "pipe.ftl").c_str(), 0644), 0);
  for (const fs::path& list : {fs::path("/dev/zero"), Dir / "pipe.ftl"}) {
    SCOPED_TRACE(list);
    pid_t pid = 0;
    {
      // Should the check ever go, /dev/zero must not take the machine's memory with
      // it. Sanitizer builds reserve far more address space than this limit.
      const test::TResourceLimitGuard memory(RLIMIT_AS);
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
      memory.SetSoft(rlim_t{1} << 30);
#endif
      pid = Spawn({"--config", Config.string(), "--redownload", list.string()});
    }
    EXPECT_EQ(Wait(pid), 2);
    EXPECT_EQ(ReadAll(Err), "Cannot open file " + list.string() + "\n");
  }
}

// A closed terminal and SIGTERM stop the task as Ctrl-C does: every line is
// saved, and the exit status tells the signal as the shell would.
TEST_F(Cli, HangUpAndTerminateSaveEveryLine) {
  WriteConfig(150);
  for (const auto& [signal, status] : {std::pair{SIGHUP, 129}, std::pair{SIGTERM, 143}}) {
    SCOPED_TRACE(signal);
    const std::string task = "signal" + std::to_string(signal);
    auto args = Area("116.4", "118.0", "39.9", "39.0");  // 20 tiles
    args.insert(args.end(), {"--task", task, "--threads", "2"});
    const pid_t pid = Spawn(args);
    WaitForLines(38);  // the header and a few tiles, long before the first save
    kill(pid, signal);
    EXPECT_EQ(Wait(pid), status);
    ExpectSavedLog(task);
    EXPECT_LT(Requests().size(), 20u);
  }
}

// A reader that went away (as with "| head"): the lines to it stop, the task
// goes on to its end and its log holds them all.
TEST_F(Cli, ClosedOutputStopsTheLinesNotTheTask) {
  std::vector<std::string> args = Area("116.39", "116.8", "39.9", "39.5");  // 4 tiles
  args.insert(args.end(), {"--task", "piped"});
  args.insert(args.begin(), MERIDANE_CLI);
  EXPECT_EQ(Wait(test::SpawnWithClosedOutput(args)), 0);
  ExpectSavedLog("piped");
  EXPECT_EQ(Requests().size(), 4u);
}

// Ctrl-C during a re-download cuts the fetch at hand short, however slow the
// server, and ends the run as usual; the lines after it are not fetched.
TEST_F(Cli, RedownloadStopsOnCtrlC) {
  const std::string jpeg = "\xFF\xD8\xFF\xE0 tile";
  test::TFaultServer server({test::TFaultAction::Respond("HTTP/1.1 200 OK\r\nContent-Length: " +
                                                         std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg),
                             test::TFaultAction::Silence()});
  std::string list;
  for (int i = 0; i < 3; ++i)
    list += Dir.Folder() + "gs_" + std::to_string(i) + "_1_1.jpg|" + server.Url("/" + std::to_string(i)) + "\r\n";
  test::WriteAll(Dir / "slow.ftl", list);
  // No stall limit: a Ctrl-C that leaves the silent line alone holds the run
  // until ctest's timeout, whatever the machine's speed.
  WriteConfig(0, "StallTimeout=0\r\n");
  const pid_t pid = Spawn({"--config", Config.string(), "--redownload", (Dir / "slow.ftl").string()});
  const std::string first = "Start...\n" + Dir.Folder() + "gs_0_1_1.jpg:" + server.Url("/0") + " ->OK\n";
  test::WaitFor([&] { return ReadAll(Out) == first && server.Requests().size() >= 2; });
  ASSERT_EQ(server.Requests().size(), 2u);
  kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 130);
  // The silent line and the one after it were not done.
  EXPECT_EQ(ReadAll(Out), first + TfrmFlt::StoppedLine(2) + "\nDownload End.\n");
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_FALSE(fs::exists(Dir / "gs_1_1_1.jpg"));
}

}  // namespace
}  // namespace meridane
