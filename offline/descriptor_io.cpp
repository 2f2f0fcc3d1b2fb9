#include "descriptor_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// False when the wait itself fails.
bool waitUntilReady(int fd, short events) {
  pollfd ready{fd, events, 0};
  for (;;) {
    const int n = poll(&ready, 1, -1);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

}  // namespace

size_t readFull(int fd, void* buffer, size_t size) {
  auto* next = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, next + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && wouldBlock(errno) && waitUntilReady(fd, POLLIN)) continue;
    break;  // the end of the input, or a read error
  }
  return done;
}

void writeWhole(int fd, const void* bytes, size_t size) {
  const auto* next = static_cast<const unsigned char*>(bytes);
  while (size > 0) {
    const ssize_t n = write(fd, next, size);
    if (n < 0 && errno == EINTR) continue;
    // A gone reader shows up as POLLERR here and as EPIPE in the next write.
    if (n < 0 && wouldBlock(errno) && waitUntilReady(fd, POLLOUT)) continue;
    if (n <= 0) return;
    next += n;
    size -= static_cast<size_t>(n);
  }
}
