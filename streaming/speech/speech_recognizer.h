// The seam between selvane and a speech recognizer. Each implementation (the
// PocketSphinx one on Linux, the Speech framework one on Apple, the scripted one
// for tests) provides the SpeechRecognizer interface and the two factory
// functions at the bottom; the program links exactly one implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "speech/pcm_buffer.h"

namespace speech {

// Values of the platform's authorization status.
enum AuthorizationStatus : int64_t {
  kNotDetermined = 0,
  kDenied = 1,
  kRestricted = 2,
  kAuthorized = 3,
};

struct RecognitionResult {
  std::string formattedString;  // the best transcription, the whole text so far
  bool isFinal = false;
};

struct RecognitionError {
  long code = 0;
  std::string localizedDescription;
  bool isTaskCancellation = false;  // told by the error's kind, never by its code
};

// Called on the main queue, one call at a time; either pointer may be null, and
// both are valid only during the call.
using ResultHandler = std::function<void(const RecognitionResult* result, const RecognitionError* error)>;

class SpeechRecognizer;

// A buffer recognition request. Options are set on the main thread before the task
// is created; appendAudioPCMBuffer and endAudio then come from one other thread (the
// input queue) while results are delivered. Audio given before a task exists is dropped.
class RecognitionRequest {
 public:
  bool shouldReportPartialResults = false;
  bool requiresOnDeviceRecognition = false;

  // The recognizer copies what it needs before returning. Appending may wait while
  // the recognizer is far behind (the PocketSphinx one: more than about a second of
  // audio still to decode), so that audio written faster than it is recognised is
  // held back in the input channel rather than lost or piled up.
  void appendAudioPCMBuffer(const PcmBuffer& buffer);
  // No audio follows; results may still come.
  void endAudio();

 private:
  friend class SpeechRecognizer;
  SpeechRecognizer* recognizer_ = nullptr;  // set when the task is created
};

class SpeechRecognizer {
 public:
  virtual ~SpeechRecognizer() = default;

  virtual bool isAvailable() const = 0;
  virtual bool supportsOnDeviceRecognition() const = 0;

  // Creates the one recognition task of this recognizer for request, on the main
  // thread. From then on the request's audio goes to this recognizer, and results
  // and errors reach handler on the main queue. The recognizer holds the task until
  // the process exits. Returns false when no task can be created.
  bool recognitionTask(RecognitionRequest& request, ResultHandler handler) {
    request.recognizer_ = this;
    return startTask(request, std::move(handler));
  }

 protected:
  friend class RecognitionRequest;
  virtual bool startTask(const RecognitionRequest& request, ResultHandler handler) = 0;
  virtual void appendAudio(const PcmBuffer& buffer) = 0;  // input queue
  virtual void endAudio() = 0;                            // input queue, once
};

inline void RecognitionRequest::appendAudioPCMBuffer(const PcmBuffer& buffer) {
  if (recognizer_ != nullptr) recognizer_->appendAudio(buffer);
}

inline void RecognitionRequest::endAudio() {
  if (recognizer_ != nullptr) recognizer_->endAudio();
}

// Asks for permission to recognise speech. callback runs once, on a thread other
// than the main thread, with an AuthorizationStatus value; only when no thread can
// be started for it does it run on the calling thread, before this returns.
void requestAuthorization(std::function<void(int64_t status)> callback);

// A recognizer for the locale (for example "en-US"), or nullptr when none exists.
std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(const std::string& localeIdentifier);

}  // namespace speech
