// selvane when the PocketSphinx library fails: on a damaged copy of the model
// (seen through a private mount namespace, so the installed model is never
// touched, and selvane is the program a host runs), and while it decodes (through
// a stand-in for the library's decoding call, loaded with LD_PRELOAD).
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test_support::readFile;
using test_support::splitLines;
using test_support::writeFile;

struct Outcome {
  std::string events;
  std::string diagnostics;
  int status = -1;  // the wait status
};

Outcome finishRun(const test_support::Child& child, std::chrono::seconds limit) {
  Outcome run;
  std::map<int, std::string> output;
  const auto deadline = Clock::now() + limit;
  EXPECT_TRUE(test_support::readToEnd({child.stdoutFd, child.stderrFd}, output, deadline));
  run.status = test_support::waitForStatus(child.pid, deadline);
  run.events = output[child.stdoutFd];
  run.diagnostics = output[child.stderrFd];
  return run;
}

std::string describe(int status) {
  if (status == -1) return "no end";
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(WEXITSTATUS(status));
}

// --- damaged models -------------------------------------------------------------

enum class Damage { kEmptied, kTruncated, kRandomBytes };

std::string damaged(const std::string& bytes, Damage damage) {
  switch (damage) {
    case Damage::kEmptied: return "";
    case Damage::kTruncated: return bytes.substr(0, bytes.size() / 2);
    case Damage::kRandomBytes: {
      std::string noise(bytes.size(), '\0');
      uint32_t seed = 12345;  // the same bytes every run
      for (char& c : noise) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
      }
      return noise;
    }
  }
  return bytes;
}

const char* name(Damage damage) {
  switch (damage) {
    case Damage::kEmptied: return "emptied";
    case Damage::kTruncated: return "truncated";
    case Damage::kRandomBytes: return "random bytes";
  }
  return "";
}

bool canMountPrivately() {
  return std::system("unshare -m sh -c 'mount -t tmpfs none /mnt' >/dev/null 2>&1") == 0;
}

class SelvaneDamagedModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canMountPrivately()) GTEST_SKIP() << "no private mount namespace here (needs root)";
    fs::copy(POCKETSPHINX_MODELDIR, copy_.path(), fs::copy_options::recursive);
  }

  // selvane with the copy in the place of the installed model, in a mount
  // namespace of its own; no audio.
  Outcome runOnCopy() {
    test_support::Child child = test_support::spawn(
        "/usr/bin/unshare",
        {"-m", "sh", "-c", "mount --bind \"$0\" \"$1\" && exec \"$2\"", copy_.path(), POCKETSPHINX_MODELDIR,
         SELVANE_PATH});
    close(child.stdinFd);
    return finishRun(child, std::chrono::seconds(120));
  }

  std::string inCopy(const std::string& file) const { return copy_.path() + "/" + file; }

  test_support::TempDir copy_;
};

TEST_F(SelvaneDamagedModelTest, TheUntouchedCopyGivesTheFinalResult) {
  const Outcome run = runOnCopy();
  EXPECT_EQ(run.events, "{\"isFinal\":true,\"text\":\"\"}\n") << run.diagnostics;
  EXPECT_EQ(describe(run.status), "status 0") << run.diagnostics;
}

// Every file of the model that matters, damaged three ways: one event, the
// reason on standard error, status 1. Before, an emptied mdef or random bytes for
// means ended the run with status 1 and nothing else, a truncated mdef or sendump
// crashed selvane, and a damaged dictionary loaded and recognised next to nothing.
TEST_F(SelvaneDamagedModelTest, EachDamagedModelFileGivesNotAvailableAndStatusOne) {
  const std::vector<std::string> files = {"en-us/en-us/mdef",     "en-us/en-us/means",
                                          "en-us/en-us/variances", "en-us/en-us/sendump",
                                          "en-us/en-us/transition_matrices", "en-us/en-us.lm.bin",
                                          "en-us/cmudict-en-us.dict"};
  for (const std::string& file : files) {
    const std::string original = readFile(inCopy(file));
    ASSERT_FALSE(original.empty()) << file;
    for (Damage damage : {Damage::kEmptied, Damage::kTruncated, Damage::kRandomBytes}) {
      SCOPED_TRACE(file + " " + name(damage));
      writeFile(inCopy(file), damaged(original, damage));
      const Outcome run = runOnCopy();
      EXPECT_EQ(run.events, "{\"error\":\"speech_recognizer_not_available\"}\n") << run.diagnostics;
      EXPECT_EQ(describe(run.status), "status 1") << run.diagnostics;
      const std::vector<std::string> lines = splitLines(run.diagnostics);
      const std::string prefix = "[maribek] Speech model could not be loaded: ";
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().rfind(prefix, 0), 0u) << run.diagnostics;
      EXPECT_GT(lines.back().size(), prefix.size()) << "no reason given";
      for (unsigned char c : lines.back()) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "unprintable byte " << int(c);
    }
    writeFile(inCopy(file), original);
  }
}

