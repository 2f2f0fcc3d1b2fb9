#include "library_abort.h"

#include <atomic>
#include <cstdio>
#include <unistd.h>

#include <ggml.h>

#include "event_writer.h"

namespace {

// ggml's abort callback takes no user data, so the stage has to be process-wide.
std::atomic<const char*> abortCode{nullptr};
std::atomic<bool> reporting{false};

void onLibraryAbort(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    const char* code = abortCode.load();
    if (code == nullptr) return;  // ggml goes on to abort()
    // Several inference threads can fail the same assertion at once; only the
    // first may write, and the others wait for its _exit.
    if (reporting.exchange(true)) {
        for (;;) pause();
    }
    const std::string line = errorEventLine(code);
    ssize_t ignored = write(STDOUT_FILENO, line.data(), line.size());
    (void)ignored;
    _exit(1);
}

}  // namespace

void reportLibraryAbortAs(const char* code) {
    abortCode.store(code);
    ggml_set_abort_callback(onLibraryAbort);
}
