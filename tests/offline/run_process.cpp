#include "run_process.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "files.h"
#include "process.h"

namespace {

// A new regular file, so that the test can see how far the input was read and how
// much output there was at any moment; -1 (and a failed test) on error.
int tempFile(std::string& path) {
  path = std::filesystem::temp_directory_path().string() + "/tovrin-test-XXXXXX";
#if defined(__APPLE__)
  // mkostemp is a GNU call; here the flag follows at once.
  const int fd = mkstemp(path.data());
  if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
#else
  const int fd = mkostemp(path.data(), O_CLOEXEC);
#endif
  if (fd < 0) ADD_FAILURE() << "temporary file: " << std::strerror(errno);
  return fd;
}

void feed(int fd, const RunOptions& options) {
  if (options.feed == Feed::Pipe) {
    test_support::writeAll(fd, options.input);
  } else if (options.feed == Feed::ByteAtATime) {
    for (char c : options.input) {
      if (!test_support::writeAll(fd, std::string(1, c))) break;
    }
  }
  close(fd);
}

}  // namespace

RunResult runProcess(const std::string& program, const RunOptions& options) {
  // A child that exits without reading must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  std::string outPath, errPath, inPath;
  test_support::Redirects redirects;
  redirects.stdoutFd = tempFile(outPath);
  redirects.stderrFd = tempFile(errPath);
  redirects.workingDirectory = options.workingDirectory;
  if (options.feed == Feed::File) {
    redirects.stdinFd = tempFile(inPath);
    test_support::writeAll(redirects.stdinFd, options.input);
    lseek(redirects.stdinFd, 0, SEEK_SET);
  }

  RunResult result;
  const test_support::Child child =
      test_support::spawn(program, options.args, options.environment, redirects);
  close(child.stdoutFd);
  close(child.stderrFd);
  if (child.pid > 0) {
    feed(child.stdinFd, options);
    const int status = test_support::waitForStatus(child.pid, test_support::Clock::time_point::max());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    close(child.stdinFd);
  }
  if (options.feed == Feed::File) {
    result.inputConsumed = lseek(redirects.stdinFd, 0, SEEK_CUR);
    close(redirects.stdinFd);
    std::remove(inPath.c_str());
  }
  close(redirects.stdoutFd);
  close(redirects.stderrFd);
  result.out = test_support::readFile(outPath);
  result.err = test_support::readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}
