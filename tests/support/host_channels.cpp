#include "host_channels.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "process.h"

namespace test_support {

namespace {

void setNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) ADD_FAILURE() << "O_NONBLOCK: " << std::strerror(errno);
}

// Reads both descriptors to their ends, readSize bytes at a time.
void readSlowly(int out, int err, size_t readSize, HostRunResult& result, Clock::time_point deadline) {
  std::vector<pollfd> open{{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::vector<char> buffer(readSize);
  while (!open.empty() && Clock::now() < deadline) {
    const int ready = poll(open.data(), open.size(), 100);
    if (ready < 0 && errno != EINTR) break;
    for (size_t i = 0; i < open.size();) {
      if (open[i].revents == 0) {
        ++i;
        continue;
      }
      const ssize_t n = read(open[i].fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        open.erase(open.begin() + static_cast<long>(i));
        continue;
      }
      (open[i].fd == out ? result.out : result.err).append(buffer.data(), static_cast<size_t>(n));
      open[i].revents = 0;
      ++i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

bool smallPipe(int fds[2]) {
#if defined(__linux__)
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return false;
  }
  // The kernel rounds up to its smallest size, one page.
  if (fcntl(fds[1], F_SETPIPE_SZ, 1) < 0) ADD_FAILURE() << "F_SETPIPE_SZ: " << std::strerror(errno);
#else
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return false;
  }
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
  return true;
}

HostRunResult runAsHost(const std::string& path, const std::vector<std::string>& args,
                        const std::vector<std::string>& environment, const std::string& workingDirectory,
                        const HostChannels& channels) {
  std::signal(SIGPIPE, SIG_IGN);  // a child that ends early must not end the test
  HostRunResult result;
  int in[2], out[2], err[2];
  if (!smallPipe(in) || !smallPipe(out) || !smallPipe(err)) return result;
  if (channels.nonBlockingInput) setNonBlocking(in[0]);
  if (channels.nonBlockingOutput) setNonBlocking(out[1]);
  if (channels.nonBlockingErrors) setNonBlocking(err[1]);

  Redirects redirects{in[0], out[1], err[1], workingDirectory};
  Child child = spawn(path, args, environment, redirects);
  // spawn's own pipes stand unused; ours are the child's now.
  close(child.stdinFd);
  close(child.stdoutFd);
  close(child.stderrFd);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (child.pid <= 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    return result;
  }

  std::thread writer([&] {
    bool all = true;
    for (const std::string& piece : channels.pieces) {
      if (!writeAll(in[1], piece)) {
        all = false;
        break;
      }
      std::this_thread::sleep_for(channels.pauseBetweenPieces);
    }
    close(in[1]);
    result.allWritten = all;
  });
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  std::this_thread::sleep_for(channels.readerPause);
  readSlowly(out[0], err[0], channels.readSize, result, deadline);
  // Killed at the deadline, so the writer cannot stay blocked in a write.
  result.status = waitForExit(child.pid, deadline);
  writer.join();
  close(out[0]);
  close(err[0]);
  return result;
}

}  // namespace test_support
