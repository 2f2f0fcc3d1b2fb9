// The main queue is served for ever by dispatchMain(), so each main-queue scenario
// runs in a child process (a death test) that ends with _exit from a main-queue
// item. The child writes its trace to standard error in one write; any sanitizer
// report there breaks the exact match.
#include "dispatch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using dispatch::afterMain;
using dispatch::asyncMain;
using dispatch::Clock;
using dispatch::WorkItem;
using std::chrono::milliseconds;

// Touched only on the main thread of the child.
std::thread::id mainThread;
std::string trace;
bool running = false;

void mark(const std::string& name) {
  if (std::this_thread::get_id() != mainThread) trace += "!not-main-thread ";
  if (!name.empty()) trace += name + " ";
}

// A main-queue item that marks its name (if any), and spoils the trace if it runs
// off the main thread or overlaps another item.
dispatch::Work step(const std::string& name, dispatch::Work more = nullptr) {
  return [name, more] {
    if (running) trace += "!overlap ";
    running = true;
    mark(name);
    if (more) more();
    running = false;
  };
}

[[noreturn]] void finish() {
  std::string line = "trace=" + trace + "end\n";
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
  _exit(0);
}

std::shared_ptr<WorkItem> timer(dispatch::Work work) { return std::make_shared<WorkItem>(std::move(work)); }

[[noreturn]] void serveMain(const std::function<void()>& setUp) {
  mainThread = std::this_thread::get_id();
  setUp();
  dispatch::dispatchMain();
}

// Threads started by a scenario; joined by its last item, on the main thread.
std::vector<std::thread> helpers;

void joinHelpers() {
  for (std::thread& t : helpers) t.join();
  helpers.clear();
}

class MainQueueDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(MainQueueDeathTest, RunsItemsInOrderOneAtATimeOnTheMainThread) {
  EXPECT_EXIT(serveMain([] {
                asyncMain(step("a"));
                // Work queued by an item runs after it, behind what was queued before.
                asyncMain(step("b", [] { asyncMain(step("d", finish)); }));
                asyncMain(step("c"));
              }),
              ::testing::ExitedWithCode(0), "^trace=a b c d end\n$");
}

TEST_F(MainQueueDeathTest, TakesWorkFromOtherThreadsInTheirOrder) {
  constexpr int kThreads = 3;
  constexpr int kItems = 200;
  static int seen[kThreads];
  static int total;
  EXPECT_EXIT(serveMain([] {
                asyncMain([] {
                  for (int t = 0; t < kThreads; ++t) {
                    helpers.emplace_back([t] {
                      for (int k = 0; k < kItems; ++k) {
                        // Now and then the main thread runs dry and has to be woken.
                        if (k % 50 == 0) std::this_thread::sleep_for(milliseconds(20));
                        asyncMain(step("", [t, k] {
                          if (seen[t]++ != k) trace += "!order ";
                          if (++total == kThreads * kItems) {
                            joinHelpers();
                            trace = std::to_string(total) + " " + trace;
                            finish();
                          }
                        }));
                      }
                    });
                  }
                });
              }),
              ::testing::ExitedWithCode(0), "^trace=600 end\n$");
}

TEST_F(MainQueueDeathTest, CancelledItemNeverRuns) {
  // Cancelled before the main queue is served.
  EXPECT_EXIT(serveMain([] {
                auto cancelled = timer(step("cancelled"));
                afterMain(Clock::now() + milliseconds(20), cancelled);
                cancelled->cancel();
                afterMain(Clock::now() + milliseconds(300), timer(finish));
              }),
              ::testing::ExitedWithCode(0), "^trace=end\n$");

  // Cancelled from another thread while the main thread waits for it.
  EXPECT_EXIT(serveMain([] {
                auto cancelled = timer(step("cancelled"));
                afterMain(Clock::now() + milliseconds(300), cancelled);
                helpers.emplace_back([cancelled] {
                  cancelled->cancel();
                  asyncMain(step("cancel-returned"));
                });
                afterMain(Clock::now() + milliseconds(600), timer([] {
                            joinHelpers();
                            finish();
                          }));
              }),
              ::testing::ExitedWithCode(0), "^trace=cancel-returned end\n$");

  // Cancelled by the item just ahead of it, when it has already joined the queue:
  // the timer falls due while "a" runs and joins behind "b".
  EXPECT_EXIT(serveMain([] {
                auto due = Clock::now() + milliseconds(10);
                auto cancelled = timer(step("cancelled"));
                asyncMain(step("a", [due] { std::this_thread::sleep_until(due + milliseconds(50)); }));
                asyncMain(step("b", [cancelled] { cancelled->cancel(); }));
                afterMain(due, cancelled);
                afterMain(due + milliseconds(300), timer(finish));
              }),
              ::testing::ExitedWithCode(0), "^trace=a b end\n$");
}

