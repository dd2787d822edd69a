#pragma once

#include <fstream>
#include <string>

// How much memory this process holds, for tests that bound what a fault may take.
namespace meridane::test {

// Sanitizers keep shadow memory for every byte a test touches, and freed
// blocks for a while: their builds cannot hold a test to a bound.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool MemoryBounded = false;
#else
inline constexpr bool MemoryBounded = true;
#endif

// A field of /proc/self/status in KB ("VmRSS", "VmHWM"); 0 when it cannot be read.
inline long long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(field + ":")) return std::stoll(line.substr(field.size() + 1));
  return 0;
}

// Measures the peak of the resident memory from its construction on, over what
// was resident then.
class TMemoryPeak {
 public:
  TMemoryPeak() {
    // "5" starts the peak (VmHWM) afresh at what is resident now.
    std::ofstream("/proc/self/clear_refs") << "5";
    BaseKb = StatusKb("VmRSS");
  }
  long long GrowthMb() const { return (StatusKb("VmHWM") - BaseKb) / 1024; }
  // For a stop request: true once more than limitMb has been taken, so that a
  // client without a bound ends its transfer before it takes the machine's memory.
  bool Above(long long limitMb) const { return (StatusKb("VmRSS") - BaseKb) / 1024 > limitMb; }

 private:
  long long BaseKb = 0;
};

}  // namespace meridane::test
