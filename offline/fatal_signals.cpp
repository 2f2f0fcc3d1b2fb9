#include "fatal_signals.h"

#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "descriptor_io.h"
#include "event_writer.h"

namespace {

constexpr int kFatalSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Everything the handler reads is set beforehand: it may run after a failed
// allocation or with the heap corrupted.
char pendingLine[64];
std::atomic<size_t> pendingLength{0};
std::atomic<int> exitStatus{1};
std::atomic<bool> handling{false};
static_assert(std::atomic<size_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the handler may only touch lock-free atomics");

// A stack overflow on the main thread leaves no stack for the handler to run on.
alignas(16) char alternateStack[64 * 1024];

void onFatalSignal(int) {
  // Several inference threads can fail the same assertion at once: only the
  // first writes, the others wait for its _exit. (The fatal signals are blocked
  // while the handler runs, so a thread never comes back here by itself.)
  if (handling.exchange(true)) {
    for (;;) pause();
  }
  writeWhole(STDOUT_FILENO, pendingLine, pendingLength.load());
  _exit(exitStatus.load());
}

}  // namespace

void installFatalSignalHandlers() {
  // ggml's own abort path would start a debugger whose output lands on standard
  // output, where only the event line may go; it reads this variable when it aborts.
  setenv("GGML_NO_BACKTRACE", "1", 1);

  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);

  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kFatalSignals) sigaction(signal, &action, nullptr);
}

void reportFatalSignalAs(const char* code) {
  const std::string line = errorEventLine(code);
  pendingLength.store(0);
  if (line.size() <= sizeof pendingLine) {
    std::memcpy(pendingLine, line.data(), line.size());
    pendingLength.store(line.size());
  }
  exitStatus.store(1);
}

void fatalSignalExitsWith(int status) {
  pendingLength.store(0);
  exitStatus.store(status);
}
