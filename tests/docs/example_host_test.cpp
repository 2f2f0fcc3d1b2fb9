// The example host of docs/protocol.md, run against selvane-scripted and against
// tovrin beside the stand-in for libwhisper: for each outcome it must print the
// events and the conclusion a host application would draw.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "process.h"
#ifdef TOVRIN_BINARY
#include "tovrin_beside_double.h"
#endif

namespace {

namespace fs = std::filesystem;
using test_support::Clock;
using test_support::TempDir;

struct HostRun {
  int status = -1;  // the example host's own
  std::string out;
  std::string err;
};

HostRun runHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
  test_support::Child child = test_support::spawn(EXAMPLE_HOST, args, environment);
  close(child.stdinFd);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  std::map<int, std::string> output;
  EXPECT_TRUE(test_support::readToEnd({child.stdoutFd, child.stderrFd}, output, deadline));
  HostRun run;
  run.status = test_support::waitForExit(child.pid, deadline);
  run.out = output[child.stdoutFd];
  run.err = output[child.stderrFd];
  return run;
}

// The output the doc shows for a selvane run ended by the timeout: the indented
// block after the line that introduces it.
std::string docExampleOutput() {
  const std::vector<std::string> lines =
      test_support::splitLines(test_support::readFile(std::string(SOURCE_ROOT) + "/docs/protocol.md"));
  std::string block;
  bool inBlock = false;
  for (const std::string& line : lines) {
    if (line.find("Its output, for a `selvane` run that ended by the timeout:") != std::string::npos) {
      inBlock = true;
    } else if (inBlock && line.rfind("    ", 0) == 0) {
      block += line.substr(4) + "\n";
    } else if (inBlock && !block.empty()) {
      break;
    }
  }
  return block;
}

struct HostCase {
  const char* name;
  std::vector<std::string> script;  // of the scripted recognizer, or of the libwhisper stand-in
  size_t audioBytes;                // of silence; more than a pipe holds checks a host that meets EPIPE
  std::string out;
  int status;
};

void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

constexpr size_t kMoreThanAPipe = 1 << 20;

// clang-format off
const HostCase kSelvaneCases[] = {
    {"RecognizerFinal",
     {R"({"at": "samples:1", "result": {"text": "hello", "isFinal": false}})",
      R"({"at": "samples:2", "result": {"text": "hello world", "isFinal": false}})",
      R"({"at": "end", "result": {"text": "Hello world.", "isFinal": true}})"},
     4,
     "partial: hello\npartial: hello world\nfinal: Hello world.\nstatus: 0\n"
     "outcome: transcript from the recognizer: Hello world.\n", 0},
    {"TimeoutFallbackAsInTheDoc",
     {R"({"at": "samples:1", "result": {"text": "remember to", "isFinal": false}})",
      R"({"at": "samples:2", "result": {"text": "remember to buy milk", "isFinal": false}})"},
     4, "", 0},  // the output is the doc's example
    {"StartUpFailureWhileTheHostWrites",
     {R"({"authorization": 1})"},
     kMoreThanAPipe,
     "error: speech_recognition_permission_denied\nstatus: 1\n"
     "outcome: failed: recognition could not start: speech_recognition_permission_denied\n", 1},
    {"RecognizerMissing",
     {R"({"recognizer": "missing"})"},
     4,
     "error: speech_recognizer_unavailable\nstatus: 1\n"
     "outcome: failed: recognition could not start: speech_recognizer_unavailable\n", 1},
    {"RecognitionErrorAfterAPartial",
     {R"({"at": "samples:1", "result": {"text": "some text", "isFinal": false}})",
      R"({"at": "end", "error": {"code": 203, "description": "Network down"}})"},
     4,
     "partial: some text\nerror: recognition_error: Network down\nfinal: some text\nstatus: 1\n"
     "outcome: transcript after a recognition error: some text\n", 0},
    {"SilencedErrorWithoutText",
     {R"({"at": "end", "error": {"code": 1, "description": "No speech"}})"},
     4,
     "status: 1\noutcome: failed without an event; last diagnostic: [maribek] Input EOF, ending audio\n", 1},
    {"CancellationWithoutText",
     {R"({"at": "end", "error": {"code": 301, "description": "Recognition request was canceled", "cancelled": true}})"},
     4,
     "error: recognition_error: Recognition request was canceled\nstatus: 0\n"
     "outcome: cancelled, no transcript: Recognition request was canceled\n", 1},
};
// clang-format on

