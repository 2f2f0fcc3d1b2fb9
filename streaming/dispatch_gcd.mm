// The dispatch layer on Apple: Grand Central Dispatch itself. The Speech framework
// delivers its results on GCD's main queue, so the main loop there must be GCD's.
// Objective-C++ with ARC: queues, semaphores and blocks are released by ARC.
#include "dispatch.h"

#include <dispatch/dispatch.h>

#include <cstdint>

namespace dispatch {
namespace {

// Nanoseconds from now until deadline on the monotonic clock; 0 for a past one.
int64_t nanosecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int64_t>(left) : 0;
}

}  // namespace

// Blocks copy what they capture: each one holds its own std::function or
// shared_ptr, so nothing it points to can die before it runs.
void asyncMain(Work work) {
  dispatch_async(dispatch_get_main_queue(), ^{
    work();
  });
}

// A GCD block made cancellable by dispatch_block_create: once cancelled, calling it
// returns at once.
struct WorkItem::State {
  dispatch_block_t block;
};

WorkItem::WorkItem(Work work) : state_(std::make_shared<State>()) {
  // No flags. In C++ the SDK declares the flags as an enum with a fixed underlying
  // type, to which a literal 0 does not convert.
  state_->block = dispatch_block_create(static_cast<dispatch_block_flags_t>(0), ^{
    work();
  });
}

void WorkItem::cancel() { dispatch_block_cancel(state_->block); }

bool WorkItem::isCancelled() const { return dispatch_block_testcancel(state_->block) != 0; }

void WorkItem::perform() {
  if (!isCancelled()) state_->block();
}

void afterMain(Clock::time_point deadline, std::shared_ptr<WorkItem> item) {
  const int64_t delay = nanosecondsUntil(deadline);
  if (delay == 0) {
    // A deadline already past joins the main queue now, behind what is queued.
    dispatch_async(dispatch_get_main_queue(), ^{
      item->perform();
    });
    return;
  }
  // dispatch_time counts on the monotonic clock, never wall-clock time.
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), dispatch_get_main_queue(), ^{
    item->perform();
  });
}

void dispatchMain() { dispatch_main(); }

namespace {
// The serial queue whose item runs on this thread, if any: a queue destroyed from
// its own item must not wait for itself.
thread_local const void* currentSerialQueue = nullptr;
}  // namespace

struct SerialQueue::State {
  explicit State(std::string l) : label(std::move(l)) {}
  const std::string label;
  dispatch_queue_t queue = nil;
};

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>(std::move(label))) {
  // No attributes: a serial queue at the default quality of service.
  state_->queue = dispatch_queue_create(state_->label.c_str(), DISPATCH_QUEUE_SERIAL);
}

// Runs what is queued to its end. GCD keeps the queue alive while blocks are
// pending on it, so from one of its own items there is nothing to wait for.
SerialQueue::~SerialQueue() {
  if (currentSerialQueue == state_.get()) return;
  dispatch_sync(state_->queue, ^{
    // Nothing to do: once this runs, everything queued before it has run.
  });
}

const std::string& SerialQueue::label() const { return state_->label; }

// dispatch_queue_create gives no queue only when it cannot allocate one.
bool SerialQueue::isRunning() const { return state_->queue != nil; }

void SerialQueue::async(Work work) {
  const void* self = state_.get();  // only compared, never followed
  dispatch_async(state_->queue, ^{
    const void* outer = currentSerialQueue;
    currentSerialQueue = self;
    work();
    currentSerialQueue = outer;
  });
}

// libdispatch refuses to free a semaphore whose count is below the one it was
// created with, so it starts at 0 and is raised to the initial count.
struct Semaphore::State {
  dispatch_semaphore_t semaphore = nil;
};

Semaphore::Semaphore(long count) : state_(std::make_unique<State>()) {
  state_->semaphore = dispatch_semaphore_create(0);
  for (long i = 0; i < count; ++i) dispatch_semaphore_signal(state_->semaphore);
}

Semaphore::~Semaphore() = default;

void Semaphore::signal() { dispatch_semaphore_signal(state_->semaphore); }

void Semaphore::wait() { dispatch_semaphore_wait(state_->semaphore, DISPATCH_TIME_FOREVER); }

}  // namespace dispatch
