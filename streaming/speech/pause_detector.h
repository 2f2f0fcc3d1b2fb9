// Finds pauses shorter than the ones that end a decoder utterance. It runs the
// library's own voice-activity detection, on a second front end built from the
// decoder's configuration, with a shorter hangover: it adapts to the noise of the
// recording as the decoder's does, and it never changes what the decoder hears.
//
// Not thread safe: used by the session's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct cmd_ln_s;
struct fe_s;

namespace speech {

class PauseDetector {
 public:
  // A pause is hangoverFrames frames (10 ms each) of silence after speech. Returns
  // nullptr when the front end does not initialise.
  static std::unique_ptr<PauseDetector> make(cmd_ln_s* decoderConfig, long hangoverFrames);
  ~PauseDetector();
  PauseDetector(const PauseDetector&) = delete;
  PauseDetector& operator=(const PauseDetector&) = delete;

  // Takes the next samples of the stream; returns whether a pause began in them.
  bool pauseBegins(const int16_t* samples, size_t count);

 private:
  explicit PauseDetector(fe_s* frontEnd);

  fe_s* frontEnd_;
  std::vector<float> cepstra_;        // the front end's output, which only its state is wanted from
  std::vector<float*> cepstraFrames_;
  bool inSpeech_ = false;
};

}  // namespace speech
