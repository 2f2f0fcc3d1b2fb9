#include "state.h"

#include <unistd.h>
#include <atomic>
#include <cstdlib>

FileHandle inputHandle{STDIN_FILENO};
FileHandle outputHandle{STDOUT_FILENO};
double sampleRate = 0.0;
speech::AudioFormat audioFormat;

std::unique_ptr<dispatch::Semaphore> authSemaphore;
int64_t authStatus = speech::kNotDetermined;

speech::SpeechRecognizer* recognizer = nullptr;
speech::RecognitionRequest request;

std::string lastPartialText;
bool finalReceived = false;

dispatch::SerialQueue* inputQueue = nullptr;

namespace {
std::shared_ptr<dispatch::WorkItem> eofTimeout;
}

void storeEofTimeout(std::shared_ptr<dispatch::WorkItem> item) {
  std::atomic_store(&eofTimeout, std::move(item));
}

std::shared_ptr<dispatch::WorkItem> loadEofTimeout() { return std::atomic_load(&eofTimeout); }

void exitProcess(int status) { std::_Exit(status); }
