#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

#include "download/Sleeper.h"

namespace meridane {

// The main (user-interface) thread, as a worker sees it: the one door through
// which a worker reaches the windows. RunAndWait is called from a worker thread;
// it runs the call on the main thread and returns when the call has finished.
class IMainThread {
 public:
  virtual ~IMainThread() = default;
  virtual void RunAndWait(const std::function<void()>& call) = 0;
};

// A thread with a body, a stop request and Synchronize. The thread starts with
// Start (a constructor cannot start it: Execute is not callable before the
// derived object exists). The destructor asks the thread to stop and waits for
// it; an owner whose thread may be inside Synchronize must keep the main thread
// pumping until the thread has finished, or both wait for each other.
class TThread {
 public:
  explicit TThread(IMainThread& mainThread) : MainThread(mainThread) {}
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Asks the body to stop; the body looks at Terminated when it can, and a
  // pause on StopSignal ends at once.
  void Terminate() { StopRequest.Raise(); }
  bool Terminated() const { return StopRequest.Raised(); }
  // True once Execute has returned.
  bool Finished() const { return HasFinished.load(); }
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // Runs call on the main thread while this thread waits.
  void Synchronize(const std::function<void()>& call) { MainThread.RunAndWait(call); }
  TStopSignal& StopSignal() { return StopRequest; }

 private:
  IMainThread& MainThread;
  std::thread Handle;
  TStopSignal StopRequest;
  std::atomic<bool> HasFinished{false};
};

// The main thread of a program without a window toolkit: workers queue their
// calls, and the owner's loop runs them with Pump. A call made on the main
// thread itself runs at once.
class TQueueDispatcher : public IMainThread {
 public:
  TQueueDispatcher() : Owner(std::this_thread::get_id()) {}

  void RunAndWait(const std::function<void()>& call) override;
  // Runs the queued calls; waits up to timeout for the first one when none is queued.
  // Returns how many ran.
  int Pump(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
  // Pumps until done() holds.
  void PumpUntil(const std::function<bool()>& done);

 private:
  // Each waiting worker has a semaphore of its own, so finishing one call wakes
  // only the worker that made it.
  struct TCall {
    const std::function<void()>* Call = nullptr;
    std::binary_semaphore Done{0};
    std::exception_ptr Error;
  };
  const std::thread::id Owner;
  std::mutex Lock;
  std::condition_variable Queued;
  std::deque<TCall*> Queue;
};

}  // namespace meridane
