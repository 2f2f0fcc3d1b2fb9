#include "speech/pocketsphinx_session.h"

#include "speech/library_errors.h"
#include "speech/pause_detector.h"

#include <pocketsphinx.h>
#include <pocketsphinx/ps_search.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/ngram_model.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace speech {

namespace {

bool isFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string joinTranscript(const std::string& finished, const std::string& current) {
  if (finished.empty()) return current;
  if (current.empty()) return finished;
  return finished + " " + current;
}

int16_t int16FromFloatSample(float sample) {
  const float scaled = sample * 32768.0f;
  if (!(scaled > -32768.0f)) return -32768;  // NaN lands here too
  if (scaled >= 32767.0f) return 32767;
  return static_cast<int16_t>(std::lrint(scaled));
}

bool modelFilesPresent(const std::string& modelDir) {
  return isFile(modelDir + "/en-us/en-us/mdef") && isFile(modelDir + "/en-us/en-us/means") &&
         isFile(modelDir + "/en-us/en-us.lm.bin") && isFile(modelDir + "/en-us/cmudict-en-us.dict");
}

std::unique_ptr<PocketsphinxSession> PocketsphinxSession::make(const std::string& modelDir,
                                                               size_t maxSegmentSamples, bool readFiles) {
  // Before the configuration is parsed, since parsing logs as well.
  keepLibraryErrors();
  const std::string hmm = modelDir + "/en-us/en-us";
  const std::string lm = modelDir + "/en-us/en-us.lm.bin";
  const std::string dict = modelDir + "/en-us/cmudict-en-us.dict";
  // The library's full decoding: the first (tree) pass gives the hypotheses while a
  // segment is open; when it closes, the flat-lexicon second pass and the best-path
  // search over its lattice give the segment's text. Without them a third of the
  // words that the library can recognise are lost. The second pass is a burst of
  // work at each segment end, which comes at a pause of the speaker.
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-lm", lm.c_str(), "-dict",
                                 dict.c_str(), "-samprate", "16000", "-mmap", readFiles ? "no" : "yes", nullptr);
  if (config == nullptr) return nullptr;
  ps_decoder_t* decoder = ps_init(config);
  if (decoder == nullptr) {
    cmd_ln_free_r(config);
    return nullptr;
  }
  std::unique_ptr<PauseDetector> pauses = PauseDetector::make(config, kShortPauseFrames);
  if (pauses == nullptr) {
    ps_free(decoder);
    cmd_ln_free_r(config);
    return nullptr;
  }
  return std::unique_ptr<PocketsphinxSession>(
      new PocketsphinxSession(config, decoder, std::move(pauses), maxSegmentSamples));
}

PocketsphinxSession::PocketsphinxSession(cmd_ln_s* config, ps_decoder_s* decoder,
                                         std::unique_ptr<PauseDetector> pauses, size_t maxSegmentSamples)
    : config_(config), decoder_(decoder), pauses_(std::move(pauses)), maxSegmentSamples_(maxSegmentSamples) {
  block_.reserve(kBlockSamples);
}

PocketsphinxSession::~PocketsphinxSession() {
  if (inSegment_) ps_end_utt(decoder_);
  ps_free(decoder_);  // before the configuration it holds a reference to
  cmd_ln_free_r(config_);
}

bool PocketsphinxSession::process(const int16_t* samples, size_t count) {
  if (failed_) return false;
  while (count > 0) {
    if (block_.empty() && count >= kBlockSamples) {
      if (!decodeBlock(samples, kBlockSamples)) return false;
      samples += kBlockSamples;
      count -= kBlockSamples;
      continue;
    }
    const size_t take = std::min(count, kBlockSamples - block_.size());
    block_.insert(block_.end(), samples, samples + take);
    samples += take;
    count -= take;
    if (block_.size() == kBlockSamples) {
      const bool ok = decodeBlock(block_.data(), block_.size());
      block_.clear();
      if (!ok) return false;
    }
  }
  return true;
}

bool PocketsphinxSession::finish() {
  if (failed_) return false;
  if (!block_.empty()) {
    const bool ok = decodeBlock(block_.data(), block_.size());
    block_.clear();
    if (!ok) return false;
  }
  return !inSegment_ || endSegment();
}

bool PocketsphinxSession::decodeBlock(const int16_t* samples, size_t count) {
  if (!inSegment_ && !startSegment()) return false;
  const int status = ps_process_raw(decoder_, samples, count, FALSE, FALSE);
  if (status < 0) return fail(kDecoderProcessFailed, "could not decode the audio", status);
  segmentSamples_ += count;
  const bool inSpeech = ps_get_in_speech(decoder_) != 0;
  heardSpeech_ = heardSpeech_ || inSpeech;
  const bool shortPause = pauses_->pauseBegins(samples, count);
  // The voice-activity state falls back to silence only after a pause of about
  // half a second, so a segment ends between words, not inside one.
  if (heardSpeech_ && !inSpeech) return endSegment();
  if (heardSpeech_ && shortPause && segmentSamples_ >= kLongSegmentSamples) return endSegment();
  if (segmentSamples_ >= maxSegmentSamples_) return endSegment();
  return true;
}

bool PocketsphinxSession::startSegment() {
  const int status = ps_start_utt(decoder_);
  if (status < 0) return fail(kDecoderStartFailed, "could not start an utterance", status);
  inSegment_ = true;
  heardSpeech_ = false;
  segmentSamples_ = 0;
  return true;
}

bool PocketsphinxSession::endSegment() {
  inSegment_ = false;
  const int status = ps_end_utt(decoder_);
  if (status < 0) return fail(kDecoderEndFailed, "could not end an utterance", status);
  finished_ = joinTranscript(finished_, currentHypothesis());
  ++finishedSegments_;
  return true;
}

bool PocketsphinxSession::fail(long code, const std::string& what, int status) {
  failed_ = true;
  failure_.code = code;
  failure_.description = "The speech decoder " + what + " (status " + std::to_string(status) + ")";
  return false;
}

std::string PocketsphinxSession::currentHypothesis() const {
  int32 score = 0;
  const char* hyp = ps_get_hyp(decoder_, &score);
  return hyp != nullptr ? std::string(hyp) : std::string();
}

bool PocketsphinxSession::dictionaryCoversLanguageModel() const {
  ngram_model_t* lm = ps_get_lm(decoder_, ps_get_search(decoder_));
  if (lm == nullptr) return false;
  const uint32 words = ngram_model_get_counts(lm)[0];
  size_t looked = 0;
  size_t missing = 0;
  for (uint32 id = 0; id < words; id += 100) {
    ++looked;
    // A word the dictionary lacks can have lost its name in the model too.
    const char* word = ngram_word(lm, static_cast<int32>(id));
    char* pronunciation = word != nullptr ? ps_lookup_word(decoder_, word) : nullptr;
    if (pronunciation == nullptr) ++missing;
    ckd_free(pronunciation);
  }
  return looked > 0 && missing * 100 <= looked;
}

std::string PocketsphinxSession::transcript() const {
  return joinTranscript(finished_, inSegment_ ? currentHypothesis() : std::string());
}

}  // namespace speech
