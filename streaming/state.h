// The process-wide values of selvane. Start-up sets each one before any other
// thread could read it; none is freed before the process exits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dispatch.h"
#include "file_handle.h"
#include "speech/pcm_buffer.h"
#include "speech/speech_recognizer.h"

// Fixed by start-up; read by the input reader and the event writers.
extern FileHandle inputHandle;
extern FileHandle outputHandle;
extern double sampleRate;
extern speech::AudioFormat audioFormat;

// The permission gate: the callback writes authStatus before it signals, and the
// main thread reads it only after its wait returns.
extern std::unique_ptr<dispatch::Semaphore> authSemaphore;
extern int64_t authStatus;

// The recognizer holds the recognition task until the process exits. It and the
// input queue are never destroyed, not even by exit(), which the recognizer library
// calls on some fatal errors: their destructors join threads that may be blocked in
// a read, or be the very thread that called exit().
extern speech::SpeechRecognizer* recognizer;
extern speech::RecognitionRequest request;

// Touched only on the main queue (result handler and timeout handler).
extern std::string lastPartialText;
extern bool finalReceived;

extern dispatch::SerialQueue* inputQueue;

// eofTimeout is stored on the input queue and cancelled from the main queue, so it
// is only ever reached through these two, which publish it atomically.
void storeEofTimeout(std::shared_ptr<dispatch::WorkItem> item);
std::shared_ptr<dispatch::WorkItem> loadEofTimeout();

// The one way the process ends. Other threads may still be blocked in a read or be
// inside the recognizer, so no static destructor may run: the lines written before
// are already out, since the writers do not buffer.
[[noreturn]] void exitProcess(int status);
