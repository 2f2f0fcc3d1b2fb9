// The decoder thread's fatal ends become one report, and the process lives on
// until someone else ends it; other threads' exits and faults are left alone.
// Each case runs in a death-test child, which the report ends with status 42.
#include <unistd.h>

#include <gtest/gtest.h>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include "speech/decoder_faults.h"
#include "speech/library_errors.h"

namespace {

constexpr int kReported = 42;

[[noreturn]] void reportAndEnd(const std::string& description) {
  const std::string line = "report: " + description + "\n";
  if (write(STDERR_FILENO, line.data(), line.size()) < 0) _exit(1);
  _exit(kReported);
}

// Runs fault on a thread, marked as the decoder thread or not, and waits.
void faultOnThread(bool decoderThread, void (*fault)()) {
  speech::keepLibraryErrors();
  if (!speech::watchDecoderFaults(reportAndEnd)) _exit(2);
  std::thread([decoderThread, fault] {
    if (decoderThread) speech::markDecoderThread();
    fault();
  }).join();
  _exit(3);  // only a fault that came back
}

void libraryFatalError() { E_FATAL("Cannot go on with block %d\n", 7); }
void abortion() { std::abort(); }
void crash() { std::raise(SIGSEGV); }
void plainExit() { std::exit(5); }

TEST(DecoderFaultsDeathTest, TheDecoderThreadsFatalEndsAreReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(faultOnThread(true, libraryFatalError), ::testing::ExitedWithCode(kReported),
              "report: The speech decoder stopped on a fatal error: Cannot go on with block 7\n");
  EXPECT_EXIT(faultOnThread(true, abortion), ::testing::ExitedWithCode(kReported),
              "report: The speech decoder crashed \\(SIGABRT\\)\n");
  EXPECT_EXIT(faultOnThread(true, crash), ::testing::ExitedWithCode(kReported),
              "report: The speech decoder crashed \\(SIGSEGV\\)\n");
}

TEST(DecoderFaultsDeathTest, OtherThreadsEndAsBefore) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(faultOnThread(false, plainExit), ::testing::ExitedWithCode(5), "");
  EXPECT_EXIT(faultOnThread(false, libraryFatalError), ::testing::ExitedWithCode(EXIT_FAILURE), "");
  EXPECT_EXIT(faultOnThread(false, abortion), ::testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
