// A small dispatch layer: the main queue, a serial queue with a thread of its own,
// a counting semaphore and cancellable work items scheduled for a deadline.
//
// Thread safety: every function and method here may be called from any thread,
// except dispatchMain(), which only the main thread calls, once.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace dispatch {

using Work = std::function<void()>;
using Clock = std::chrono::steady_clock;  // monotonic, never wall-clock time

// Queues work on the main queue. Items run on the main thread, in order, one at a
// time, once dispatchMain() serves the queue.
void asyncMain(Work work);

// A work item that can be cancelled before it runs. A cancelled item never runs.
class WorkItem {
 public:
  explicit WorkItem(Work work);
  void cancel();
  bool isCancelled() const;
  // Runs the work unless the item was cancelled; called by the queue that serves it.
  void perform();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Schedules item on the main queue for deadline. When the deadline passes the item
// joins the main queue behind whatever is already queued there; items due together
// join in deadline order, ties in the order they were scheduled. A deadline already
// past joins at the time of the call. An item cancelled before it runs, even by the
// main-queue item just ahead of it, is dropped.
void afterMain(Clock::time_point deadline, std::shared_ptr<WorkItem> item);

// Serves the main queue on the calling (main) thread for ever.
[[noreturn]] void dispatchMain();

// A serial queue: one thread of its own runs its items in order, one at a time
// (on Apple, GCD runs them one at a time on whichever of its threads is free).
class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue();  // never run in selvane: the process exits with the queue alive
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;
  const std::string& label() const;
  // False when the queue could not get a thread; it then runs nothing, and the
  // caller reports the failure. The constructor never throws.
  bool isRunning() const;
  void async(Work work);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

class Semaphore {
 public:
  explicit Semaphore(long count);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;
  void signal();
  void wait();  // no time limit

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dispatch
