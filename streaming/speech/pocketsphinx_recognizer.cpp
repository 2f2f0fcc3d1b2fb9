// The speech seam on PocketSphinx. Appended audio is queued and decoded on a thread
// of the recognizer's own, so the input queue never waits for the decoder; results
// travel to the main queue.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch.h"
#include "speech/pocketsphinx_session.h"
#include "speech/speech_recognizer.h"

namespace speech {

namespace {

// A revised hypothesis is looked for at least this often while audio is waiting,
// so that a decoder running behind still reports progress.
constexpr size_t kHypothesisEverySamples = 1600;

class PocketsphinxRecognizer final : public SpeechRecognizer {
 public:
  explicit PocketsphinxRecognizer(std::unique_ptr<PocketsphinxSession> session)
      : session_(std::move(session)) {}

  ~PocketsphinxRecognizer() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    if (decoder_.joinable()) decoder_.join();
  }

  bool isAvailable() const override { return session_ != nullptr; }
  bool supportsOnDeviceRecognition() const override { return true; }

 protected:
  bool startTask(const RecognitionRequest& request, ResultHandler handler) override {
    if (session_ == nullptr || decoder_.joinable()) return false;
    handler_ = std::move(handler);
    reportPartials_ = request.shouldReportPartialResults;
    decoder_ = std::thread([this] { decode(); });
    return true;
  }

  void appendAudio(const PcmBuffer& buffer) override {
    const float* const* channels = buffer.floatChannelData();
    if (channels == nullptr || buffer.frameLength() == 0) return;
    std::vector<int16_t> samples(buffer.frameLength());
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16FromFloatSample(channels[0][i]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (ended_ || failed_) return;  // a failed decoder takes no more audio
      pending_.push_back(std::move(samples));
    }
    wake_.notify_one();
  }

  void endAudio() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    wake_.notify_one();
  }

 private:
  // The decoder thread: takes the pending audio a chunk at a time, in order.
  void decode() {
    std::string reported;
    size_t sinceHypothesis = 0;
    for (;;) {
      std::vector<int16_t> chunk;
      bool drained = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || ended_ || !pending_.empty(); });
        if (stopping_) return;
        if (pending_.empty()) break;  // ended, and everything is decoded
        chunk = std::move(pending_.front());
        pending_.pop_front();
        drained = pending_.empty();
      }
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
    if (!session_->finish()) return reportFailure();
    deliver(RecognitionResult{session_->transcript(), true});
  }

  void deliver(RecognitionResult result) {
    dispatch::asyncMain([handler = handler_, result = std::move(result)] { handler(&result, nullptr); });
  }

  void reportFailure() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
      pending_.clear();
    }
    RecognitionError error;
    error.code = session_->failure().code;
    error.localizedDescription = session_->failure().description;
    dispatch::asyncMain([handler = handler_, error = std::move(error)] { handler(nullptr, &error); });
  }

  // Used only by the decoder thread once the task has started.
  std::unique_ptr<PocketsphinxSession> session_;
  ResultHandler handler_;
  bool reportPartials_ = false;

  std::mutex mutex_;  // guards the four members below
  std::condition_variable wake_;
  std::deque<std::vector<int16_t>> pending_;  // appended, not yet decoded
  bool ended_ = false;
  bool failed_ = false;
  bool stopping_ = false;

  std::thread decoder_;
};

}  // namespace

void requestAuthorization(std::function<void(int64_t status)> callback) {
  // Speech is decoded on this machine; nothing needs the user's permission, but the
  // answer still comes from another thread, as the caller expects.
  std::thread([callback = std::move(callback)] { callback(kAuthorized); }).detach();
}

std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(const std::string& localeIdentifier) {
  if (localeIdentifier != "en-US" || !modelFilesPresent(POCKETSPHINX_MODELDIR)) return nullptr;
  // A decoder that does not initialise leaves a recognizer that is not available.
  return std::make_unique<PocketsphinxRecognizer>(PocketsphinxSession::make(POCKETSPHINX_MODELDIR));
}

}  // namespace speech
