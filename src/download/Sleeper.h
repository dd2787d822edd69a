#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace meridane {

// A stop request that a waiting thread is woken by, so a stop need not wait
// for a pause to run out.
class TStopSignal {
 public:
  void Raise() {
    {
      std::lock_guard<std::mutex> guard(Lock);
      Flag.store(true);
    }
    Woken.notify_all();
  }
  bool Raised() const { return Flag.load(); }
  // Waits up to milliseconds, less when raised meanwhile; true when raised.
  bool WaitFor(int milliseconds) {
    std::unique_lock<std::mutex> guard(Lock);
    return Woken.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return Flag.load(); });
  }

 private:
  std::atomic<bool> Flag{false};
  std::mutex Lock;
  std::condition_variable Woken;
};

// Every wait of the download code goes through a sleeper, so tests can run the
// retry schedule without waiting.
class ISleeper {
 public:
  virtual ~ISleeper() = default;
  virtual void Sleep(int milliseconds) = 0;
  // A pause that ends early when stop is raised. A sleeper that cannot be woken
  // waits it out.
  virtual void Pause(int milliseconds, TStopSignal& /*stop*/) { Sleep(milliseconds); }
};

class TRealSleeper : public ISleeper {
 public:
  void Sleep(int milliseconds) override {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  void Pause(int milliseconds, TStopSignal& stop) override {
    if (milliseconds > 0) stop.WaitFor(milliseconds);
  }
};

}  // namespace meridane
