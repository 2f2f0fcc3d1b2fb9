// Runs a program under test as a child process, the way a host does: a pipe to
// its standard input and pipes from its standard output and standard error.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace process_runner {

using Clock = std::chrono::steady_clock;

struct Child {
  pid_t pid = -1;
  int stdinFd = -1;  // ours to write and close
  int stdoutFd = -1;
  int stderrFd = -1;
};

// Starts path with args (without the program name) and the current environment
// plus extraEnvironment ("NAME=value" entries). With stdinReplacement >= 0 the
// child's standard input is that descriptor instead of the pipe (stdinFd is then
// still ours to close). Fails the test on error.
Child spawn(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment = {}, int stdinReplacement = -1);

// Writes all bytes to fd; false if the reader has gone.
bool writeAll(int fd, const std::string& bytes);

// Reads each of fds until it ends, into output[fd]; false when the deadline
// passed first. Closes every fd it has read to the end.
bool readToEnd(const std::vector<int>& fds, std::map<int, std::string>& output, Clock::time_point deadline);

// Reads from fd into text until text contains needle; false at the deadline or
// at the end of fd.
bool readUntil(int fd, std::string& text, const std::string& needle, Clock::time_point deadline);

// The exit status of the child, or -1 when it did not exit normally by the
// deadline (it is killed then).
int waitForExit(pid_t pid, Clock::time_point deadline);

// Splits at line feeds; a last line without its line feed is kept as it is.
std::vector<std::string> splitLines(const std::string& text);

// A fresh directory under the temporary directory, removed with its files by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace process_runner
