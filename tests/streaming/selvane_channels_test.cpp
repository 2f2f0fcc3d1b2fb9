// selvane-scripted with the channels a host may hand over: non-blocking pipes of
// the smallest size, a host that writes its audio in small pieces with pauses, and
// one that leaves its events and diagnostics unread for a while and then reads
// slowly. Every line must arrive whole and in order, every sample must be read, and
// the run must end as it does on blocking channels.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "files.h"
#include "host_channels.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;

std::string tagged(const std::string& message) { return "[maribek] " + message; }

std::vector<std::string> started(const std::vector<std::string>& later) {
  std::vector<std::string> lines{tagged("Authorization granted"),
                                 tagged("Recognizer ready (supportsOnDeviceRecognition: true)"),
                                 tagged("Recognition task started")};
  for (const auto& m : later) lines.push_back(tagged(m));
  return lines;
}

// Samples whose every byte differs from its neighbours', so a lost or mispaired byte shows.
std::string rampBytes(size_t samples) {
  std::string bytes;
  for (size_t i = 0; i < samples; ++i) {
    const auto v = static_cast<uint16_t>(i * 2654435761u >> 7);
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>(v >> 8);
  }
  return bytes;
}

std::vector<std::string> piecesOf(const std::string& bytes, size_t size) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < bytes.size(); at += size) pieces.push_back(bytes.substr(at, size));
  return pieces;
}

// The i-th hypothesis of a long dictation: it grows by about 60 bytes a step, so
// later lines are longer than the pipe and than what a pipe writes at once.
std::string hypothesis(int i) {
  std::string text;
  for (int w = 0; w < i; ++w) text += "word" + std::to_string(w) + " said slowly and clearly, then more; ";
  return text;
}

struct Case {
  const char* name;
  test_support::HostChannels channels;
  std::vector<json> script;  // the recordAudio line is added
  std::vector<json> events;  // expected
  std::vector<std::string> diagnostics;
  int status;
  std::string audio;  // what the pieces add up to: every sample of it must reach the recognizer
};

json partialAt(uint64_t samples, const std::string& text) {
  return {{"at", "samples:" + std::to_string(samples)}, {"result", {{"text", text}, {"isFinal", false}}}};
}
json finalAtEnd(const std::string& text) { return {{"at", "end"}, {"result", {{"text", text}, {"isFinal", true}}}}; }
json resultEvent(const std::string& text, bool isFinal) { return {{"text", text}, {"isFinal", isFinal}}; }

std::vector<Case> cases() {
  std::vector<Case> all;
  {
    // Many long partial lines while the host does not read for a second.
    Case c{"NonBlockingOutputToAPausingReader", {}, {}, {}, started({"Input EOF, ending audio", "Final result received, exiting"}), 0,
           rampBytes(240)};
    c.channels.nonBlockingOutput = true;
    c.channels.pieces = {c.audio};
    c.channels.readerPause = milliseconds(1000);
    for (int i = 1; i <= 120; ++i) {
      c.script.push_back(partialAt(static_cast<uint64_t>(i), hypothesis(i)));
      c.events.push_back(resultEvent(hypothesis(i), false));
    }
    c.script.push_back(finalAtEnd(hypothesis(120) + "end."));
    c.events.push_back(resultEvent(hypothesis(120) + "end.", true));
    all.push_back(c);
  }
  {
    // 100 ms of audio every 20 ms, in odd-sized pieces: reads often find nothing yet.
    Case c{"NonBlockingInputFromATricklingWriter", {}, {finalAtEnd("all of it")},
           {resultEvent("all of it", true)}, started({"Input EOF, ending audio", "Final result received, exiting"}), 0,
           rampBytes(32000) + "\x01"};
    c.channels.nonBlockingInput = true;
    c.channels.pieces = piecesOf(c.audio, 3201);
    c.channels.pauseBetweenPieces = milliseconds(20);
    all.push_back(c);
  }
  {
    // Every channel non-blocking at once, and a diagnostic longer than the pipe.
    const std::string description(9000, 'd');
    Case c{"AllChannelsNonBlockingWithALongDiagnostic",
           {},
           {partialAt(1000, hypothesis(90)),
            {{"at", "end"}, {"error", {{"code", 203}, {"description", description}}}}},
           {resultEvent(hypothesis(90), false), {{"error", "recognition_error: " + description}},
            resultEvent(hypothesis(90), true)},
           started({"Input EOF, ending audio", "Recognition error: " + description}),
           1,
           rampBytes(16000)};
    c.channels.nonBlockingInput = c.channels.nonBlockingOutput = c.channels.nonBlockingErrors = true;
    c.channels.pieces = piecesOf(c.audio, 1601);
    c.channels.pauseBetweenPieces = milliseconds(10);
    c.channels.readerPause = milliseconds(500);
    c.channels.readSize = 100;
    all.push_back(c);
  }
  return all;
}

