// One dictation decoded by PocketSphinx, split into segments at the pauses the
// decoder's own voice-activity detection finds, and a long segment at a shorter
// pause (see kLongSegmentSamples). Each segment is one decoder
// utterance, so the cost of a hypothesis and the decoder's memory depend on the
// length of the current segment, never on the length of the dictation.
//
// Not thread safe: one thread at a time uses a session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ps_decoder_s;
struct cmd_ln_s;

namespace speech {

class PauseDetector;

// The whole transcript so far: the finished text, a single space, then the current
// hypothesis; an empty side adds no space.
std::string joinTranscript(const std::string& finished, const std::string& current);

// s = f * 32768 undoes the conversion s / 32768 exactly; values outside the 16-bit
// range are clamped, and the rest rounded to the nearest sample.
int16_t int16FromFloatSample(float sample);

// What went wrong in the decoder, for a recognition error.
struct DecoderFailure {
  long code = 0;
  std::string description;
};

// Failure codes; none is 1 or 216, which the program silences.
constexpr long kDecoderStartFailed = 1101;
constexpr long kDecoderProcessFailed = 1102;
constexpr long kDecoderEndFailed = 1103;
constexpr long kDecoderFatalError = 1104;  // the library exited, aborted or crashed

// Whether the model directory holds the en-US acoustic model, language model and dictionary.
bool modelFilesPresent(const std::string& modelDir);

class PocketsphinxSession {
 public:
  // Audio is handed to the decoder in blocks of this many samples (128 ms) counted
  // from the start of the stream, so pauses are found at the same places however
  // the audio arrives. A pause is looked for after each block; with the library's
  // own command's block size, segments shorter than kLongSegmentSamples end where
  // that command ends its utterances, so their text is the one it gives.
  static constexpr size_t kBlockSamples = 2048;
  // A segment without a pause is ended after this long anyway (30 s by default),
  // to bound the decoder's memory.
  static constexpr size_t kMaxSegmentSamples = 30 * 16000;
  // A segment that has lasted this long (3.5 s) ends at the next short pause
  // (0.2 s) rather than at the decoder's own half second. The second pass over a
  // segment takes about 60 ms per second of it, all at the segment's end, so long
  // segments are what hold a phrase's text back; splitting them between sentences
  // also loses no words. Shorter utterances are segmented as the library's own
  // command does.
  static constexpr size_t kLongSegmentSamples = 56000;
  static constexpr long kShortPauseFrames = 20;

  // Loads the en-US model from modelDir, the library's model directory (its en-us/
  // holds the acoustic model en-us/, en-us.lm.bin and cmudict-en-us.dict). Returns nullptr when the decoder
  // does not initialise. The library's own log is switched off for the whole process;
  // its errors are kept (library_errors.h). The model's files are mapped into
  // memory, unless readFiles: read, they are checked against the sizes their
  // headers give, which a mapped file that is cut short is not.
  static std::unique_ptr<PocketsphinxSession> make(const std::string& modelDir,
                                                   size_t maxSegmentSamples = kMaxSegmentSamples,
                                                   bool readFiles = false);
  ~PocketsphinxSession();
  PocketsphinxSession(const PocketsphinxSession&) = delete;
  PocketsphinxSession& operator=(const PocketsphinxSession&) = delete;

  // Decodes the samples (16 kHz mono). Returns false when the decoder fails; the
  // session is then unusable and failure() tells why.
  bool process(const int16_t* samples, size_t count);
  // Decodes what is left and closes the last segment. Returns false on failure.
  bool finish();

  // Finished segments joined by single spaces, then the current hypothesis.
  std::string transcript() const;
  size_t finishedSegments() const { return finishedSegments_; }
  // The finished segments alone, joined: text that no later audio revises.
  const std::string& finishedTranscript() const { return finished_; }
  const DecoderFailure& failure() const { return failure_; }

  // Whether the dictionary has a pronunciation for the language model's words
  // (every 100th is looked up; 99% must be there). The library accepts a damaged
  // dictionary and silently drops the words it cannot read, which are then never
  // recognised; the installed model has every word.
  bool dictionaryCoversLanguageModel() const;

 private:
  PocketsphinxSession(cmd_ln_s* config, ps_decoder_s* decoder, std::unique_ptr<PauseDetector> pauses,
                      size_t maxSegmentSamples);
  bool decodeBlock(const int16_t* samples, size_t count);
  bool startSegment();
  bool endSegment();
  bool fail(long code, const std::string& what, int status);
  std::string currentHypothesis() const;

  cmd_ln_s* config_;
  ps_decoder_s* decoder_;
  std::unique_ptr<PauseDetector> pauses_;
  size_t maxSegmentSamples_;
  std::vector<int16_t> block_;  // the samples of a block not yet complete
  bool inSegment_ = false;      // an utterance is open in the decoder
  bool heardSpeech_ = false;    // the open utterance has seen speech
  size_t segmentSamples_ = 0;
  std::string finished_;  // the finished segments, joined
  size_t finishedSegments_ = 0;
  bool failed_ = false;
  DecoderFailure failure_;
};

}  // namespace speech
