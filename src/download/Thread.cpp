#include "download/Thread.h"

namespace meridane {

TThread::~TThread() {
  Terminate();
  WaitFor();
}

void TThread::Start() {
  Handle = std::thread([this] {
    try {
      Execute();
    } catch (...) {
      // An error that escapes the body ends the thread quietly.
    }
    HasFinished.store(true);
  });
}

void TThread::WaitFor() {
  if (Handle.joinable()) Handle.join();
}

void TQueueDispatcher::RunAndWait(const std::function<void()>& call) {
  if (std::this_thread::get_id() == Owner) {
    call();
    return;
  }
  TCall entry;
  entry.Call = &call;
  {
    std::lock_guard<std::mutex> guard(Lock);
    Queue.push_back(&entry);
  }
  Queued.notify_one();
  entry.Done.acquire();
  if (entry.Error) std::rethrow_exception(entry.Error);
}

int TQueueDispatcher::Pump(std::chrono::milliseconds timeout) {
  std::deque<TCall*> calls;
  {
    std::unique_lock<std::mutex> guard(Lock);
    if (Queue.empty() && timeout.count() > 0) Queued.wait_for(guard, timeout, [this] { return !Queue.empty(); });
    calls.swap(Queue);
  }
  for (TCall* entry : calls) {
    try {
      (*entry->Call)();
    } catch (...) {
      entry->Error = std::current_exception();
    }
    entry->Done.release();  // the worker may destroy the entry from here on
  }
  return static_cast<int>(calls.size());
}

void TQueueDispatcher::PumpUntil(const std::function<bool()>& done) {
  while (!done()) Pump(std::chrono::milliseconds(10));
}

}  // namespace meridane