// feat.params is read by a parser that takes what it can: cut in half it still
// describes the features, and the model loads.
TEST_F(SelvaneDamagedModelTest, FeatureParametersThatCannotBeReadGiveNotAvailable) {
  for (Damage damage : {Damage::kEmptied, Damage::kRandomBytes}) {
    SCOPED_TRACE(name(damage));
    const std::string file = "en-us/en-us/feat.params";
    const std::string original = readFile(inCopy(file));
    writeFile(inCopy(file), damaged(original, damage));
    const Outcome run = runOnCopy();
    writeFile(inCopy(file), original);
    EXPECT_EQ(run.events, "{\"error\":\"speech_recognizer_not_available\"}\n") << run.diagnostics;
    EXPECT_EQ(describe(run.status), "status 1") << run.diagnostics;
  }
}

// --- a fatal error while decoding -------------------------------------------------

std::vector<nlohmann::json> parseEvents(const std::string& text) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : splitLines(text)) events.push_back(nlohmann::json::parse(line, nullptr, false));
  return events;
}

Outcome decodeNoteWithFault(const std::string& fault) {
  std::vector<std::string> environment = {"LD_PRELOAD=" FATAL_DECODER_SHIM, "FATAL_DECODER_FAULT=" + fault,
                                          // 40 blocks of 128 ms: well into the note's first sentence
                                          "FATAL_DECODER_AFTER=40"};
  // AddressSanitizer wants its runtime first among the preloaded libraries.
  environment.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
  test_support::Child child = test_support::spawn(SELVANE_PATH, {}, environment);
  const std::string note = readFile(TEST_NOTE_PATH);
  std::thread feeder([&] {
    test_support::writeAll(child.stdinFd, note);
    close(child.stdinFd);
  });
  Outcome run = finishRun(child, std::chrono::seconds(120));
  feeder.join();
  return run;
}

// The library's fatal-error path (exit()) and a crash on the decoder thread both
// end the run as a recognition error: the diagnostic, the error event, the last
// partial text as the final result, status 1. Before, the exit ended the run with
// status 1 and no line at all, and the crash killed selvane.
TEST(SelvaneDecoderFault, AFatalErrorWhileDecodingIsARecognitionError) {
  struct Case {
    const char* fault;
    const char* description;
  };
  const Case cases[] = {
      {"exit", "The speech decoder stopped on a fatal error: Test fault after 40 blocks"},
      {"segv", "The speech decoder crashed (SIGSEGV)"},  // the library had said nothing
  };
  ASSERT_GT(readFile(TEST_NOTE_PATH).size(), 41u * 2048 * 2) << "the note is too short for the fault";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const Outcome run = decodeNoteWithFault(c.fault);
    EXPECT_EQ(describe(run.status), "status 1") << run.diagnostics;
    const std::vector<nlohmann::json> events = parseEvents(run.events);
    ASSERT_GE(events.size(), 3u) << run.events << run.diagnostics;
    const nlohmann::json& error = events[events.size() - 2];
    const nlohmann::json& final = events.back();
    const nlohmann::json& lastPartial = events[events.size() - 3];
    ASSERT_TRUE(error.is_object() && error.contains("error")) << run.events;
    const std::string code = error["error"].get<std::string>();
    EXPECT_EQ(code, std::string("recognition_error: ") + c.description);
    EXPECT_NE(run.diagnostics.find("[maribek] Recognition error: " + code.substr(19) + "\n"), std::string::npos)
        << run.diagnostics;
    ASSERT_TRUE(lastPartial.contains("isFinal") && final.contains("isFinal")) << run.events;
    EXPECT_FALSE(lastPartial["isFinal"].get<bool>());
    EXPECT_TRUE(final["isFinal"].get<bool>());
    EXPECT_EQ(final["text"], lastPartial["text"]);
    EXPECT_FALSE(final["text"].get<std::string>().empty());
    for (size_t i = 0; i + 3 < events.size(); ++i) EXPECT_FALSE(events[i]["isFinal"].get<bool>()) << i;
  }
}

}  // namespace
