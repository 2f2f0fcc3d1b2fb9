// selvane-scripted as a process: each case is a script for the recognizer, the
// audio the host writes, and what must come out (event lines, diagnostics, the
// recorded samples, the exit status).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "files.h"
#include "process.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;
using test_support::Clock;

// A write of the host. The next one waits until the recognizer has been given
// waitSamples samples in all (so every write is read as a chunk of its own), or
// for a pause when waitSamples is 0.
struct Chunk {
  std::string bytes;
  uint64_t waitSamples = 0;
};

struct Case {
  const char* name;
  std::vector<std::string> script;  // directives; the recordAudio line is added
  std::vector<Chunk> input;
  bool closeInput;                       // false: the input stays open until the exit
  std::vector<std::string> events;       // expected, as JSON
  std::vector<std::string> diagnostics;  // the exact lines of standard error
  int status;
  std::vector<std::string> args = {};
  std::optional<std::vector<float>> recorded = std::nullopt;
  std::vector<std::string> rawContains = {};  // byte strings the event lines must hold
  bool endsByTimeout = false;
  // Host faults: it stops reading events at once, or hands over an input that
  // cannot be read (a directory).
  bool hostStopsReading = false;
  bool unreadableInput = false;
};

std::string tagged(const std::string& message) { return "[maribek] " + message; }

// The start-up lines of a granted run, then the given messages, each tagged.
std::vector<std::string> started(std::vector<std::string> later, const char* onDevice = "true") {
  std::vector<std::string> lines{
      tagged("Authorization granted"),
      tagged(std::string("Recognizer ready (supportsOnDeviceRecognition: ") + onDevice + ")"),
      tagged("Recognition task started")};
  for (auto& m : later) lines.push_back(tagged(m));
  return lines;
}

const std::string kEof = "Input EOF, ending audio";
const std::string kFinal = "Final result received, exiting";
const std::string kTimeout = "Timeout waiting for final result";

std::string silence(size_t samples) { return std::string(2 * samples, '\0'); }

// Every sample value of the conversion table, -32768 to 32767 at its ends.
const std::string kTableBytes = std::string("\x00\x80\xff\x7f\x01\x00\x00\x01\xff\xff", 10);
const std::vector<float> kTableSamples{-1.0f, 0.999969482421875f, 0.000030517578125f, 0.0078125f,
                                       -0.000030517578125f};

