#include <gtest/gtest.h>

#include <stdexcept>

#include "download/Thread.h"

namespace meridane {
namespace {

class TProbe : public TThread {
 public:
  TProbe(IMainThread& main, std::function<void(TProbe&)> body) : TThread(main), Body(std::move(body)) {}
  ~TProbe() override {
    Terminate();
    WaitFor();
  }
  using TThread::Synchronize;

 protected:
  void Execute() override { Body(*this); }

 private:
  std::function<void(TProbe&)> Body;
};

TEST(Thread, SynchronizeRunsOnTheMainThreadAndWaits) {
  TQueueDispatcher main;
  const auto mainId = std::this_thread::get_id();
  std::vector<int> order;  // touched on the main thread only
  bool sawMainThread = true;
  TProbe worker(main, [&](TProbe& self) {
    for (int i = 0; i < 3; ++i)
      self.Synchronize([&, i] {
        sawMainThread = sawMainThread && std::this_thread::get_id() == mainId;
        order.push_back(i);
      });
  });
  worker.Start();
  main.PumpUntil([&] { return worker.Finished(); });
  EXPECT_TRUE(sawMainThread);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
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

}  // namespace
}  // namespace meridane
