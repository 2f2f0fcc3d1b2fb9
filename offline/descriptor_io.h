#pragma once
// Whole reads and writes on tovrin's standard descriptors. A host may hand over
// a non-blocking channel: EAGAIN then means "not yet" and waits in poll(), so
// neither the audio nor a line is cut short by it. EINTR is retried.
#include <cstddef>

// Reads until size bytes are in buffer or the input has ended, and returns how
// many it read: fewer than size only at the end of the input or after a read
// error, which ends the input the same way.
size_t readFull(int fd, void* buffer, size_t size);

// Writes every byte, unless the reader has gone (EPIPE) or another error stops it;
// nothing is reported either way. Uses only write() and poll(), which are
// async-signal-safe, so the fatal-signal handler writes its line with it too.
void writeWhole(int fd, const void* bytes, size_t size);
