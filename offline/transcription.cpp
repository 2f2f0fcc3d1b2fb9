#include "transcription.h"

#include <climits>

#include <whisper.h>

namespace {

constexpr int kThreads = 4;
const char kLanguage[] = "en";

whisper_full_params inferenceParams() {
  whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
  params.n_threads = kThreads;
  params.language = kLanguage;
  params.single_segment = false;
  params.print_special = false;
  params.print_progress = false;
  params.print_realtime = false;
  params.print_timestamps = false;
  return params;
}

}  // namespace

bool transcribe(whisper_context* context, const std::vector<float>& audio) {
  // The library counts samples in an int; a longer recording cannot be handed over.
  if (audio.size() > static_cast<size_t>(INT_MAX)) return false;
  const whisper_full_params params = inferenceParams();
  try {
    return whisper_full(context, params, audio.data(), static_cast<int>(audio.size())) == 0;
  } catch (...) {
    return false;
  }
}

std::string joinSegments(whisper_context* context) {
  std::string transcript;
  const int count = whisper_full_n_segments(context);
  for (int i = 0; i < count; ++i) {
    const char* text = whisper_full_get_segment_text(context, i);
    if (text != nullptr) transcript += text;
  }
  return transcript;
}
