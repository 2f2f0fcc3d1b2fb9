#include "speech/decoder_faults.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "speech/library_errors.h"

namespace speech {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Made once, before any decoder thread and the watcher start, and never freed:
// it is used until the process exits. Each new task names its own report.
struct Watch {
  std::mutex lock;
  DecoderFaultReport report;
};
Watch* watch = nullptr;
int signalPipe[2] = {-1, -1};

void reportFault(const std::string& description) {
  DecoderFaultReport report;
  {
    std::lock_guard<std::mutex> hold(watch->lock);
    report = watch->report;
  }
  report(description);
}

// Only one fault is reported: a second one (the decoder parked in exit() while
// another thread faults there too, say) would report the same end twice.
std::atomic<bool> reported{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler may only touch lock-free atomics");

thread_local bool onDecoderThread = false;

// What the other threads' faults did before: ended the process, or, under a
// sanitizer, its report.
struct sigaction previousActions[sizeof kFatalSignals / sizeof kFatalSignals[0]];

constexpr size_t kSignalStackBytes = 64 * 1024;

[[noreturn]] void parkForGood() {
  for (;;) pause();
}

// Runs inside exit(), before any destructor of the process (it is registered after
// them all): the decoder thread stays there, and the result handler ends the run.
void onExit() {
  if (!onDecoderThread || reported.exchange(true)) return;
  const std::string message = lastLibraryError();
  reportFault("The speech decoder stopped on a fatal error" + (message.empty() ? "" : ": " + message));
  parkForGood();
}

void onFatalSignal(int signal) {
  if (!onDecoderThread) {
    // Not the library's fault on our thread: what happened before happens. A
    // faulting instruction runs again on return; abort() raises again itself.
    for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
      if (kFatalSignals[i] == signal) sigaction(signal, &previousActions[i], nullptr);
    }
    return;
  }
  if (!reported.exchange(true)) {
    // Only write() here; the watcher does the rest with a sound heap and locks.
    ssize_t n;
    do {
      n = write(signalPipe[1], &signal, sizeof signal);
    } while (n < 0 && errno == EINTR);
  }
  parkForGood();
}

void watchSignals() {
  int signal = 0;
  ssize_t n;
  do {
    n = read(signalPipe[0], &signal, sizeof signal);
  } while (n < 0 && errno == EINTR);
  if (n != sizeof signal) return;
  const std::string message = lastLibraryError();
  reportFault("The speech decoder crashed (" + signalName(signal) + ")" + (message.empty() ? "" : ": " + message));
}

}  // namespace

bool watchDecoderFaults(DecoderFaultReport onFault) {
  if (watch != nullptr) {
    std::lock_guard<std::mutex> hold(watch->lock);
    watch->report = std::move(onFault);
    return true;
  }
  if (pipe2(signalPipe, O_CLOEXEC) != 0) return false;
  watch = new Watch;
  watch->report = std::move(onFault);
  try {
    std::thread(watchSignals).detach();
  } catch (const std::system_error&) {
    close(signalPipe[0]);
    close(signalPipe[1]);
    delete watch;
    watch = nullptr;
    return false;
  }
  std::atexit(onExit);
  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i) {
    sigaction(kFatalSignals[i], &action, &previousActions[i]);
  }
  return true;
}

void markDecoderThread() {
  onDecoderThread = true;
  // A stack of the thread's own for the handler, unless it has one already: a
  // sanitizer's runtime gives each thread one and unmaps it when the thread ends,
  // so it must stay the runtime's. Kept until exit, like the decoder thread.
  stack_t stack{};
  if (sigaltstack(nullptr, &stack) == 0 && !(stack.ss_flags & SS_DISABLE))
    return;
  void* memory = mmap(nullptr, kSignalStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
  if (memory == MAP_FAILED) return;
  stack = stack_t{};
  stack.ss_sp = memory;
  stack.ss_size = kSignalStackBytes;
  sigaltstack(&stack, nullptr);
}

}  // namespace speech
