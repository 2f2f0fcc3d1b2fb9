// The PocketSphinx recognizer on a real recording of human speech (11 s): the
// decoder configuration that the final text comes from, and selvane given a minute
// of that speech written at once.
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "process.h"
#include "speech/pocketsphinx_session.h"

namespace {

using speech::PocketsphinxSession;
using test_support::Clock;

std::string recordingBytes() { return test_support::readFile(TEST_RECORDING_PATH); }

std::vector<int16_t> samplesOf(const std::string& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                      (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  }
  return samples;
}

// The final transcript of the segmenting decoder over the whole of samples.
std::string decode(const std::vector<int16_t>& samples) {
  auto session = PocketsphinxSession::make(POCKETSPHINX_MODELDIR);
  if (session == nullptr) return "(no decoder)";
  if (!session->process(samples.data(), samples.size()) || !session->finish()) {
    return "(failed: " + session->failure().description + ")";
  }
  return session->transcript();
}

TEST(HumanSpeech, TheRecordingIsThere) { ASSERT_GT(recordingBytes().size(), 10u * 32000) << TEST_RECORDING_PATH; }

// The recording ends in "... what you can do for your country". The first decoding
// pass alone hears "new york and three" there; the second pass and the best-path
// search find "your country". This pins the decoder configuration, not its accuracy.
TEST(HumanSpeech, ASegmentsTextComesFromTheFullDecoding) {
  const std::string transcript = decode(samplesOf(recordingBytes()));
  EXPECT_NE(transcript.find("your country"), std::string::npos) << transcript;
}

// A host that writes a minute of speech as fast as the pipe takes it: appending
// waits for the decoder, so the end of the input comes with the decoder less than
// about a second behind, and the recognizer's own final result comes well within
// the 5 s timeout. Decoding depends only on the sample positions, so its text is
// that of the same audio decoded in one piece here, as it is at any other pace.
TEST(HumanSpeech, AMinuteWrittenAtOnceGivesTheRecognizersOwnFinalResult) {
  std::string minute;
  for (int i = 0; i < 6; ++i) minute += recordingBytes();
  ASSERT_GE(minute.size(), 60u * 32000);

  test_support::Child child = test_support::spawn(SELVANE_PATH, {});
  std::thread writer([&] {
    test_support::writeAll(child.stdinFd, minute);
    close(child.stdinFd);
  });
  std::map<int, std::string> output;
  const auto deadline = Clock::now() + std::chrono::minutes(5);
  const bool ended = test_support::readToEnd({child.stdoutFd, child.stderrFd}, output, deadline);
  writer.join();
  const int status = test_support::waitForExit(child.pid, deadline);
  ASSERT_TRUE(ended) << "selvane did not end in 5 minutes";
  // Decoded only now, so that it does not take the CPU from selvane's decoder.
  const std::string expected = decode(samplesOf(minute));

  const std::string& diagnostics = output[child.stderrFd];
  EXPECT_EQ(status, 0) << diagnostics;
  EXPECT_EQ(diagnostics.find("Timeout waiting for final result"), std::string::npos) << diagnostics;
  EXPECT_NE(diagnostics.find("[maribek] Final result received, exiting\n"), std::string::npos) << diagnostics;

  const std::vector<std::string> lines = test_support::splitLines(output[child.stdoutFd]);
  ASSERT_FALSE(lines.empty());
  const auto final = nlohmann::json::parse(lines.back(), nullptr, false);
  ASSERT_TRUE(final.is_object()) << lines.back();
  EXPECT_EQ(final.value("isFinal", false), true) << lines.back();
  EXPECT_EQ(final.value("text", std::string("(none)")), expected);
}

}  // namespace
