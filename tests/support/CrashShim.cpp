// Loaded into a program under test with LD_PRELOAD, it kills the program with
// SIGKILL right after the Nth file put in place (rename or link) whose new name
// contains a given text: a kill aimed between two writes, which a kill at a
// random moment almost never hits.
//   MERIDANE_KILL_AFTER=N  MERIDANE_KILL_PATH=text
// With MERIDANE_FROZEN_CLOCK set, the monotonic clock stands still at its first
// reading: whatever waits for a moment on that clock never sees it come.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> Seen{0};

void Count(int result, const char* newPath) {
  static const char* const after = std::getenv("MERIDANE_KILL_AFTER");
  static const char* const part = std::getenv("MERIDANE_KILL_PATH");
  if (result != 0 || !after || !part || !newPath || !std::strstr(newPath, part)) return;
  if (Seen.fetch_add(1) + 1 == std::atol(after)) ::kill(::getpid(), SIGKILL);
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* oldPath, const char* newPath) {
  static const auto real = Next<int (*)(const char*, const char*)>("rename");
  const int result = real(oldPath, newPath);
  Count(result, newPath);
  return result;
}

extern "C" int linkat(int oldFolder, const char* oldPath, int newFolder, const char* newPath, int flags) {
  static const auto real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  const int result = real(oldFolder, oldPath, newFolder, newPath, flags);
  Count(result, newPath);
  return result;
}

extern "C" int clock_gettime(clockid_t clock, struct timespec* time) {
  static const auto real = Next<int (*)(clockid_t, struct timespec*)>("clock_gettime");
  static const bool frozen = std::getenv("MERIDANE_FROZEN_CLOCK") != nullptr;
  if (!frozen || clock != CLOCK_MONOTONIC) return real(clock, time);
  static const timespec first = [] {
    timespec t{};
    real(CLOCK_MONOTONIC, &t);
    return t;
  }();
  *time = first;
  return 0;
}
