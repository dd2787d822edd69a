#pragma once

#include <chrono>
#include <thread>

namespace meridane::test {

// Waits until done() holds, however long that takes: ctest's timeout bounds
// the test, so a slow or busy machine is never taken for a fault.
template <class TDone>
void WaitFor(TDone done) {
  while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace meridane::test
