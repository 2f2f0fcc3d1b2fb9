// A thin handle over a file descriptor, for the input and the event channel.
// The handle does not own its descriptor and never closes it: selvane keeps its
// channels open until the process exits.
//
// Thread safety: a handle may be used from any thread; concurrent reads of one
// handle are not supported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class FileHandle {
 public:
  explicit FileHandle(int fileDescriptor) : fileDescriptor_(fileDescriptor) {}

  static FileHandle standardInput();
  static FileHandle standardOutput();
  // Opens an existing path (nothing is created). Blocks as open(2) does, so a
  // named pipe waits for its other end. On failure returns nullopt and sets *error
  // to the errno value.
  static std::optional<FileHandle> forReadingAtPath(const std::string& path, int* error);
  static std::optional<FileHandle> forWritingAtPath(const std::string& path, int* error);

  int fileDescriptor() const { return fileDescriptor_; }

  // Blocks until at least one byte is available or the input has ended, then
  // returns the bytes that are there (at most one read's worth). Returns no bytes
  // at the end of the input. EINTR is retried; on a non-blocking descriptor,
  // EAGAIN waits in poll() for data or the end. On a read failure returns no bytes
  // and sets *error to the errno value; *error is 0 otherwise.
  std::vector<uint8_t> availableData(int* error) const;

  // Writes all size bytes, looping over short writes and retrying EINTR; on a
  // non-blocking descriptor, EAGAIN waits in poll() until the reader takes more.
  // Returns false when the write failed (EPIPE once the reader is gone); the bytes
  // written until then stay written.
  bool writeAll(const void* data, size_t size) const;

 private:
  int fileDescriptor_;
};
