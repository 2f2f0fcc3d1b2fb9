// The segmenting decoder on the installed en-US model, fed a spoken note made at
// build time, and the small pure helpers beside it.
#include "speech/pocketsphinx_session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using speech::PocketsphinxSession;

std::vector<int16_t> readRaw(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                      (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  }
  return samples;
}

std::unique_ptr<PocketsphinxSession> makeSession() {
  auto session = PocketsphinxSession::make(POCKETSPHINX_MODELDIR);
  EXPECT_NE(session, nullptr);
  return session;
}

// Feeds samples in pieces of chunk samples; returns the final transcript.
std::string decodeInChunks(PocketsphinxSession& session, const std::vector<int16_t>& samples, size_t chunk) {
  for (size_t at = 0; at < samples.size(); at += chunk) {
    const size_t n = std::min(chunk, samples.size() - at);
    EXPECT_TRUE(session.process(samples.data() + at, n)) << session.failure().description;
  }
  EXPECT_TRUE(session.finish()) << session.failure().description;
  return session.transcript();
}

TEST(JoinTranscript, JoinsWithOneSpaceAndNoneBesideAnEmptySide) {
  const struct {
    const char* finished;
    const char* current;
    const char* joined;
  } rows[] = {
      {"", "", ""},
      {"", "buy milk", "buy milk"},
      {"buy milk", "", "buy milk"},
      {"buy milk", "and eggs", "buy milk and eggs"},
      {"a b", "c", "a b c"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(speech::joinTranscript(row.finished, row.current), row.joined)
        << "'" << row.finished << "' + '" << row.current << "'";
  }
}

TEST(Int16FromFloatSample, UndoesTheInputConversionForEverySample) {
  for (int s = -32768; s <= 32767; ++s) {
    ASSERT_EQ(speech::int16FromFloatSample(static_cast<float>(s) / 32768.0f), s);
  }
}

TEST(Int16FromFloatSample, ClampsWhatNoSampleCanGive) {
  const struct {
    float in;
    int16_t out;
  } rows[] = {
      {1.0f, 32767},
      {1.5f, 32767},
      {-1.5f, -32768},
      {std::numeric_limits<float>::infinity(), 32767},
      {-std::numeric_limits<float>::infinity(), -32768},
      {std::nanf(""), -32768},
      {0.4f / 32768.0f, 0},
      {0.6f / 32768.0f, 1},
  };
  for (const auto& row : rows) EXPECT_EQ(speech::int16FromFloatSample(row.in), row.out) << row.in;
}

TEST(ModelFilesPresent, TellsTheInstalledModelFromAMissingOne) {
  EXPECT_TRUE(speech::modelFilesPresent(POCKETSPHINX_MODELDIR));
  EXPECT_FALSE(speech::modelFilesPresent("/nonexistent/model"));
  EXPECT_FALSE(speech::modelFilesPresent(std::string(POCKETSPHINX_MODELDIR) + "/en-us"));
}

class PocketsphinxSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { note_ = new std::vector<int16_t>(readRaw(TEST_NOTE_PATH)); }
  static void TearDownTestSuite() { delete note_; }
  static const std::vector<int16_t>& note() { return *note_; }

 private:
  static std::vector<int16_t>* note_;
};
std::vector<int16_t>* PocketsphinxSessionTest::note_ = nullptr;

TEST_F(PocketsphinxSessionTest, TheNoteIsThere) { ASSERT_GT(note().size(), 16000u) << TEST_NOTE_PATH; }

// Pauses are looked for on blocks counted from the start of the stream, so the way
// the audio is cut into chunks cannot move a segment boundary or lose a sample.
TEST_F(PocketsphinxSessionTest, TheTranscriptDoesNotDependOnHowTheAudioIsCut) {
  auto whole = makeSession();
  ASSERT_NE(whole, nullptr);
  const std::string expected = decodeInChunks(*whole, note(), note().size());
  ASSERT_FALSE(expected.empty());
  ASSERT_GE(whole->finishedSegments(), 1u);

  const size_t block = PocketsphinxSession::kBlockSamples;
  for (size_t chunk : {size_t{1}, size_t{333}, block - 1, block + 1}) {
    auto session = makeSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(decodeInChunks(*session, note(), chunk), expected) << "chunks of " << chunk << " samples";
    EXPECT_EQ(session->finishedSegments(), whole->finishedSegments()) << "chunks of " << chunk << " samples";
  }
}

