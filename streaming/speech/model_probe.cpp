#include "speech/model_probe.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "speech/library_errors.h"
#include "speech/mdef_layout.h"
#include "speech/pocketsphinx_session.h"

namespace speech {

namespace {

// How the child ends.
constexpr int kLoaded = 0;
constexpr int kNotInitialised = 2;  // the library returned an error
constexpr int kLibraryExited = 3;   // the library called exit()
constexpr int kDecodeFailed = 4;
constexpr int kDictionaryLacksWords = 5;

// A header that claims an absurd size must fail its allocation in the child rather
// than take the machine's memory; the model needs about 150 MB. Sanitizer runtimes
// reserve terabytes of address space, so they get no limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLimitMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kLimitMemory = false;
#else
constexpr bool kLimitMemory = true;
#endif
#else
constexpr bool kLimitMemory = true;
#endif
constexpr rlim_t kMemoryLimitBytes = rlim_t{4} << 30;
// A model that sends the library into an endless loop is given up after this long.
constexpr unsigned kTimeLimitSeconds = 60;

constexpr size_t kMessageBytes = 1024;

void onLibraryExit() { _exit(kLibraryExited); }

[[noreturn]] void runProbe(const std::string& modelDir, char* message) {
  // The parent's handlers for fatal signals are not the child's: a crash here
  // ends the child by its signal, which the parent reads.
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(signal, SIG_DFL);
  // Registered last, so it runs first: no destructor of the parent's objects runs here.
  std::atexit(onLibraryExit);
  if (kLimitMemory) {
    const rlimit limit{kMemoryLimitBytes, kMemoryLimitBytes};
    setrlimit(RLIMIT_AS, &limit);
  }
  alarm(kTimeLimitSeconds);
  keepLibraryErrors();
  keepLibraryErrorsIn(message, kMessageBytes);

  // Read rather than mapped: a file cut short then fails here instead of being
  // read past its end, which crashes or not depending on the memory layout.
  std::unique_ptr<PocketsphinxSession> session =
      PocketsphinxSession::make(modelDir, PocketsphinxSession::kMaxSegmentSamples, true);
  if (session == nullptr) _exit(kNotInitialised);
  if (!session->dictionaryCoversLanguageModel()) _exit(kDictionaryLacksWords);
  // Some damage shows only once frames are scored and an utterance is ended:
  // decode two blocks (a quarter of a second) of faint noise.
  std::vector<int16_t> noise(2 * PocketsphinxSession::kBlockSamples);
  uint32_t seed = 1;
  for (int16_t& sample : noise) {
    seed = seed * 1664525u + 1013904223u;
    sample = static_cast<int16_t>(static_cast<int>(seed >> 24) - 128);
  }
  if (!session->process(noise.data(), noise.size()) || !session->finish()) _exit(kDecodeFailed);
  _exit(kLoaded);
}

// Why the child did not load the model, from how it ended and what the library said.
std::string reasonFor(int status, const std::string& libraryMessage) {
  std::string how;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    how = "loading took longer than " + std::to_string(kTimeLimitSeconds) + " s";
  } else if (WIFSIGNALED(status)) {
    how = "the library crashed (" + signalName(WTERMSIG(status)) + ")";
  } else if (WEXITSTATUS(status) == kNotInitialised) {
    how = "the decoder did not initialise";
  } else if (WEXITSTATUS(status) == kLibraryExited) {
    how = "the library gave up on a fatal error";
  } else if (WEXITSTATUS(status) == kDictionaryLacksWords) {
    return "the dictionary lacks words of the language model";  // the library's errors are beside the point
  } else if (WEXITSTATUS(status) == kDecodeFailed) {
    how = "the decoder failed on its first audio";
  } else {
    how = "the trial load ended with status " + std::to_string(WEXITSTATUS(status));
  }
  if (libraryMessage.empty()) return how;
  // A returned error or a fatal exit is told by the message alone; a crash after
  // a message gets both.
  if (WIFEXITED(status) && WEXITSTATUS(status) != kDecodeFailed) return libraryMessage;
  return libraryMessage + "; " + how;
}

}  // namespace

ModelProbe probeModel(const std::string& modelDir) {
  // Checked before the trial: whether the library crashes on this fault is luck.
  const std::string mdefProblem = binaryMdefProblem(modelDir + "/en-us/en-us/mdef");
  if (!mdefProblem.empty()) return ModelProbe{false, mdefProblem};

  // The child writes the library's message here, where it survives a crash.
  void* shared = mmap(nullptr, kMessageBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return {};
  char* message = static_cast<char*>(shared);
  message[0] = '\0';

  const pid_t child = fork();
  if (child < 0) {
    munmap(shared, kMessageBytes);
    return {};
  }
  if (child == 0) runProbe(modelDir, message);

  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  message[kMessageBytes - 1] = '\0';
  const std::string libraryMessage = libraryErrorText(message);
  munmap(shared, kMessageBytes);
  if (waited < 0) return {};
  if (WIFEXITED(status) && WEXITSTATUS(status) == kLoaded) return {};
  return ModelProbe{false, reasonFor(status, libraryMessage)};
}

}  // namespace speech