TEST_F(MainQueueDeathTest, DueTimerJoinsBehindQueuedWork) {
  // "t" falls due while "a" runs: it goes behind "b" (queued before its deadline)
  // and the timer "p" whose deadline had passed when it was scheduled, and ahead of
  // "c", queued after its deadline.
  EXPECT_EXIT(serveMain([] {
                auto due = Clock::now() + milliseconds(10);
                asyncMain(step("a", [due] {
                  std::this_thread::sleep_until(due + milliseconds(50));
                  asyncMain(step("c", finish));
                }));
                asyncMain(step("b"));
                afterMain(Clock::now() - std::chrono::seconds(1), timer(step("p")));
                afterMain(due, timer(step("t")));
              }),
              ::testing::ExitedWithCode(0), "^trace=a b p t c end\n$");
}

TEST_F(MainQueueDeathTest, TimersRunInDeadlineOrderTiesInSchedulingOrder) {
  EXPECT_EXIT(serveMain([] {
                // Far enough ahead that scheduling them all takes no part of it.
                auto base = Clock::now() + milliseconds(200);
                afterMain(base + milliseconds(80), timer(step("e")));
                afterMain(base + milliseconds(20), timer(step("a")));
                afterMain(base + milliseconds(50), timer(step("c1")));
                afterMain(base + milliseconds(50), timer(step("c2")));
                afterMain(base + milliseconds(30), timer(step("b")));
                afterMain(base + milliseconds(120), timer(finish));
              }),
              ::testing::ExitedWithCode(0), "^trace=a b c1 c2 e end\n$");

  // A nearer deadline scheduled from another thread wakes a main thread that is
  // waiting for a later one: "near" must run well before "late" falls due.
  static Clock::time_point late;
  EXPECT_EXIT(serveMain([] {
                late = Clock::now() + std::chrono::seconds(20);
                afterMain(late, timer(step("late", finish)));
                helpers.emplace_back([] {
                  std::this_thread::sleep_for(milliseconds(100));
                  afterMain(Clock::now() + milliseconds(50), timer([] {
                              joinHelpers();
                              mark(Clock::now() < late ? "near" : "!near-after-late");
                              finish();
                            }));
                });
              }),
              ::testing::ExitedWithCode(0), "^trace=near end\n$");
}

TEST(WorkItem, PerformRunsUnlessCancelled) {
  int runs = 0;
  WorkItem item([&runs] { ++runs; });
  EXPECT_FALSE(item.isCancelled());
  item.perform();
  EXPECT_EQ(runs, 1);
  item.cancel();
  EXPECT_TRUE(item.isCancelled());
  item.perform();
  EXPECT_EQ(runs, 1);
}

TEST(SerialQueue, RunsItemsInOrderOnOneThreadOfItsOwn) {
  dispatch::SerialQueue queue("orlessa.test.input");
  EXPECT_EQ(queue.label(), "orlessa.test.input");
  dispatch::Semaphore done(0);
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  for (int i = 0; i < 100; ++i) {
    queue.async([&, i] {
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
      if (i == 99) done.signal();
    });
  }
  done.wait();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_NE(threads.front(), std::this_thread::get_id());
#if !defined(__APPLE__)
  // GCD runs a serial queue's items one at a time and in order, but on whichever of
  // its worker threads is free; only our own queue keeps one thread.
  for (std::thread::id id : threads) EXPECT_EQ(id, threads.front());
#endif
}

TEST(SerialQueue, DestructorRunsWhatIsQueuedThenStopsItsThread) {
  std::vector<int> ran;
  {
    dispatch::SerialQueue queue("orlessa.test.drain");
    queue.async([&ran] {
      std::this_thread::sleep_for(milliseconds(50));
      ran.push_back(1);
    });
    queue.async([&ran] { ran.push_back(2); });
  }
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(SerialQueue, CanBeDestroyedFromItsOwnItem) {
  auto* queue = new dispatch::SerialQueue("orlessa.test.self");
  dispatch::Semaphore destroyed(0);
  queue->async([queue, &destroyed] {
    delete queue;
    destroyed.signal();
  });
  destroyed.wait();
}

TEST(Semaphore, CountsSignals) {
  dispatch::Semaphore semaphore(2);
  semaphore.wait();
  semaphore.wait();
  std::atomic<bool> passed{false};
  std::thread waiter([&] {
    semaphore.wait();
    passed = true;
  });
  // Only fails when the count is wrong; a slow machine can only hide that.
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(passed);
  semaphore.signal();
  waiter.join();
  EXPECT_TRUE(passed);
}

TEST(Semaphore, WaitReturnsOnlyAfterASignalAndOrdersMemory) {
  dispatch::Semaphore semaphore(0);
  std::atomic<bool> signalled{false};
  int payload = 0;  // plain: the semaphore orders the write before the read
  std::thread signaller([&] {
    std::this_thread::sleep_for(milliseconds(100));
    payload = 42;
    signalled = true;
    semaphore.signal();
  });
  semaphore.wait();
  EXPECT_TRUE(signalled);
  EXPECT_EQ(payload, 42);
  signaller.join();
}

}  // namespace
