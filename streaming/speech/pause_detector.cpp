#include "speech/pause_detector.h"

#include <sphinxbase/cmd_ln.h>
#include <sphinxbase/fe.h>

#include <type_traits>

namespace speech {

namespace {

// Frames the front end may hand back from one call; at speech onset it also
// returns the frames it kept from before the onset.
constexpr int kFramesPerCall = 64;

static_assert(std::is_same_v<mfcc_t, float>, "the library is built with floating-point features");

}  // namespace

std::unique_ptr<PauseDetector> PauseDetector::make(cmd_ln_s* decoderConfig, long hangoverFrames) {
  // The decoder's configuration holds the acoustic model's front-end parameters.
  // The front end reads its settings when it is built, so the shorter hangover is
  // set only for that moment; the decoder's own front end exists already.
  const long decoderHangover = cmd_ln_int_r(decoderConfig, "-vad_postspeech");
  cmd_ln_set_int_r(decoderConfig, "-vad_postspeech", hangoverFrames);
  fe_t* frontEnd = fe_init_auto_r(decoderConfig);  // holds a reference of its own
  cmd_ln_set_int_r(decoderConfig, "-vad_postspeech", decoderHangover);
  if (frontEnd == nullptr) return nullptr;
  if (fe_start_utt(frontEnd) < 0) {
    fe_free(frontEnd);
    return nullptr;
  }
  return std::unique_ptr<PauseDetector>(new PauseDetector(frontEnd));
}

PauseDetector::PauseDetector(fe_s* frontEnd) : frontEnd_(frontEnd) {
  const int size = fe_get_output_size(frontEnd_);
  cepstra_.resize(static_cast<size_t>(kFramesPerCall) * size);
  for (int i = 0; i < kFramesPerCall; ++i) cepstraFrames_.push_back(&cepstra_[static_cast<size_t>(i) * size]);
}

PauseDetector::~PauseDetector() { fe_free(frontEnd_); }

bool PauseDetector::pauseBegins(const int16_t* samples, size_t count) {
  while (count > 0) {
    int32 frames = kFramesPerCall;
    const size_t before = count;
    if (fe_process_frames(frontEnd_, &samples, &count, cepstraFrames_.data(), &frames, nullptr) < 0) break;
    if (count == before && frames == 0) break;  // nothing taken: never spin
  }
  const bool wasInSpeech = inSpeech_;
  inSpeech_ = fe_get_vad_state(frontEnd_) != 0;
  return wasInSpeech && !inSpeech_;
}

}  // namespace speech
