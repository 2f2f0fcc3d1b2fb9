// The PocketSphinx library's own error messages, kept instead of logged: its log
// would go to standard error, which is selvane's diagnostic channel, so it is off
// for the whole process, and the last error or fatal message is kept for the
// diagnostic or recognition error that reports the failure.
//
// Thread safety: the library logs from whichever thread calls it; selvane calls
// it from one thread at a time (the main thread while loading, then the decoder
// thread), and reads what is kept on that thread or after a hand-over.
#pragma once

#include <cstddef>
#include <string>

namespace speech {

// Switches the library's log off and starts keeping its errors. Idempotent.
void keepLibraryErrors();

// From now on the last message goes into buffer (size bytes, always ended by a
// NUL), for example a buffer shared with a parent process; nullptr goes back to
// the process's own buffer.
void keepLibraryErrorsIn(char* buffer, size_t size);

// The last error or fatal message as one line of printable ASCII (other bytes
// become '?'), without the library's "FATAL: "file.c", line N: " prefix; empty
// when there was none.
std::string lastLibraryError();
// The same for a message kept in a buffer of keepLibraryErrorsIn.
std::string libraryErrorText(const char* kept);

// The name of a signal the library can die of ("SIGSEGV"), for the reason given.
std::string signalName(int signal);

}  // namespace speech
