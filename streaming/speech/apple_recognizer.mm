// The recognizer on Apple: the Speech framework behind the seam, one framework call
// for each seam operation. Objective-C++ with ARC.
//
// Threads: the authorization callback runs on a thread of the framework's choosing;
// the task, its request and the recognizer are made on the main thread; audio is
// appended and ended from the input queue; the result handler runs on the main
// queue, the recognizer's default delivery queue, which is never changed here.
#include <atomic>
#include <memory>
#include <string>

#import <Foundation/Foundation.h>
#import <Speech/Speech.h>

#include "speech/apple_pcm_buffer.h"
#include "speech/speech_recognizer.h"

namespace speech {
namespace {

std::string stringFrom(NSString* text) {
  const char* bytes = text.UTF8String;
  return bytes != nullptr ? std::string(bytes) : std::string();
}

// The framework gives a cancelled task's error no kind of its own on macOS 15
// (its own error domain has no cancellation code), so the kind is told from the
// two domain and code pairs it is known to use for a cancelled request: the
// current engine's and the older one's. Both domains are compared as strings,
// since no public constant names them. A code alone would not do: 216 or 301 in
// another domain means something else.
bool isTaskCancellation(NSError* error) {
  NSString* domain = error.domain;
  return ([domain isEqualToString:@"kLSRErrorDomain"] && error.code == 301) ||
         ([domain isEqualToString:@"kAFAssistantErrorDomain"] && error.code == 216);
}

// ASCII letters compared without case, '_' taken as '-': the framework may spell
// the identifier it was given in either form.
bool sameLocale(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c == '_' ? '-' : (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

class AppleRecognizer : public SpeechRecognizer {
 public:
  explicit AppleRecognizer(SFSpeechRecognizer* recognizer) : recognizer_(recognizer) {}

  bool isAvailable() const override { return [recognizer_ isAvailable]; }
  bool supportsOnDeviceRecognition() const override { return recognizer_.supportsOnDeviceRecognition; }

 protected:
  bool startTask(const RecognitionRequest& request, ResultHandler handler) override {
    @autoreleasepool {
      request_ = [[SFSpeechAudioBufferRecognitionRequest alloc] init];
      request_.shouldReportPartialResults = request.shouldReportPartialResults ? YES : NO;
      request_.requiresOnDeviceRecognition = request.requiresOnDeviceRecognition ? YES : NO;
      // The block holds its own copy of the handler and nothing of this object.
      task_ = [recognizer_ recognitionTaskWithRequest:request_
                                        resultHandler:^(SFSpeechRecognitionResult* result, NSError* error) {
                                          deliver(handler, result, error);
                                        }];
      return task_ != nil;
    }
  }

  void appendAudio(const PcmBuffer& buffer) override {
    @autoreleasepool {
      [request_ appendAudioPCMBuffer:buffer.storage().buffer];
    }
  }

  void endAudio() override {
    @autoreleasepool {
      [request_ endAudio];
    }
  }

 private:
  // On the main queue. The handler may end the process; the copies it reads live
  // on this stack until then.
  static void deliver(const ResultHandler& handler, SFSpeechRecognitionResult* result, NSError* error) {
    RecognitionResult seamResult;
    RecognitionError seamError;
    if (result != nil) {
      seamResult.formattedString = stringFrom(result.bestTranscription.formattedString);
      seamResult.isFinal = [result isFinal];
    }
    if (error != nil) {
      seamError.code = static_cast<long>(error.code);
      seamError.localizedDescription = stringFrom(error.localizedDescription);
      seamError.isTaskCancellation = isTaskCancellation(error);
    }
    handler(result != nil ? &seamResult : nullptr, error != nil ? &seamError : nullptr);
  }

  // Strong references for the life of the process: the recognizer never destroys
  // this object, so neither the request nor the task is ever freed before exit.
  SFSpeechRecognizer* recognizer_;
  // Set on the main thread before the input queue exists.
  SFSpeechAudioBufferRecognitionRequest* request_ = nil;
  SFSpeechRecognitionTask* task_ = nil;  // held, never called
};

}  // namespace

void requestAuthorization(std::function<void(int64_t status)> callback) {
  // Called once by the framework, as far as is known; the flag makes sure of it.
  auto answered = std::make_shared<std::atomic<bool>>(false);
  [SFSpeechRecognizer requestAuthorization:^(SFSpeechRecognizerAuthorizationStatus status) {
    if (answered->exchange(true)) return;
    callback(static_cast<int64_t>(status));
  }];
}

std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(const std::string& localeIdentifier) {
  @autoreleasepool {
    // Not UTF-8: no NSString, so no such locale either.
    NSString* identifier = @(localeIdentifier.c_str());
    if (identifier == nil) return nullptr;
    NSLocale* locale = [NSLocale localeWithLocaleIdentifier:identifier];
    SFSpeechRecognizer* recognizer = [[SFSpeechRecognizer alloc] initWithLocale:locale];
    if (recognizer == nil) return nullptr;
    // For a language it lacks, the framework may hand out a recognizer for the
    // keyboard's dictation language instead; transcribing in that language would
    // be a wrong result, so it counts as no recognizer.
    if (!sameLocale(stringFrom(recognizer.locale.localeIdentifier), localeIdentifier)) return nullptr;
    return std::make_unique<AppleRecognizer>(recognizer);
  }
}

}  // namespace speech
