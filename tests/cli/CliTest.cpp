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
#include "support/FaultServer.h"
#include "support/Process.h"
#include "support/ProcessState.h"
#include "task/TextFile.h"

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

  // The exit status, or -1 when the process had to be killed after limit.
  static int Wait(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const int status = test::WaitUntil(pid, std::chrono::steady_clock::now() + limit);
    if (status != -1) return status;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }

  int Run(std::vector<std::string> args) { return Wait(Spawn(std::move(args))); }

  // Waits until the program has written at least count lines.
  void WaitForLines(std::size_t count) {
    for (int i = 0; i < 1000 && SplitLines(ReadAll(Out)).size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
  ASSERT_EQ(Wait(pid, std::chrono::seconds(20)), 0) << ReadAll(Err);
  const std::string log = Dir.Folder() + "maps/newtask_log.txt";
  EXPECT_TRUE(ReadAll(log).ends_with("Log file has been saved as " + log + "\r\n"));
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
    EXPECT_EQ(Wait(pid, std::chrono::seconds(10)), 2);
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
  int pipe[2];
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::close(pipe[0]);
  std::vector<std::string> args = Area("116.39", "116.8", "39.9", "39.5");  // 4 tiles
  args.insert(args.end(), {"--task", "piped"});
  args.insert(args.begin(), MERIDANE_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, pipe[1], 1);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  ::close(pipe[1]);
  EXPECT_EQ(Wait(pid), 0);
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
  const pid_t pid = Spawn({"--config", Config.string(), "--redownload", (Dir / "slow.ftl").string()});
  const std::string first = "Start...\n" + Dir.Folder() + "gs_0_1_1.jpg:" + server.Url("/0") + " ->OK\n";
  for (int i = 0; i < 1000 && (ReadAll(Out) != first || server.Requests().size() < 2); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(server.Requests().size(), 2u);
  kill(pid, SIGINT);
  // The silent server would hold the line for the stall timeout, a minute.
  EXPECT_EQ(Wait(pid, std::chrono::seconds(20)), 130);
  EXPECT_EQ(ReadAll(Out), first + "Download End.\n");
  EXPECT_EQ(server.Requests().size(), 2u);
  EXPECT_FALSE(fs::exists(Dir / "gs_1_1_1.jpg"));
}

}  // namespace
}  // namespace meridane
