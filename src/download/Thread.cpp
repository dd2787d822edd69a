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

void TQueueDispatcher::Enqueue(TCall call, bool bounded, const TStopSignal* stop) {
  bool first = false, wake = false;
  {
    std::unique_lock<std::mutex> guard(Lock);
    if (bounded && Queue.size() >= Limit) {
      // A stop raises no signal here: it is looked at every few milliseconds.
      ++Full;
      while (Queue.size() >= Limit && !(stop && stop->Raised())) Room.wait_for(guard, std::chrono::milliseconds(10));
      --Full;
    }
    first = Queue.empty();
    wake = first && OwnerWaits;
    Queue.push_back(std::move(call));
  }
  if (wake) Queued.notify_one();
  if (first && OnFirstQueued) OnFirstQueued();
}

void TQueueDispatcher::RunAndWait(const std::function<void()>& call) {
  if (std::this_thread::get_id() == Owner) {
    call();
    return;
  }
  TWaiting entry;
  entry.Call = &call;
  // Never held back by the bound: the worker waits for this call anyway.
  Enqueue({{}, &entry}, false, nullptr);
  entry.Done.acquire();
  if (entry.Error) std::rethrow_exception(entry.Error);
}

void TQueueDispatcher::HandOver(std::function<void()> call, const TStopSignal* stop) {
  if (std::this_thread::get_id() == Owner) {
    try {
      call();
    } catch (...) {
    }
    return;
  }
  Enqueue({std::move(call), nullptr}, true, stop);
}

int TQueueDispatcher::Pump(std::chrono::milliseconds timeout) {
  std::vector<TCall> batch;
  {
    std::unique_lock<std::mutex> guard(Lock);
    if (Queue.empty() && timeout.count() > 0) {
      OwnerWaits = true;
      Queued.wait_for(guard, timeout, [this] { return !Queue.empty(); });
      OwnerWaits = false;
    }
    batch.swap(Queue);
    if (Full > 0) Room.notify_all();
  }
  for (TCall& entry : batch) {
    if (!entry.Waiting) {
      // A line that cannot be shown must not stop the lines after it.
      try {
        entry.Owned();
      } catch (...) {
      }
      continue;
    }
    try {
      (*entry.Waiting->Call)();
    } catch (...) {
      entry.Waiting->Error = std::current_exception();
    }
    entry.Waiting->Done.release();  // the worker may destroy the entry from here on
  }
  return static_cast<int>(batch.size());
}

void TQueueDispatcher::PumpUntil(const std::function<bool()>& done) {
  while (!done()) Pump(std::chrono::milliseconds(10));
}

}  // namespace meridane
