// A guard for a start-up step that calls into the recognizer library: should the
// library call exit() or die of a fatal signal inside the step, the step's error
// event still goes out and the process exits with status 1. The handlers write
// only a line made in advance, with write(), and call _exit, so they are safe
// whatever state the library left the process in.
//
// Main thread only, while no other thread calls into the library.
#pragma once

#include <string>

// From now on an exit() or a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) in this process writes the error event with this code to the event
// channel and exits with status 1. A child process of ours is not guarded.
void guardStartUpStep(const std::string& errorCode);
// The step is over: exits and fatal signals do what they did before.
void endStartUpGuard();