std::vector<float> recordedSamples(const std::string& path) {
  const std::string bytes = test_support::readFile(path);
  std::vector<float> samples(bytes.size() / sizeof(float));
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SelvaneChannels : public testing::TestWithParam<Case> {};

TEST_P(SelvaneChannels, LoseNothing) {
  const Case& c = GetParam();
  test_support::TempDir dir;
  const std::string record = dir.file("audio.f32");
  std::string script = json{{"recordAudio", record}}.dump() + "\n";
  for (const json& line : c.script) script += line.dump() + "\n";
  test_support::writeFile(dir.file("script.jsonl"), script);

  const test_support::HostRunResult r = test_support::runAsHost(
      SELVANE_SCRIPTED, {}, {"SELVANE_SCRIPT=" + dir.file("script.jsonl")}, "", c.channels);

  EXPECT_EQ(r.status, c.status);
  EXPECT_TRUE(r.out.empty() || r.out.back() == '\n') << "last event line not ended";
  std::vector<json> events;
  for (const std::string& line : test_support::splitLines(r.out)) {
    const json event = json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << "a broken line: " << line.substr(0, 200);
    events.push_back(event);
  }
  EXPECT_EQ(events.size(), c.events.size());
  EXPECT_TRUE(events == c.events) << "the event lines differ";
  EXPECT_EQ(test_support::splitLines(r.err), c.diagnostics);

  // The recognizer was given every sample of the audio, in order: sample k is
  // bytes 2k and 2k+1 of the stream, whatever pieces they came in.
  const std::vector<float> samples = recordedSamples(record);
  ASSERT_EQ(samples.size(), c.audio.size() / 2);
  for (size_t k = 0; k < samples.size(); ++k) {
    const auto s = static_cast<int16_t>(static_cast<uint8_t>(c.audio[2 * k]) |
                                        static_cast<uint8_t>(c.audio[2 * k + 1]) << 8);
    ASSERT_EQ(samples[k], static_cast<float>(s) / 32768.0f) << "sample " << k;
  }
}

// The main queue is in the middle of a diagnostic longer than the pipe when the
// input queue writes its own: neither line may land inside the other. (The run
// may end before the input queue's line is out.)
TEST(SelvaneDiagnostics, FromTwoThreadsStayWholeLines) {
  test_support::TempDir dir;
  const std::string description(9000, 'd');
  test_support::writeFile(
      dir.file("script.jsonl"),
      json{{"at", "samples:1"}, {"error", {{"code", 203}, {"description", description}}}}.dump() + "\n");
  test_support::HostChannels channels;
  channels.nonBlockingErrors = true;
  channels.pieces = {rampBytes(1)};
  channels.readerPause = milliseconds(500);
  channels.readSize = 100;
  const test_support::HostRunResult r = test_support::runAsHost(
      SELVANE_SCRIPTED, {}, {"SELVANE_SCRIPT=" + dir.file("script.jsonl")}, "", channels);
  EXPECT_EQ(r.status, 1);
  std::vector<std::string> allowed = started({"Recognition error: " + description, "Input EOF, ending audio"});
  bool longLineSeen = false;
  for (const std::string& line : test_support::splitLines(r.err)) {
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), line), allowed.end()) << "a mixed line: " << line;
    if (line == allowed[3]) longLineSeen = true;
  }
  EXPECT_TRUE(longLineSeen);
}

INSTANTIATE_TEST_SUITE_P(Cases, SelvaneChannels, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
