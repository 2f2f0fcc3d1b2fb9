// Runs a program the way a host with its own ideas about its channels does: the
// child's ends of its three pipes may be non-blocking (O_NONBLOCK belongs to the
// open file description, which the child shares), the pipes are as small as the
// system allows, the host writes its audio in pieces with pauses between them,
// and it starts reading only after a pause of its own, then reads slowly.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace test_support {

struct HostChannels {
  bool nonBlockingInput = false;
  bool nonBlockingOutput = false;
  bool nonBlockingErrors = false;
  // Each piece is one write of the host, followed by the pause; then the input is closed.
  std::vector<std::string> pieces;
  std::chrono::milliseconds pauseBetweenPieces{0};
  // How long the host leaves standard output and standard error unread at first.
  std::chrono::milliseconds readerPause{0};
  // Then it reads at most this many bytes at a time, with a millisecond between reads.
  size_t readSize = 1024;
};

struct HostRunResult {
  int status = -1;  // the exit status, or -1 when the process did not exit within a minute
  std::string out;
  std::string err;
  bool allWritten = false;  // every piece went in before the input was closed
};

HostRunResult runAsHost(const std::string& path, const std::vector<std::string>& args,
                        const std::vector<std::string>& environment, const std::string& workingDirectory,
                        const HostChannels& channels);

// A pipe shrunk to the smallest size the system allows (one page on Linux; other
// systems keep their own size), its ends close-on-exec. Fails the test on error.
bool smallPipe(int fds[2]);

}  // namespace test_support
