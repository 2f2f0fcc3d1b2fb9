// tovrin: transcribes the raw 16 kHz mono recording on standard input with a
// Whisper model and writes one event line on standard output.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio_input.h"
#include "event_writer.h"
#include "fatal_signals.h"
#include "model_context.h"
#include "transcript_cleanup.h"
#include "transcription.h"

namespace {

const char kDefaultModelPath[] = "./models/ggml-tiny.en.bin";
constexpr float kSampleRate = 16000.0f;

// The event line goes out before the context is released, in every outcome.
int fail(const char* code, ModelContext& context) {
  writeErrorEvent(code);
  fatalSignalExitsWith(1);
  context.release();
  return 1;
}

std::string sampleCountMessage(size_t count) {
  char message[64];
  std::snprintf(message, sizeof message, "Read %zu samples (%.1fs)", count,
                static_cast<float>(count) / kSampleRate);
  return message;
}

}  // namespace

int main(int argc, char** argv) {
  installFatalSignalHandlers();
  const std::string modelPath = argc > 1 ? argv[1] : kDefaultModelPath;

  writeDiagnostic("Loading model: " + modelPath);
  reportFatalSignalAs("model_load_failed");
  LoadedModel model = loadModel(modelPath);
  if (!model.usable) return fail("model_load_failed", model.context);
  writeDiagnostic("Model loaded");
  // From here on the run is transcribing the audio it reads.
  reportFatalSignalAs("inference_failed");

  const SampleList samples = readSamples(STDIN_FILENO);
  if (samples.count == 0) return fail("no_audio_data", model.context);
  writeDiagnostic(sampleCountMessage(samples.count));

  const std::vector<float> audio = toFloatSamples(samples);
  writeDiagnostic("Running inference...");
  if (!transcribe(model.context.get(), audio)) return fail("inference_failed", model.context);

  const std::string transcript = cleanTranscript(joinSegments(model.context.get()));
  writeDiagnostic("Result: " + std::to_string(transcript.size()) + " chars");
  writeResultEvent(transcript);
  fatalSignalExitsWith(0);
  model.context.release();
  return 0;
}