// One case per block reads better than the formatter's layout.
// clang-format off
const Case kCases[] = {
    // Results.
    {"PartialsThenFinal",
     {R"({"at": "samples:1", "result": {"text": "hello", "isFinal": false}})",
      R"({"at": "samples:2", "result": {"text": "hello world", "isFinal": false}})",
      R"({"at": "end", "result": {"text": "Hello world.", "isFinal": true}})"},
     {{silence(2)}}, true,
     {R"({"text": "hello", "isFinal": false})", R"({"text": "hello world", "isFinal": false})",
      R"({"text": "Hello world.", "isFinal": true})"},
     started({kEof, kFinal}), 0},
    {"FinalWhileListening",
     {R"({"at": "samples:2", "result": {"text": "done", "isFinal": true}})"},
     {{silence(2)}}, false,
     {R"({"text": "done", "isFinal": true})"},
     started({kFinal}), 0},
    {"FinalWithEmptyText",
     {R"({"at": "end", "result": {"text": "", "isFinal": true}})"},
     {}, true,
     {R"({"text": "", "isFinal": true})"},
     started({kEof, kFinal}), 0},
    {"FinalCancelsTimeout",
     {R"({"at": "samples:1", "result": {"text": "late", "isFinal": false}})",
      R"({"at": "end+1000", "result": {"text": "late result", "isFinal": true}})"},
     {{silence(1)}}, true,
     {R"({"text": "late", "isFinal": false})", R"({"text": "late result", "isFinal": true})"},
     started({kEof, kFinal}), 0},
    {"EmptyCallChangesNothing",
     {R"({"at": "samples:1"})", R"({"at": "end", "result": {"text": "after", "isFinal": true}})"},
     {{silence(1)}}, true,
     {R"({"text": "after", "isFinal": true})"},
     started({kEof, kFinal}), 0},
    {"FinalAndErrorInOneCall",
     {R"({"at": "samples:1", "result": {"text": "end", "isFinal": true},
          "error": {"code": 203, "description": "Ignored"}})"},
     {{silence(1)}}, false,
     {R"({"text": "end", "isFinal": true})"},
     started({kFinal}), 0},

    // Errors.
    {"Error216AfterPartialIsSilenced",
     {R"({"at": "samples:1", "result": {"text": "half", "isFinal": false}})",
      R"({"at": "samples:1", "error": {"code": 216, "description": "Retry later"}})"},
     {{silence(1)}}, false,
     {R"({"text": "half", "isFinal": false})", R"({"text": "half", "isFinal": true})"},
     started({}), 1},
    {"Error1WithoutPartialIsSilenced",
     {R"({"at": "samples:1", "error": {"code": 1, "description": "No speech"}})"},
     {{silence(1)}}, false,
     {},
     started({}), 1},
    {"ErrorAfterPartialIsReported",
     {R"({"at": "samples:1", "result": {"text": "some text", "isFinal": false}})",
      R"({"at": "samples:1", "error": {"code": 203, "description": "Retry"}})"},
     {{silence(1)}}, false,
     {R"({"text": "some text", "isFinal": false})", R"({"error": "recognition_error: Retry"})",
      R"({"text": "some text", "isFinal": true})"},
     started({"Recognition error: Retry"}), 1},
    {"ErrorBeforeAnyPartial",
     {R"({"at": "end", "error": {"code": 203, "description": "Nothing recognised"}})"},
     {}, true,
     {R"({"error": "recognition_error: Nothing recognised"})"},
     started({kEof, "Recognition error: Nothing recognised"}), 1},
    {"CancellationErrorIsReportedWithStatus0",
     {R"({"at": "samples:1", "result": {"text": "so far", "isFinal": false}})",
      R"({"at": "samples:1", "error": {"code": 301, "description": "Recognition request was canceled",
          "cancelled": true}})"},
     {{silence(1)}}, false,
     {R"({"text": "so far", "isFinal": false})",
      R"({"error": "recognition_error: Recognition request was canceled"})",
      R"({"text": "so far", "isFinal": true})"},
     started({"Recognition error: Recognition request was canceled"}), 0},
    {"CancellationErrorWithCode216IsSilenced",
     {R"({"at": "samples:1", "result": {"text": "x", "isFinal": false}})",
      R"({"at": "samples:1", "error": {"code": 216, "description": "Canceled", "cancelled": true}})"},
     {{silence(1)}}, false,
     {R"({"text": "x", "isFinal": false})", R"({"text": "x", "isFinal": true})"},
     started({}), 0},
    {"EmptyPartialLeavesNoFallback",
     {R"({"at": "samples:1", "result": {"text": "a", "isFinal": false}})",
      R"({"at": "samples:1", "result": {"text": "", "isFinal": false}})",
      R"({"at": "samples:1", "error": {"code": 216, "description": "Retry later"}})"},
     {{silence(1)}}, false,
     {R"({"text": "a", "isFinal": false})", R"({"text": "", "isFinal": false})"},
     started({}), 1},
    {"ResultAndErrorInOneCall",
     {R"({"at": "samples:1", "result": {"text": "both", "isFinal": false},
          "error": {"code": 203, "description": "Oops"}})"},
     {{silence(1)}}, false,
     {R"({"text": "both", "isFinal": false})", R"({"error": "recognition_error: Oops"})",
      R"({"text": "both", "isFinal": true})"},
     started({"Recognition error: Oops"}), 1},

    // The end-of-input timeout, counted from the end of the audio.
    {"TimeoutWritesLastPartial",
     {R"({"at": "samples:1", "result": {"text": "kept", "isFinal": false}})"},
     {{silence(1), 1}}, true,
     {R"({"text": "kept", "isFinal": false})", R"({"text": "kept", "isFinal": true})"},
     started({kEof, kTimeout}), 0, {}, std::vector<float>{0.0f}, {}, true},
    {"TimeoutAfterEmptyInputAndEmptyPartial",
     {R"({"at": "end", "result": {"text": "", "isFinal": false}})"},
     {}, true,
     {R"({"text": "", "isFinal": false})"},
     started({kEof, kTimeout}), 0, {}, std::vector<float>{}, {}, true},

    // Start-up.
    {"PermissionDenied", {R"({"authorization": 1})"}, {}, true,
     {R"({"error": "speech_recognition_permission_denied"})"}, {}, 1},
    {"PermissionRestricted", {R"({"authorization": 2})"}, {}, true,
     {R"({"error": "speech_recognition_restricted"})"}, {}, 1},
    {"PermissionNotDetermined", {R"({"authorization": 0})"}, {}, true,
     {R"({"error": "speech_recognition_not_authorized"})"}, {}, 1},
    {"PermissionUnknownStatus", {R"({"authorization": 7})"}, {}, true,
     {R"({"error": "speech_recognition_not_authorized"})"}, {}, 1},
    {"RecognizerMissing", {R"({"recognizer": "missing"})"}, {}, true,
     {R"({"error": "speech_recognizer_unavailable"})"}, {tagged("Authorization granted")}, 1},
    {"RecognizerNotAvailable", {R"({"recognizer": "unavailable"})"}, {}, true,
     {R"({"error": "speech_recognizer_not_available"})"}, {tagged("Authorization granted")}, 1},
    {"NoOnDeviceRecognition",
     {R"({"recognizer": "available", "onDevice": false})",
      R"({"at": "end", "result": {"text": "ok", "isFinal": true}})"},
     {}, true,
     {R"({"text": "ok", "isFinal": true})"},
     started({kEof, kFinal}, "false"), 0},
    // One pipe option alone, unrelated arguments and an option without its equals
    // sign leave both channels on the standard streams, without a word.
    {"OnlyInputPipeOptionKeepsStandardStreams",
     {R"({"at": "end", "result": {"text": "std", "isFinal": true}})"},
     {{kTableBytes, 5}}, true,
     {R"({"text": "std", "isFinal": true})"},
     started({kEof, kFinal}), 0, {"--input-pipe=/nonexistent/in"}, kTableSamples},
    {"UnrelatedArgumentsChangeNothing",
     {R"({"at": "end", "result": {"text": "std", "isFinal": true}})"},
     {}, true,
     {R"({"text": "std", "isFinal": true})"},
     started({kEof, kFinal}), 0, {"--verbose", "--output-pipe", "/nonexistent/out", "--input-pipe", "-"}},

    // Audio conversion and pairing.
    {"ConversionTable",
     {R"({"at": "end", "result": {"text": "", "isFinal": true}})"},
     {{kTableBytes, 5}}, true,
     {R"({"text": "", "isFinal": true})"},
     started({kEof, kFinal}), 0, {}, kTableSamples},
    {"OddChunksPairAcrossReads",
     {R"({"at": "end", "result": {"text": "", "isFinal": true}})"},
     {{kTableBytes.substr(0, 5), 2},   // two samples; the fifth byte waits
      {kTableBytes.substr(5, 3), 4},   // joins it, then one more sample and a byte
      {kTableBytes.substr(8, 1), 0},   // completes the held byte's sample
      {kTableBytes.substr(9, 1), 5},
      {"\x42", 0}},                    // a last lone byte is dropped
     true,
     {R"({"text": "", "isFinal": true})"},
     started({kEof, kFinal}), 0, {}, kTableSamples},

    // Faults of the host: a write to a gone reader and a failed read end nothing early.
    {"HostThatStopsReadingDoesNotKillTheRun",
     {R"({"at": "samples:1", "result": {"text": "unread", "isFinal": false}})",
      R"({"at": "end", "result": {"text": "unread too", "isFinal": true}})"},
     {{silence(1), 1}}, true,
     {},
     started({kEof, kFinal}), 0, {}, std::nullopt, {}, false, true},
    {"FailedReadEndsTheInput",
     {R"({"at": "end", "result": {"text": "", "isFinal": true}})"},
     {}, true,
     {R"({"text": "", "isFinal": true})"},
     started({"Input read failed: Is a directory", kEof, kFinal}), 0, {}, std::vector<float>{}, {}, false, false,
     true},
    // The writers' escaping. A line feed in an error description splits the
    // diagnostic, and only its first line carries the tag.
    {"Escaping",
     {R"({"at": "samples:1", "result": {"text": "q\" b\\ s/ lf\n cr\r tab\t bel\u0007 us\u001f \u00e9 \u6f22", "isFinal": false}})",
      R"({"at": "samples:1", "error": {"code": 203, "description": "bad\nthing / more"}})"},
     {{silence(1)}}, false,
     {R"({"text": "q\" b\\ s/ lf\n cr\r tab\t bel\u0007 us\u001f \u00e9 \u6f22", "isFinal": false})",
      R"({"error": "recognition_error: bad\nthing / more"})",
      R"({"text": "q\" b\\ s/ lf\n cr\r tab\t bel\u0007 us\u001f \u00e9 \u6f22", "isFinal": true})"},
     {tagged("Authorization granted"), tagged("Recognizer ready (supportsOnDeviceRecognition: true)"),
      tagged("Recognition task started"), tagged("Recognition error: bad"), "thing / more"},
     1, {}, std::nullopt,
     {R"(q\" b\\ s\/ lf\n cr\r tab\t bel\u0007 us\u001f )" "\xc3\xa9 \xe6\xbc\xa2", R"(bad\nthing \/ more)"}},
};
// clang-format on

