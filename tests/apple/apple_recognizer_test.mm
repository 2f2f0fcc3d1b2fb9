// The Speech framework side of selvane on a Mac. The buffers need no permission and
// always run; the real recognizer runs only where speech recognition is already
// authorized, since nobody can answer the permission prompt on a headless machine
// and selvane waits for that answer without a time limit.
#import <Speech/Speech.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "files.h"
#include "process.h"
#include "speech/apple_pcm_buffer.h"

namespace {

using test_support::Clock;

TEST(ApplePcmBuffer, IsAFloatBufferInTheFixedFormatWithItsLengthClamped) {
  const speech::AudioFormat format{16000.0, 1, false};
  auto buffer = speech::PcmBuffer::make(format, 5);
  ASSERT_NE(buffer, nullptr);
  AVAudioPCMBuffer* platform = buffer->storage().buffer;
  ASSERT_NE(platform, nil);
  EXPECT_EQ(platform.format.sampleRate, 16000.0);
  EXPECT_EQ(platform.format.channelCount, 1u);
  EXPECT_EQ(platform.frameCapacity, 5u);
  EXPECT_EQ(buffer->frameLength(), 0u);

  float* const* channels = buffer->floatChannelData();
  ASSERT_NE(channels, nullptr);
  channels[0][4] = -1.0f;
  EXPECT_EQ(platform.floatChannelData[0][4], -1.0f);  // the same memory, no copy

  buffer->setFrameLength(3);
  EXPECT_EQ(platform.frameLength, 3u);
  buffer->setFrameLength(9);
  EXPECT_EQ(buffer->frameLength(), 5u);

  EXPECT_EQ(speech::PcmBuffer::make(speech::AudioFormat{16000.0, 0, false}, 5), nullptr);
}

TEST(AppleRecognizer, TranscribesASpokenNoteWhereRecognitionIsAuthorized) {
  const SFSpeechRecognizerAuthorizationStatus status = [SFSpeechRecognizer authorizationStatus];
  if (status != SFSpeechRecognizerAuthorizationStatusAuthorized) {
    GTEST_SKIP() << "SKIPPED: speech recognition is not authorized here (status " << static_cast<long>(status)
                 << "); grant it in System Settings to run the real recognizer";
  }
  test_support::Child child = test_support::spawn(SELVANE_PATH, {});
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(test_support::writeAll(child.stdinFd, test_support::readFile(TEST_NOTE_PATH)));
  close(child.stdinFd);

  std::map<int, std::string> output;
  const auto deadline = Clock::now() + std::chrono::seconds(90);
  ASSERT_TRUE(test_support::readToEnd({child.stdoutFd, child.stderrFd}, output, deadline));
  EXPECT_EQ(test_support::waitForExit(child.pid, deadline), 0) << output[child.stderrFd];

  const std::string& events = output[child.stdoutFd];
  ASSERT_FALSE(events.empty()) << output[child.stderrFd];
  const std::string last = events.substr(events.rfind('\n', events.size() - 2) + 1);
  EXPECT_NE(last.find("\"isFinal\":true"), std::string::npos) << events;
  EXPECT_EQ(last.find("\"text\":\"\""), std::string::npos) << "an empty final text: " << events;
  EXPECT_NE(output[child.stderrFd].find("[maribek] Recognition task started\n"), std::string::npos);
}

}  // namespace
