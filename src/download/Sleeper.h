#pragma once

#include <chrono>
#include <thread>

namespace meridane {

// Every wait of the download code goes through a sleeper, so tests can run the
// retry schedule without waiting.
class ISleeper {
 public:
  virtual ~ISleeper() = default;
  virtual void Sleep(int milliseconds) = 0;
};

class TRealSleeper : public ISleeper {
 public:
  void Sleep(int milliseconds) override {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace meridane
