#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace meridane {

// Runs jobs on worker threads and hands their results back in the order the
// jobs were submitted. Submit and Next are called from one thread, the
// owner's; jobs run on the workers and must not touch the owner's state.
// A job's exception comes out of its Next. Destroying the pool drops the jobs
// not yet started and waits for the running ones.
template <class T>
class TOrderedWorkers {
 public:
  explicit TOrderedWorkers(unsigned threads = std::max(2u, std::thread::hardware_concurrency())) {
    for (unsigned i = 0; i < threads; ++i) Threads.emplace_back([this] { Work(); });
  }
  ~TOrderedWorkers() {
    {
      std::lock_guard lock(Mutex);
      Stopping = true;
      Todo.clear();
    }
    Wake.notify_all();
    for (std::thread& t : Threads) t.join();
  }
  TOrderedWorkers(const TOrderedWorkers&) = delete;
  TOrderedWorkers& operator=(const TOrderedWorkers&) = delete;

  void Submit(std::function<T()> job) {
    auto slot = std::make_shared<TSlot>();
    slot->Job = std::move(job);
    {
      std::lock_guard lock(Mutex);
      Pending.push_back(slot);
      Todo.push_back(slot);
    }
    Wake.notify_one();
  }

  // Jobs submitted and not yet taken by Next.
  std::size_t Size() const { return Pending.size(); }

  // The oldest job's result, once it is done.
  T Next() {
    std::unique_lock lock(Mutex);
    std::shared_ptr<TSlot> slot = Pending.front();
    Done.wait(lock, [&] { return slot->Finished; });
    Pending.pop_front();
    if (slot->Error) std::rethrow_exception(slot->Error);
    return std::move(*slot->Result);
  }

 private:
  struct TSlot {
    std::function<T()> Job;
    std::optional<T> Result;
    std::exception_ptr Error;
    bool Finished = false;
  };

  void Work() {
    for (;;) {
      std::shared_ptr<TSlot> slot;
      {
        std::unique_lock lock(Mutex);
        Wake.wait(lock, [&] { return Stopping || !Todo.empty(); });
        if (Stopping) return;
        slot = Todo.front();
        Todo.pop_front();
      }
      std::optional<T> result;
      std::exception_ptr error;
      try {
        result.emplace(slot->Job());
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard lock(Mutex);
        slot->Result = std::move(result);
        slot->Error = error;
        slot->Finished = true;
        slot->Job = nullptr;
      }
      Done.notify_all();
    }
  }

  std::mutex Mutex;
  std::condition_variable Wake, Done;
  std::deque<std::shared_ptr<TSlot>> Pending, Todo;
  bool Stopping = false;
  std::vector<std::thread> Threads;
};

}  // namespace meridane
