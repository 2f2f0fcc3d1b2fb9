#include "startup.h"

#include <string>

#include "event_writer.h"
#include "input_reader.h"
#include "result_handler.h"
#include "startup_faults.h"
#include "state.h"

namespace {

const char* const kLocaleIdentifier = "en-US";

[[noreturn]] void failStartUp(const std::string& errorCode) {
  writeError(errorCode);
  exitProcess(1);
}

}  // namespace

void bindStandardStreams() {
  inputHandle = FileHandle::standardInput();
  outputHandle = FileHandle::standardOutput();
}

void fixAudioFormat() {
  sampleRate = 16000.0;
  audioFormat = speech::AudioFormat{sampleRate, 1, false};
}

void passPermissionGate() {
  authSemaphore = std::make_unique<dispatch::Semaphore>(0);
  authStatus = speech::kNotDetermined;
  speech::requestAuthorization([](int64_t status) {
    authStatus = status;
    authSemaphore->signal();
  });
  authSemaphore->wait();
  switch (authStatus) {
    case speech::kAuthorized: break;
    case speech::kDenied: failStartUp("speech_recognition_permission_denied");
    case speech::kRestricted: failStartUp("speech_recognition_restricted");
    default: failStartUp("speech_recognition_not_authorized");
  }
  debug("Authorization granted");
}

void createRecognizer() {
  // The recognizer library loads its model here; on a damaged one it may exit or
  // crash rather than return, and the run must still end with its event.
  guardStartUpStep("speech_recognizer_not_available");
  recognizer = speech::makeSpeechRecognizer(kLocaleIdentifier).release();  // kept until exit
  endStartUpGuard();
  if (!recognizer) failStartUp("speech_recognizer_unavailable");
  if (!recognizer->isAvailable()) failStartUp("speech_recognizer_not_available");
  debug(std::string("Recognizer ready (supportsOnDeviceRecognition: ") +
        (recognizer->supportsOnDeviceRecognition() ? "true" : "false") + ")");
}

void createRequest() {
  request.shouldReportPartialResults = true;
  request.requiresOnDeviceRecognition = false;
}

void resetRunState() {
  lastPartialText.clear();
  finalReceived = false;
  storeEofTimeout(nullptr);
}

void startRecognitionTask() {
  // No error code exists for a task that cannot be created; the status tells it.
  if (!recognizer->recognitionTask(request, resultHandler)) {
    debug("Recognition task could not be created");
    exitProcess(1);
  }
  debug("Recognition task started");
}

void startInputReader() {
  inputQueue = new dispatch::SerialQueue(std::string(SELVANE_BUNDLE_IDENTIFIER) + ".input");  // kept until exit
  if (!inputQueue->isRunning()) {
    debug("Input queue could not be created");
    exitProcess(1);
  }
  inputQueue->async(inputReader);
}
