#include "startup_faults.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

#include "state.h"

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

// Everything the handlers read is made before the step starts.
char pendingLine[128];
size_t pendingLength = 0;
int eventChannel = -1;
std::atomic<pid_t> guardedProcess{0};  // 0: no step is guarded
static_assert(std::atomic<pid_t>::is_always_lock_free, "the handlers may only touch lock-free atomics");
bool exitHookRegistered = false;
struct sigaction previousActions[kSignalCount];

// A stack overflow inside the library leaves no stack for the handler to run on.
alignas(16) char alternateStack[64 * 1024];

void writePendingLine() {
  const char* bytes = pendingLine;
  size_t length = pendingLength;
  while (length > 0) {
    const ssize_t n = write(eventChannel, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking channel whose reader is behind: wait until it takes more.
      pollfd ready{eventChannel, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return;
      continue;
    }
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
}

// getpid() tells our process from a child forked by the step (the recognizer's
// trial load), whose ends are its own.
bool guarding() {
  const pid_t guarded = guardedProcess.load();
  return guarded != 0 && guarded == getpid();
}

void onExit() {
  if (!guarding()) return;
  writePendingLine();
  _exit(1);
}

void onFatalSignal(int signal) {
  if (!guarding()) {
    for (size_t i = 0; i < kSignalCount; ++i) {
      if (kFatalSignals[i] == signal) sigaction(signal, &previousActions[i], nullptr);
    }
    return;  // what the signal did before happens when it comes again
  }
  guardedProcess.store(0);  // a second fault on the way out writes nothing more
  writePendingLine();
  _exit(1);
}

}  // namespace

void guardStartUpStep(const std::string& errorCode) {
  const std::string line = nlohmann::json{{"error", errorCode}}.dump() + "\n";
  if (line.size() > sizeof pendingLine) return;  // the codes are short constants
  std::memcpy(pendingLine, line.data(), line.size());
  pendingLength = line.size();
  eventChannel = outputHandle.fileDescriptor();

  if (!exitHookRegistered) exitHookRegistered = std::atexit(onExit) == 0;
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
  for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &action, &previousActions[i]);
  guardedProcess.store(getpid());
}

void endStartUpGuard() {
  if (guardedProcess.exchange(0) == 0) return;
  for (size_t i = 0; i < kSignalCount; ++i) sigaction(kFatalSignals[i], &previousActions[i], nullptr);
}
