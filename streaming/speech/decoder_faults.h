// Fatal ends of the PocketSphinx library on the decoder thread, turned into a
// report that the recognizer delivers as a recognition error. The library's
// fatal-error path calls exit(), a failed assertion aborts, and a malformed model
// can crash it; on the decoder thread each of these now parks that thread for
// good and hands the report to another thread, so the result handler ends the
// process on the main queue with the run's own lines. Faults on any other thread,
// and exits called elsewhere, go on as before.
#pragma once

#include <functional>
#include <string>

namespace speech {

// Called once per process, with the description of the fault, on the faulting
// decoder thread (exit()) or on the watcher thread (fatal signal); it must not
// wait for the decoder thread.
using DecoderFaultReport = std::function<void(const std::string& description)>;

// Installs the exit hook and the fatal-signal handlers and starts the watcher
// thread, the first time; later calls only replace the report. On the main
// thread, before the decoder thread starts. Returns false when the watcher thread
// cannot be started; nothing is installed then.
bool watchDecoderFaults(DecoderFaultReport report);

// Marks the calling thread as the decoder thread and gives it a stack of its own
// for the signal handler, so that a stack overflow can still be reported.
void markDecoderThread();

}  // namespace speech