class ExampleHostWithSelvane : public testing::TestWithParam<HostCase> {};

TEST_P(ExampleHostWithSelvane, HandlesTheOutcome) {
  const HostCase& c = GetParam();
  TempDir dir;
  std::string script;
  for (const std::string& line : c.script) script += line + "\n";
  test_support::writeFile(dir.file("script.jsonl"), script);
  test_support::writeFile(dir.file("audio.raw"), std::string(c.audioBytes, '\0'));

  const HostRun run = runHost({"selvane", SELVANE_SCRIPTED, dir.file("audio.raw")},
                              {"SELVANE_SCRIPT=" + dir.file("script.jsonl")});
  std::string expected = c.out;
  if (expected.empty()) {
    expected = docExampleOutput();
    ASSERT_NE(expected, "") << "the example output was not found in docs/protocol.md";
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ExampleHostWithSelvane, testing::ValuesIn(kSelvaneCases),
                         [](const testing::TestParamInfo<HostCase>& info) { return info.param.name; });

// A program that ends before it opens its pipes must not leave the host waiting in
// its open of the input pipe.
TEST(ExampleHost, DoesNotWaitWhenTheProgramEndsBeforeOpeningThePipes) {
  TempDir dir;
  test_support::writeFile(dir.file("audio.raw"), std::string(4, '\0'));
  const HostRun run = runHost({"selvane", "/bin/false", dir.file("audio.raw")}, {});
  EXPECT_EQ(run.out, "status: 1\noutcome: failed without an event; last diagnostic: (none)\n");
  EXPECT_EQ(run.status, 1);
}

#ifdef TOVRIN_BINARY
const HostCase kTovrinCases[] = {
    {"Transcript",
     {"segment  Hello [noise]", "segment  world."},
     32000,
     "final: Hello  world.\nstatus: 0\noutcome: transcript: Hello  world.\n",
     0},
    {"ModelRefusedWhileTheHostWrites",
     {"load fail"},
     kMoreThanAPipe,
     "error: model_load_failed\nstatus: 1\noutcome: failed: the model could not be loaded\n",
     1},
    {"NoAudio", {}, 1, "error: no_audio_data\nstatus: 1\noutcome: failed: no audio was recorded\n", 1},
    {"InferenceFails",
     {"full 3"},
     32000,
     "error: inference_failed\nstatus: 1\noutcome: failed: the transcription failed\n",
     1},
    {"AbortInsideTheLibrary",
     {"full abort"},
     32000,
     "error: inference_failed\nstatus: 1\noutcome: failed: the transcription failed\n",
     1},
};

class ExampleHostWithTovrin : public testing::TestWithParam<HostCase> {};

// tovrin runs from a folder of its own with the stand-in as its libwhisper.
TEST_P(ExampleHostWithTovrin, HandlesTheOutcome) {
  const HostCase& c = GetParam();
  TempDir dir;
  test_support::placeTovrinBesideDouble(dir.path());
  test_support::writeFile(dir.file("model.bin"), test_support::modelFileNamed("model.bin"));
  std::string script;
  for (const std::string& line : c.script) script += line + "\n";
  test_support::writeFile(dir.file("script"), script);
  test_support::writeFile(dir.file("audio.raw"), std::string(c.audioBytes, '\0'));

  const HostRun run = runHost({"tovrin", dir.file("bin/tovrin"), dir.file("audio.raw"), dir.file("model.bin")},
                              {"ORLESSA_WHISPER_DOUBLE=" + dir.path()});
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ExampleHostWithTovrin, testing::ValuesIn(kTovrinCases),
                         [](const testing::TestParamInfo<HostCase>& info) { return info.param.name; });
#endif

}  // namespace
