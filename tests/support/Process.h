#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace meridane::test {

// Starts argv[0] with its standard output in out and its errors in err, each
// written afresh; when both are one file, the process appends to it. The
// environment is this process's plus the extra "NAME=value" entries.
inline pid_t SpawnProgram(std::vector<std::string> argv, const std::filesystem::path& out,
                          const std::filesystem::path& err, std::vector<std::string> extra = {}) {
  std::vector<char*> args, environment;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (char** e = environ; *e; ++e) environment.push_back(*e);
  for (std::string& e : extra) environment.push_back(e.data());
  environment.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  if (out == err) {
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
  } else {
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, args[0], &files, nullptr, args.data(), environment.data()), 0);
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// Starts argv[0] with its standard output a pipe that nobody reads, as "| head"
// leaves it once head has quit; SIGPIPE as a shell leaves it, at its default.
inline pid_t SpawnWithClosedOutput(std::vector<std::string> argv) {
  int pipe[2];
  EXPECT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::close(pipe[0]);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, pipe[1], 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, args[0], &files, &attributes, args.data(), environ), 0);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  ::close(pipe[1]);
  return pid;
}

// Starts argv[0] with the given standard descriptors closed, as "program >&-"
// leaves them, and the others as this process has them.
inline pid_t SpawnWithClosed(std::vector<std::string> argv, const std::vector<int>& closed) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  for (const int descriptor : closed) posix_spawn_file_actions_addclose(&files, descriptor);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// The exit status once the process has ended, however long that takes (ctest's
// timeout bounds the test, and ends the process with it); 1000 when a signal
// ended it.
inline int WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
}

// As WaitForExit, or -1 when it still runs at the deadline: for a test that
// ends the process at a moment of its choosing, not as a failure.
inline int WaitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline) {
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < deadline);
  return -1;
}

}  // namespace meridane::test
