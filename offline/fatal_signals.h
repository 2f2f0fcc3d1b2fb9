#pragma once
// A fault inside the speech library must still end the run with one event line
// and status 0 or 1: a failed assertion that calls abort(), an exception that
// reaches std::terminate, a segmentation or bus fault, a floating-point or
// illegal-instruction trap. The handler only writes a line made in advance and
// calls _exit, so it is safe whatever state the process is in.

// Installs the handlers for SIGABRT, SIGSEGV, SIGBUS, SIGFPE and SIGILL. Until a
// stage is named, a fatal signal exits with status 1 and writes nothing.
void installFatalSignalHandlers();

// From now on a fatal signal writes the error event with this code (lower-case
// letters and underscores) and exits with status 1.
void reportFatalSignalAs(const char* code);

// The run's own event line is out, standing for this exit status: a fatal signal
// from now on (while the model is released, say) adds no line and exits with it.
void fatalSignalExitsWith(int status);
