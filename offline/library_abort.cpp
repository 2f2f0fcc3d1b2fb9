#include "library_abort.h"

#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstring>

#include <ggml.h>

#include "event_writer.h"

namespace {

// ggml's abort callback takes no user data, so the line to write is process-wide.
// It is made in advance: the abort may come from a failed allocation.
char abortLine[64];
std::atomic<size_t> abortLineLength{0};
std::atomic<bool> reporting{false};

void onLibraryAbort(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  const size_t length = abortLineLength.load();
  if (length == 0) return;  // ggml goes on to abort()
  // Several inference threads can fail the same assertion at once; only the
  // first may write, and the others wait for its _exit.
  if (reporting.exchange(true)) {
    for (;;) pause();
  }
  ssize_t ignored = write(STDOUT_FILENO, abortLine, length);
  (void)ignored;
  _exit(1);
}

}  // namespace

void reportLibraryAbortAs(const char* code) {
  abortLineLength.store(0);
  if (code != nullptr) {
    const std::string line = errorEventLine(code);
    if (line.size() <= sizeof abortLine) {
      std::memcpy(abortLine, line.data(), line.size());
      abortLineLength.store(line.size());
    }
  }
  ggml_set_abort_callback(onLibraryAbort);
}
