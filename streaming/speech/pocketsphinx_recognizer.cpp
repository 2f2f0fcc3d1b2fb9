// The speech seam on PocketSphinx. Appended audio is decoded on a thread of the
// recognizer's own; the input queue waits only while more than about a second of
// audio is still to be decoded. Results travel to the main queue.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

#include "dispatch.h"
#include "speech/audio_backlog.h"
#include "speech/decoder_faults.h"
#include "speech/library_errors.h"
#include "speech/model_probe.h"
#include "speech/pocketsphinx_session.h"
#include "speech/speech_recognizer.h"

namespace speech {

namespace {

// A revised hypothesis is looked for at least this often while audio is waiting,
// so that a decoder running behind still reports progress.
constexpr size_t kHypothesisEverySamples = 1600;

// Appending waits while this much is waiting to be decoded (1 s). The end of the
// input therefore reaches the end-of-input timer with the decoder at most about a
// second behind, whatever the pace of the host, and the waiting audio takes a
// bounded amount of memory. A buffer goes in in pieces of 100 ms, so that one large
// read does not take the backlog far over the limit.
constexpr size_t kBacklogLimitSamples = 16000;
constexpr size_t kAppendPieceSamples = 1600;

class PocketsphinxRecognizer final : public SpeechRecognizer {
 public:
  explicit PocketsphinxRecognizer(std::unique_ptr<PocketsphinxSession> session)
      : session_(std::move(session)), backlog_(kBacklogLimitSamples) {}

  // Never run in selvane, which keeps its recognizer until the process exits.
  ~PocketsphinxRecognizer() override {
    backlog_.close();
    if (decoder_.joinable()) decoder_.join();
  }

  bool isAvailable() const override { return session_ != nullptr; }
  bool supportsOnDeviceRecognition() const override { return true; }

 protected:
  bool startTask(const RecognitionRequest& request, ResultHandler handler) override {
    if (session_ == nullptr || decoder_.joinable()) return false;
    handler_ = std::move(handler);
    reportPartials_ = request.shouldReportPartialResults;
    // Before the thread starts, so that the library cannot end the process silently
    // on its first block.
    if (!watchDecoderFaults([this](const std::string& description) { reportFault(description); })) return false;
    try {
      decoder_ = std::thread([this] { decode(); });
    } catch (const std::system_error&) {
      return false;  // no thread to decode on: no task
    }
    return true;
  }

  void appendAudio(const PcmBuffer& buffer) override {
    const float* const* channels = buffer.floatChannelData();
    if (channels == nullptr || buffer.frameLength() == 0) return;
    const size_t frames = buffer.frameLength();
    for (size_t at = 0; at < frames; at += kAppendPieceSamples) {
      std::vector<int16_t> samples(std::min(kAppendPieceSamples, frames - at));
      for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16FromFloatSample(channels[0][at + i]);
      // Waits while the decoder is too far behind; a failed decoder has closed the
      // backlog, which then takes nothing and never waits.
      if (!backlog_.append(std::move(samples))) return;
    }
  }

  void endAudio() override { backlog_.end(); }

 private:
  // The decoder thread: takes the pending audio a chunk at a time, in order.
  void decode() {
    markDecoderThread();
    keepLibraryErrorsIn(nullptr, 0);  // a message of the load is not this failure's
    std::string reported;
    size_t sinceHypothesis = 0;
    std::vector<int16_t> chunk;
    bool drained = false;
    while (backlog_.take(chunk, &drained)) {
      if (!session_->process(chunk.data(), chunk.size())) return reportFailure();
      sinceHypothesis += chunk.size();
      if (reportPartials_ && (drained || sinceHypothesis >= kHypothesisEverySamples)) {
        sinceHypothesis = 0;
        std::string text = session_->transcript();
        if (text != reported) {
          reported = text;
          deliver(RecognitionResult{std::move(text), false});
        }
      }
    }
    if (backlog_.isClosed()) return;  // the recognizer is being destroyed
    if (!session_->finish()) return reportFailure();
    deliver(RecognitionResult{session_->transcript(), true});
  }

  void deliver(RecognitionResult result) {
    dispatch::asyncMain([handler = handler_, result = std::move(result)] { handler(&result, nullptr); });
  }

  void reportFailure() {
    backlog_.close();  // a failed decoder takes no more audio
    RecognitionError error;
    error.code = session_->failure().code;
    error.localizedDescription = session_->failure().description;
    dispatch::asyncMain([handler = handler_, error = std::move(error)] { handler(nullptr, &error); });
  }

  // The library ended fatally on the decoder thread, which never comes back; see
  // decoder_faults.h for the threads this runs on.
  void reportFault(const std::string& description) {
    backlog_.close();  // the input queue must not wait for a decoder that is gone
    RecognitionError error;
    error.code = kDecoderFatalError;
    error.localizedDescription = description;
    dispatch::asyncMain([handler = handler_, error = std::move(error)] { handler(nullptr, &error); });
  }

  // Used only by the decoder thread once the task has started.
  std::unique_ptr<PocketsphinxSession> session_;
  ResultHandler handler_;
  bool reportPartials_ = false;

  AudioBacklog backlog_;  // appended, not yet decoded
  std::thread decoder_;
};

// The seam has no word for why a recognizer is not available, so the reason goes
// out here, as one of selvane's diagnostic lines (tag, message, line feed, in one
// write), before start-up's error event.
void writeDiagnostic(const std::string& message) {
  const std::string line = "[maribek] " + message + "\n";
  for (size_t at = 0; at < line.size();) {
    const ssize_t n = write(STDERR_FILENO, line.data() + at, line.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

}  // namespace

void requestAuthorization(std::function<void(int64_t status)> callback) {
  // Speech is decoded on this machine; nothing needs the user's permission, but the
  // answer still comes from another thread, as the caller expects.
  try {
    std::thread([callback] { callback(kAuthorized); }).detach();
  } catch (const std::system_error&) {
    // No thread to answer on: the answer comes before this returns instead. Start-up
    // then fails where it needs a thread of its own, with a diagnostic.
    callback(kAuthorized);
  }
}

std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(const std::string& localeIdentifier) {
  if (localeIdentifier != "en-US" || !modelFilesPresent(POCKETSPHINX_MODELDIR)) return nullptr;
  // A model that does not load leaves a recognizer that is not available. The trial
  // load in a child process comes first: on some damage the library exits or
  // crashes instead of returning an error.
  const ModelProbe probe = probeModel(POCKETSPHINX_MODELDIR);
  if (!probe.loads) {
    writeDiagnostic("Speech model could not be loaded: " + probe.reason);
    return std::make_unique<PocketsphinxRecognizer>(nullptr);
  }
  std::unique_ptr<PocketsphinxSession> session = PocketsphinxSession::make(POCKETSPHINX_MODELDIR);
  if (session == nullptr) {
    const std::string message = lastLibraryError();
    const std::string reason = message.empty() ? "the decoder did not initialise" : message;
    writeDiagnostic("Speech model could not be loaded: " + reason);
  }
  return std::make_unique<PocketsphinxRecognizer>(std::move(session));
}

}  // namespace speech