std::vector<float> readFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

uint64_t recordedSamples(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) / sizeof(float) : 0;
}

// Each line must be one whole JSON object with exactly the members of a result
// event or of an error event, and no raw control byte.
void expectWellFormed(const std::string& line) {
  for (unsigned char c : line) EXPECT_GE(c, 0x20) << "raw control byte in " << line;
  const json event = json::parse(line, nullptr, false);
  ASSERT_TRUE(event.is_object()) << line;
  if (event.contains("error")) {
    EXPECT_EQ(event.size(), 1u) << line;
    EXPECT_TRUE(event["error"].is_string()) << line;
  } else {
    EXPECT_EQ(event.size(), 2u) << line;
    EXPECT_TRUE(event["text"].is_string()) << line;
    EXPECT_TRUE(event["isFinal"].is_boolean()) << line;
  }
}

// Names the case in test output instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SelvaneProcess : public testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }
};

TEST_P(SelvaneProcess, Run) {
  const Case& c = GetParam();
  test_support::TempDir dir;
  const std::string record = dir.file("audio.f32");
  {
    std::ofstream script(dir.file("script.jsonl"));
    script << json{{"recordAudio", record}}.dump() << "\n";
    for (const auto& line : c.script) script << json::parse(line).dump() << "\n";
  }

  const int directory = c.unreadableInput ? open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  test_support::Redirects redirects;
  redirects.stdinFd = directory;
  test_support::Child child = test_support::spawn(SELVANE_SCRIPTED, c.args,
                                                  {"SELVANE_SCRIPT=" + dir.file("script.jsonl")}, redirects);
  if (directory >= 0) close(directory);
  ASSERT_GT(child.pid, 0);
  std::vector<int> channels{child.stdoutFd, child.stderrFd};
  if (c.hostStopsReading) {
    close(child.stdoutFd);
    channels = {child.stderrFd};
  }
  const auto deadline = Clock::now() + seconds(60);

  for (const Chunk& chunk : c.input) {
    test_support::writeAll(child.stdinFd, chunk.bytes);
    if (chunk.waitSamples == 0) {
      std::this_thread::sleep_for(milliseconds(100));
      continue;
    }
    const auto patience = Clock::now() + seconds(15);
    while (recordedSamples(record) < chunk.waitSamples && Clock::now() < patience) {
      std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_GE(recordedSamples(record), chunk.waitSamples) << "the recognizer was not given the samples";
  }
  const Clock::time_point inputEnded = Clock::now();
  if (c.closeInput) close(child.stdinFd);

  std::map<int, std::string> output;
  EXPECT_TRUE(test_support::readToEnd(channels, output, deadline)) << "the process did not end";
  const int status = test_support::waitForExit(child.pid, deadline);
  const double elapsed = std::chrono::duration<double>(Clock::now() - inputEnded).count();
  if (!c.closeInput) close(child.stdinFd);

  EXPECT_EQ(status, c.status);
  const std::string& events = output[child.stdoutFd];
  EXPECT_TRUE(events.empty() || events.back() == '\n') << "last event line not ended";
  std::vector<json> actual;
  for (const auto& line : test_support::splitLines(events)) {
    expectWellFormed(line);
    actual.push_back(json::parse(line, nullptr, false));
  }
  std::vector<json> expected;
  for (const auto& line : c.events) expected.push_back(json::parse(line));
  EXPECT_EQ(actual, expected) << events;
  EXPECT_EQ(test_support::splitLines(output[child.stderrFd]), c.diagnostics) << output[child.stderrFd];
  for (const auto& bytes : c.rawContains) {
    EXPECT_NE(events.find(bytes), std::string::npos) << "no " << bytes << " in " << events;
  }

  if (c.recorded) {
    const std::vector<float> samples = readFloats(record);
    ASSERT_EQ(samples.size(), c.recorded->size());
    for (size_t k = 0; k < samples.size(); ++k) {
      // Exact, bit for bit.
      EXPECT_EQ(std::memcmp(&samples[k], &(*c.recorded)[k], sizeof(float)), 0)
          << "sample " << k << ": " << samples[k] << " != " << (*c.recorded)[k];
    }
  }
  if (c.endsByTimeout) {
    // Never before 5 s after the end of the audio; the upper margin is for loaded
    // machines and sanitizer builds.
    EXPECT_GE(elapsed, 4.95);
    EXPECT_LE(elapsed, 20.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SelvaneProcess, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
