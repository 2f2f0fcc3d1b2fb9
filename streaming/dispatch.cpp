#include "dispatch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

namespace dispatch {

struct WorkItem::State {
  explicit State(Work w) : work(std::move(w)) {}
  Work work;
  std::atomic<bool> cancelled{false};
};

WorkItem::WorkItem(Work work) : state_(std::make_shared<State>(std::move(work))) {}

void WorkItem::cancel() { state_->cancelled.store(true, std::memory_order_release); }

bool WorkItem::isCancelled() const { return state_->cancelled.load(std::memory_order_acquire); }

void WorkItem::perform() {
  // Checked at the last moment, on the serving thread: a cancel that returned
  // before this point, on any thread, keeps the work from running.
  if (!isCancelled()) state_->work();
}

namespace {

// An entry of the main queue. `joined` is when it entered the queue: the time of
// asyncMain, or the deadline of a timer, so a timer that fell due while the main
// thread was busy still goes ahead of work queued after its deadline.
struct Queued {
  Clock::time_point joined;
  Work work;
};

struct Timer {
  Clock::time_point joins;      // the deadline, or the scheduling time if that is later
  unsigned long long sequence;  // ties go in scheduling order
  std::shared_ptr<WorkItem> item;
  bool operator<(const Timer& other) const {
    return std::tie(joins, sequence) < std::tie(other.joins, other.sequence);
  }
};

// The main loop. Other threads only append under `mutex` and wake the main thread
// through `wakeUp`; everything else happens on the main thread.
struct MainLoop {
  std::mutex mutex;
  std::condition_variable wakeUp;
  std::deque<Queued> queue;  // ordered by `joined`
  std::multiset<Timer> timers;
  unsigned long long nextSequence = 0;
};

// Never destroyed: items end the process with exit(), and other threads may still
// be handing work over while static destructors run.
MainLoop& mainLoop() {
  static MainLoop* loop = new MainLoop;
  return *loop;
}

// Moves the timers that are due into the queue, each at the place its deadline gives.
void admitDueTimers(MainLoop& loop, Clock::time_point now) {
  while (!loop.timers.empty() && loop.timers.begin()->joins <= now) {
    Timer timer = *loop.timers.begin();
    loop.timers.erase(loop.timers.begin());
    if (timer.item->isCancelled()) continue;
    auto place = std::upper_bound(loop.queue.begin(), loop.queue.end(), timer.joins,
                                  [](Clock::time_point t, const Queued& q) { return t < q.joined; });
    std::shared_ptr<WorkItem> item = std::move(timer.item);
    loop.queue.insert(place, Queued{timer.joins, [item] { item->perform(); }});
  }
}

// Blocks until an entry of the main queue is ready, and takes it.
Work nextWork(MainLoop& loop) {
  std::unique_lock<std::mutex> lock(loop.mutex);
  for (;;) {
    admitDueTimers(loop, Clock::now());
    if (!loop.queue.empty()) {
      Work work = std::move(loop.queue.front().work);
      loop.queue.pop_front();
      return work;
    }
    if (loop.timers.empty()) {
      loop.wakeUp.wait(lock);
    } else {
      loop.wakeUp.wait_until(lock, loop.timers.begin()->joins);
    }
  }
}

}  // namespace

void asyncMain(Work work) {
  MainLoop& loop = mainLoop();
  {
    std::lock_guard<std::mutex> lock(loop.mutex);
    // Read under the lock so that `joined` never decreases along the queue.
    loop.queue.push_back(Queued{Clock::now(), std::move(work)});
  }
  loop.wakeUp.notify_one();
}

void afterMain(Clock::time_point deadline, std::shared_ptr<WorkItem> item) {
  MainLoop& loop = mainLoop();
  {
    std::lock_guard<std::mutex> lock(loop.mutex);
    // A deadline already past joins behind the work queued until now.
    Clock::time_point joins = std::max(deadline, Clock::now());
    loop.timers.insert(Timer{joins, loop.nextSequence++, std::move(item)});
  }
  loop.wakeUp.notify_one();
}

void dispatchMain() {
  MainLoop& loop = mainLoop();
  for (;;) {
    Work work = nextWork(loop);
    work();
  }
}

struct SerialQueue::State {
  explicit State(std::string l) : label(std::move(l)) {}
  const std::string label;
  std::mutex mutex;
  std::condition_variable wakeUp;
  std::deque<Work> queue;
  bool stopping = false;
  std::thread thread;

  void serve() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wakeUp.wait(lock, [&] { return stopping || !queue.empty(); });
      if (queue.empty()) return;
      Work work = std::move(queue.front());
      queue.pop_front();
      lock.unlock();
      work();
      work = nullptr;  // release the item's captures before taking the lock again
      lock.lock();
    }
  }
};

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>(std::move(label))) {
  // The thread holds its own reference, so a detached thread never outlives its state.
  std::shared_ptr<State> state = state_;
  try {
    state_->thread = std::thread([state] { state->serve(); });
  } catch (const std::system_error&) {
    // No thread: isRunning() says so; items queued meanwhile are never run.
  }
}

// Runs what is queued to its end, then stops the thread. From an item of this queue
// the thread cannot join itself; it is detached and stops after that item.
SerialQueue::~SerialQueue() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    thread = std::move(state_->thread);
  }
  state_->wakeUp.notify_one();
  if (!thread.joinable()) return;  // it never had a thread
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}

const std::string& SerialQueue::label() const { return state_->label; }

bool SerialQueue::isRunning() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->thread.joinable();
}

void SerialQueue::async(Work work) {
  // Done with `this` before the lock is released: once the item can run, it may
  // destroy the queue.
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->queue.push_back(std::move(work));
  state_->wakeUp.notify_one();
}

struct Semaphore::State {
  explicit State(long c) : count(c) {}
  std::mutex mutex;
  std::condition_variable wakeUp;
  long count;
};

Semaphore::Semaphore(long count) : state_(std::make_unique<State>(count)) {}

Semaphore::~Semaphore() = default;

void Semaphore::signal() {
  // Notified under the lock: the waiter may destroy the semaphore as soon as its
  // wait returns, which must not happen before this call is done with it.
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->count;
  state_->wakeUp.notify_one();
}

void Semaphore::wait() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->wakeUp.wait(lock, [&] { return state_->count > 0; });
  --state_->count;
}

}  // namespace dispatch
