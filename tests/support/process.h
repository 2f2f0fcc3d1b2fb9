// Runs a program under test as a child process, the way a host does: a pipe to
// its standard input and pipes from its standard output and standard error.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace test_support {

using Clock = std::chrono::steady_clock;

struct Child {
  pid_t pid = -1;
  int stdinFd = -1;  // ours to write and close
  int stdoutFd = -1;
  int stderrFd = -1;
};

// What a child is given instead of the defaults: descriptors >= 0 stand in for
// its pipes (whose ends in Child are then still ours to close), and a non-empty
// workingDirectory is where it runs (it exits with 126 if it cannot go there).
struct Redirects {
  int stdinFd = -1;
  int stdoutFd = -1;
  int stderrFd = -1;
  std::string workingDirectory;
};

// Starts path with args (without the program name) and the current environment
// plus extraEnvironment ("NAME=value" entries, replacing any of the same name).
// The child exits with 127 if path cannot be run. Fails the test on error.
Child spawn(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment = {}, const Redirects& redirects = {});

// Writes all bytes to fd; false if the reader has gone.
bool writeAll(int fd, const std::string& bytes);

// Reads each of fds until it ends, into output[fd]; false when the deadline
// passed first. Closes every fd it has read to the end.
bool readToEnd(const std::vector<int>& fds, std::map<int, std::string>& output, Clock::time_point deadline);

// Reads from fd into text until text contains needle; false at the deadline or
// at the end of fd.
bool readUntil(int fd, std::string& text, const std::string& needle, Clock::time_point deadline);

// The wait status of the child as waitpid reports it, or -1 when it had not
// ended by the deadline (it is killed then) or cannot be waited for.
int waitForStatus(pid_t pid, Clock::time_point deadline);

// The exit status of the child, or -1 when it did not exit normally by the
// deadline (it is killed then).
int waitForExit(pid_t pid, Clock::time_point deadline);

}  // namespace test_support
