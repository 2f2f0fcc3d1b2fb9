#include "file_handle.h"

#include <fcntl.h>
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
  do {
    n = ::read(fileDescriptor_, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
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
    // A write that takes nothing without an error would loop for ever.
    if (n <= 0) return false;
    next += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
