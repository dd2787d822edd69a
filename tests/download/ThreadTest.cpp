#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "download/Thread.h"
#include "support/Wait.h"

namespace meridane {
namespace {

class TProbe : public TThread {
 public:
  TProbe(IMainThread& main, std::function<void(TProbe&)> body) : TThread(main), Body(std::move(body)) {}
  ~TProbe() override {
    Terminate();
    WaitFor();
  }
  using TThread::HandOver;
  using TThread::Synchronize;

 protected:
  void Execute() override { Body(*this); }

 private:
  std::function<void(TProbe&)> Body;
};

// Calls handed over and calls waited for run on the main thread in the order
// each worker made them; a handed-over call that throws stops none after it.
TEST(Thread, CallsRunOnTheMainThreadInOrder) {
  TQueueDispatcher main;
  const auto mainId = std::this_thread::get_id();
  std::vector<std::vector<int>> order(2);  // touched on the main thread only
  bool sawMainThread = true;
  auto body = [&](int worker) {
    return [&, worker](TProbe& self) {
      for (int i = 0; i < 300; ++i) {
        auto call = [&, worker, i] {
          sawMainThread = sawMainThread && std::this_thread::get_id() == mainId;
          order[static_cast<std::size_t>(worker)].push_back(i);
        };
        if (i % 7 == 0)
          self.Synchronize(call);
        else
          self.HandOver(call);
        if (i % 50 == 0) self.HandOver([] { throw std::runtime_error("dropped"); });
      }
    };
  };
  TProbe first(main, body(0)), second(main, body(1));
  first.Start();
  second.Start();
  main.PumpUntil([&] { return first.Finished() && second.Finished(); });
  main.Pump();
  EXPECT_TRUE(sawMainThread);
  std::vector<int> expected(300);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(order[0], expected);
  EXPECT_EQ(order[1], expected);
}

TEST(Thread, ErrorsOfASynchronizedCallReachTheWorker) {
  TQueueDispatcher main;
  std::string caught;
  TProbe worker(main, [&](TProbe& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  worker.Start();
  main.PumpUntil([&] { return worker.Finished(); });
  EXPECT_EQ(caught, "boom");
}

TEST(Thread, TerminateIsSeenAndAnEscapingErrorEndsTheThreadQuietly) {
  TQueueDispatcher main;
  std::atomic<int> loops{0};
  TProbe looping(main, [&](TProbe& self) {
    while (!self.Terminated()) ++loops;
    throw std::runtime_error("ends quietly");
  });
  looping.Start();
  while (loops.load() == 0) std::this_thread::yield();
  EXPECT_FALSE(looping.Finished());
  looping.Terminate();
  looping.WaitFor();
  EXPECT_TRUE(looping.Finished());

  // A call made on the main thread itself runs at once instead of queueing.
  bool ran = false;
  main.RunAndWait([&] { ran = true; });
  EXPECT_TRUE(ran);
}

// A main thread that falls behind holds the workers back: no worker gets more
// than the bound ahead of what has run (plus the batch running), and every
// call still runs, in order.
TEST(Thread, AWorkerWaitsWhileTheQueueIsFull) {
  constexpr std::size_t Limit = 64;
  constexpr int Calls = 50 * Limit;
  TQueueDispatcher main(Limit);
  std::atomic<int> ran{0};
  std::vector<int> order;  // touched on the main thread only
  int ahead = 0;
  TProbe worker(main, [&](TProbe& self) {
    for (int i = 0; i < Calls; ++i) {
      self.HandOver([&, i] {
        // A slow consumer: a busy window, a terminal that keeps up with difficulty.
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        order.push_back(i);
        ++ran;
      });
      ahead = std::max(ahead, i + 1 - ran.load());
    }
  });
  worker.Start();
  main.PumpUntil([&] { return worker.Finished(); });
  main.Pump();
  EXPECT_LE(ahead, static_cast<int>(2 * Limit));
  std::vector<int> expected(Calls);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(order, expected);
}

// A worker waiting for room ends when told to stop, though nobody pumps (an
// owner that stops its workers and joins them): it queues past the bound, and
// nothing it handed over is lost.
TEST(Thread, AStopReleasesAWorkerWaitingForRoom) {
  constexpr std::size_t Limit = 16;
  TQueueDispatcher main(Limit);
  std::atomic<int> handed{0};
  std::vector<int> order;
  TProbe worker(main, [&](TProbe& self) {
    for (int i = 0; !self.Terminated(); ++i) {
      self.HandOver([&order, i] { order.push_back(i); });
      ++handed;
    }
  });
  worker.Start();
  test::WaitFor([&] { return handed.load() >= static_cast<int>(Limit); });
  ASSERT_EQ(handed.load(), static_cast<int>(Limit));
  worker.Terminate();
  test::WaitFor([&] { return worker.Finished(); });
  EXPECT_EQ(handed.load(), static_cast<int>(Limit) + 1);
  main.Pump();
  std::vector<int> expected(Limit + 1);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(order, expected);
}

}  // namespace
}  // namespace meridane