TEST_F(PocketsphinxSessionTest, APauseEndsASegmentAndTheTextBeforeItStays) {
  auto session = makeSession();
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(session->process(note().data(), note().size()));
  const std::vector<int16_t> pause(2 * 16000, 0);
  ASSERT_TRUE(session->process(pause.data(), pause.size()));
  // The pause closed the note's last segment: nothing of it is left as hypothesis.
  const size_t segmentsAfterNote = session->finishedSegments();
  const std::string afterNote = session->transcript();
  ASSERT_GE(segmentsAfterNote, 1u);
  ASSERT_FALSE(afterNote.empty());

  ASSERT_TRUE(session->process(note().data(), note().size() / 2));
  const std::string midway = session->transcript();
  EXPECT_EQ(midway.compare(0, afterNote.size() + 1, afterNote + " "), 0) << midway;
  EXPECT_GT(midway.size(), afterNote.size() + 1);

  ASSERT_TRUE(session->process(note().data() + note().size() / 2, note().size() - note().size() / 2));
  ASSERT_TRUE(session->finish());
  EXPECT_GT(session->finishedSegments(), segmentsAfterNote);
  EXPECT_EQ(session->transcript().compare(0, afterNote.size() + 1, afterNote + " "), 0)
      << session->transcript();
}

// The speech of a spoken fixture, without the silence the speaker adds at its end.
std::vector<int16_t> spokenWithoutTrailingSilence(const char* path) {
  std::vector<int16_t> samples = readRaw(path);
  while (!samples.empty() && std::abs(samples.back()) < 32) samples.pop_back();
  return samples;
}

// A pause of 0.3 s, shorter than the half second that ends a decoder utterance,
// ends a segment only once the segment has lasted a while.
TEST(PocketsphinxSegments, OnlyALongSegmentEndsAtAShortPause) {
  const struct {
    const char* before;
    const char* after;
    size_t segmentsAtThePause;
  } rows[] = {
      {TEST_SENTENCE_PATH, TEST_PHRASE_PATH, 1},  // 6 s of speech, then the pause
      {TEST_PHRASE_PATH, TEST_SENTENCE_PATH, 0},  // 1.5 s
  };
  for (const auto& row : rows) {
    const std::vector<int16_t> before = spokenWithoutTrailingSilence(row.before);
    const std::vector<int16_t> after = spokenWithoutTrailingSilence(row.after);
    ASSERT_GT(before.size(), 16000u) << row.before;
    ASSERT_GT(after.size(), 16000u) << row.after;
    std::vector<int16_t> audio = before;
    audio.insert(audio.end(), 16000 * 3 / 10, 0);
    audio.insert(audio.end(), after.begin(), after.begin() + 16000 / 2);

    auto session = makeSession();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->process(audio.data(), audio.size()));
    EXPECT_EQ(session->finishedSegments(), row.segmentsAtThePause) << row.before << " then " << row.after;
  }
}

TEST_F(PocketsphinxSessionTest, SpeechWithoutAPauseIsStillCutIntoSegments) {
  const size_t second = 16000;
  auto session = PocketsphinxSession::make(POCKETSPHINX_MODELDIR, second);
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(session->process(note().data(), note().size()));
  // A segment ends on the first whole block past the limit.
  EXPECT_GE(session->finishedSegments(), note().size() / (second + PocketsphinxSession::kBlockSamples));
  ASSERT_TRUE(session->finish());
  EXPECT_FALSE(session->transcript().empty());
}

TEST_F(PocketsphinxSessionTest, SilenceGivesAnEmptyTranscript) {
  auto session = makeSession();
  ASSERT_NE(session, nullptr);
  const std::vector<int16_t> silence(3 * 16000, 0);
  ASSERT_TRUE(session->process(silence.data(), silence.size()));
  EXPECT_EQ(session->transcript(), "");
  ASSERT_TRUE(session->finish());
  EXPECT_EQ(session->transcript(), "");
}

TEST_F(PocketsphinxSessionTest, FinishingWithoutAudioGivesAnEmptyTranscript) {
  auto session = makeSession();
  ASSERT_NE(session, nullptr);
  EXPECT_TRUE(session->finish());
  EXPECT_EQ(session->transcript(), "");
  EXPECT_EQ(session->finishedSegments(), 0u);
}

}  // namespace
