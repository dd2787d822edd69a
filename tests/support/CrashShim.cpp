// Loaded into a program under test with LD_PRELOAD, it kills the program with
// SIGKILL right after the Nth file put in place (rename or link) whose new name
// contains a given text: a kill aimed between two writes, which a kill at a
// random moment almost never hits.
//   MERIDANE_KILL_AFTER=N  MERIDANE_KILL_PATH=text
// Or right before it, so the file is left under its temporary name:
//   MERIDANE_KILL_BEFORE=N  MERIDANE_KILL_PATH=text
// A power cut instead: right after the Nth rename to a name that ends with a
// given text, that name's folder is flushed (as the program does next), the
// file system is shut down without writing its journal (ext4, root only), and
// the program is killed. What the program had not flushed is lost.
//   MERIDANE_POWER_CUT_AFTER=N  MERIDANE_POWER_CUT_NAME=text
// With MERIDANE_NO_TMPFILE set, unnamed files (O_TMPFILE) are refused, as on
// file systems that have none.
// With MERIDANE_FROZEN_CLOCK set, the monotonic clock stands still at its first
// reading: whatever waits for a moment on that clock never sees it come.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<long> Seen{0};

void Count(int result, const char* newPath) {
  static const char* const after = std::getenv("MERIDANE_KILL_AFTER");
  static const char* const part = std::getenv("MERIDANE_KILL_PATH");
  if (result != 0 || !after || !part || !newPath || !std::strstr(newPath, part)) return;
  if (Seen.fetch_add(1) + 1 == std::atol(after)) ::kill(::getpid(), SIGKILL);
}

void CountBefore(const char* newPath) {
  static const char* const before = std::getenv("MERIDANE_KILL_BEFORE");
  static const char* const part = std::getenv("MERIDANE_KILL_PATH");
  if (!before || !part || !newPath || !std::strstr(newPath, part)) return;
  if (Seen.fetch_add(1) + 1 == std::atol(before)) ::kill(::getpid(), SIGKILL);
}

// EXT4_IOC_SHUTDOWN and EXT4_GOING_FLAGS_NOLOGFLUSH of the kernel's ext4 header.
constexpr unsigned long Ext4Shutdown = _IOR('X', 125, unsigned int);
constexpr unsigned int NoLogFlush = 0x2;

std::atomic<long> Renamed{0};

void PowerCut(int result, const char* newPath) {
  static const char* const after = std::getenv("MERIDANE_POWER_CUT_AFTER");
  static const char* const name = std::getenv("MERIDANE_POWER_CUT_NAME");
  if (result != 0 || !after || !name || !newPath) return;
  const std::size_t length = std::strlen(newPath), tail = std::strlen(name);
  if (length < tail || std::strcmp(newPath + length - tail, name) != 0) return;
  if (Renamed.fetch_add(1) + 1 != std::atol(after)) return;
  const char* slash = std::strrchr(newPath, '/');
  const std::string folder = slash ? std::string(newPath, slash) : std::string(".");
  const int descriptor = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY);
  unsigned int flags = NoLogFlush;
  if (descriptor >= 0) {
    ::fsync(descriptor);
    ::ioctl(descriptor, Ext4Shutdown, &flags);
  }
  ::kill(::getpid(), SIGKILL);
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* oldPath, const char* newPath) {
  static const auto real = Next<int (*)(const char*, const char*)>("rename");
  CountBefore(newPath);
  const int result = real(oldPath, newPath);
  Count(result, newPath);
  PowerCut(result, newPath);
  return result;
}

extern "C" int linkat(int oldFolder, const char* oldPath, int newFolder, const char* newPath, int flags) {
  static const auto real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  CountBefore(newPath);
  const int result = real(oldFolder, oldPath, newFolder, newPath, flags);
  Count(result, newPath);
  return result;
}

extern "C" int open(const char* path, int flags, ...) {
  static const auto real = Next<int (*)(const char*, int, ...)>("open");
  static const bool refused = std::getenv("MERIDANE_NO_TMPFILE") != nullptr;
  mode_t mode = 0;
  if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = static_cast<mode_t>(va_arg(arguments, int));
    va_end(arguments);
  }
  if (refused && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return real(path, flags, mode);
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
