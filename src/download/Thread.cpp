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
  TCall entry{&call, false, nullptr};
  std::unique_lock<std::mutex> guard(Lock);
  Queue.push_back(&entry);
  Changed.notify_all();
  Changed.wait(guard, [&entry] { return entry.Done; });
  if (entry.Error) std::rethrow_exception(entry.Error);
}

int TQueueDispatcher::Pump(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(Lock);
  if (Queue.empty() && timeout.count() > 0) Changed.wait_for(guard, timeout, [this] { return !Queue.empty(); });
  int ran = 0;
  while (!Queue.empty()) {
    TCall* entry = Queue.front();
    Queue.pop_front();
    guard.unlock();
    try {
      (*entry->Call)();
    } catch (...) {
      entry->Error = std::current_exception();
    }
    guard.lock();
    entry->Done = true;
    ++ran;
    Changed.notify_all();
  }
  return ran;
}

void TQueueDispatcher::PumpUntil(const std::function<bool()>& done) {
  while (!done()) Pump(std::chrono::milliseconds(10));
}

}  // namespace meridane
