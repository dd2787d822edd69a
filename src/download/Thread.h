#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "download/Sleeper.h"

namespace meridane {

// The main (user-interface) thread, as a worker sees it: the one door through
// which a worker reaches the windows. Calls from one worker run on the main
// thread in the order it made them, whichever of the two ways it used.
class IMainThread {
 public:
  virtual ~IMainThread() = default;
  // Runs call on the main thread and returns when it has finished.
  virtual void RunAndWait(const std::function<void()>& call) = 0;
  // Leaves call for the main thread and returns at once; an error it throws
  // there is dropped. Made on the main thread itself, it runs at once. A queue
  // may make the caller wait while it is full, until the main thread has run
  // some or stop is raised.
  virtual void HandOver(std::function<void()> call, const TStopSignal* stop = nullptr) = 0;
  // On the main thread: runs every call made so far.
  virtual void RunHandedOver() = 0;
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
  // Runs call on the main thread later, after this thread's earlier calls.
  void HandOver(std::function<void()> call) { MainThread.HandOver(std::move(call), &StopRequest); }
  TStopSignal& StopSignal() { return StopRequest; }

 private:
  IMainThread& MainThread;
  std::thread Handle;
  TStopSignal StopRequest;
  std::atomic<bool> HasFinished{false};
};

// The main thread as one queue: workers queue their calls, and the owner's
// loop runs them with Pump, in batches. A call made on the main thread itself
// runs at once. An event loop that cannot wait here sets OnFirstQueued.
// The queue is bounded: a worker that finds Limit calls queued waits for the
// next Pump, so a main thread that falls behind (a slow terminal, a stalled
// pipe, a busy window) holds the workers back instead of the memory growing.
// A worker asked to stop queues past the bound: it ends after a few calls, and
// an owner that stops its workers and then waits for them without pumping must
// still see them end.
class TQueueDispatcher : public IMainThread {
 public:
  static constexpr std::size_t DefaultLimit = 4096;
  explicit TQueueDispatcher(std::size_t limit = DefaultLimit) : Owner(std::this_thread::get_id()), Limit(limit) {}

  void RunAndWait(const std::function<void()>& call) override;
  void HandOver(std::function<void()> call, const TStopSignal* stop = nullptr) override;
  void RunHandedOver() override { Pump(); }
  // Runs the queued calls; waits up to timeout for the first one when none is queued.
  // Returns how many ran.
  int Pump(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
  // Pumps until done() holds.
  void PumpUntil(const std::function<bool()>& done);

  // Called on a worker's thread when its call finds the queue empty: one wake-up
  // per batch, not one per call. Set before any worker starts.
  std::function<void()> OnFirstQueued;

 private:
  // A waiting worker's call has a semaphore of its own, so finishing it wakes
  // only the worker that made it; a handed-over call owns its function.
  struct TWaiting {
    const std::function<void()>* Call = nullptr;
    std::binary_semaphore Done{0};
    std::exception_ptr Error;
  };
  struct TCall {
    std::function<void()> Owned;
    TWaiting* Waiting = nullptr;
  };
  void Enqueue(TCall call, bool bounded, const TStopSignal* stop);

  const std::thread::id Owner;
  const std::size_t Limit;
  std::mutex Lock;
  std::condition_variable Queued;
  bool OwnerWaits = false;
  std::condition_variable Room;
  int Full = 0;  // workers waiting for room
  std::vector<TCall> Queue;
};

}  // namespace meridane
