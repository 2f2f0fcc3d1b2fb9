#include "file_handle.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <cerrno>

namespace {

constexpr size_t kReadSize = 64 * 1024;

std::optional<FileHandle> openPath(const std::string& path, int flags, int* error) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error) *error = errno;
    return std::nullopt;
  }
  if (error) *error = 0;
  return FileHandle(fd);
}

// A host may hand over a channel whose open file description is non-blocking (it
// shares the flag with whatever set it on the other side), so EAGAIN means "not
// yet", never the end: wait until the descriptor is ready, as a blocking call
// would. False when the wait itself fails, with errno set.
bool waitUntilReady(int fd, short events) {
  pollfd ready{fd, events, 0};
  for (;;) {
    const int n = ::poll(&ready, 1, -1);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

FileHandle FileHandle::standardInput() { return FileHandle(STDIN_FILENO); }

FileHandle FileHandle::standardOutput() { return FileHandle(STDOUT_FILENO); }

std::optional<FileHandle> FileHandle::forReadingAtPath(const std::string& path, int* error) {
  return openPath(path, O_RDONLY, error);
}

std::optional<FileHandle> FileHandle::forWritingAtPath(const std::string& path, int* error) {
  return openPath(path, O_WRONLY, error);
}

std::vector<uint8_t> FileHandle::availableData(int* error) const {
  std::vector<uint8_t> bytes(kReadSize);
  ssize_t n;
  for (;;) {
    n = ::read(fileDescriptor_, bytes.data(), bytes.size());
    if (n >= 0) break;
    if (errno == EINTR) continue;
    if (wouldBlock(errno) && waitUntilReady(fileDescriptor_, POLLIN)) continue;
    break;
  }
  if (n < 0) {
    if (error) *error = errno;
    return {};
  }
  if (error) *error = 0;
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

bool FileHandle::writeAll(const void* data, size_t size) const {
  const auto* next = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::write(fileDescriptor_, next, size);
    if (n < 0 && errno == EINTR) continue;
    // The rest of a line goes out once the reader has made room; a reader that
    // is gone shows up as POLLERR here and as EPIPE in the next write.
    if (n < 0 && wouldBlock(errno) && waitUntilReady(fileDescriptor_, POLLOUT)) continue;
    // A write that takes nothing without an error would loop for ever.
    if (n <= 0) return false;
    next += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
