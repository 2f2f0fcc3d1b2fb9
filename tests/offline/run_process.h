#pragma once
// Runs a program as a child process with a given standard input and collects its
// standard output and standard error apart, for tests of the real binaries.
#include <string>
#include <vector>

enum class Feed {
  File,         // standard input is a regular file (so the test can see how far it was read)
  Pipe,         // the input is written into a pipe at once, then the pipe is closed
  ByteAtATime,  // the input is written into a pipe one byte per write
};

struct RunOptions {
  std::vector<std::string> args;
  std::string input;
  Feed feed = Feed::File;
  std::string workingDirectory;          // empty: the test's own
  std::vector<std::string> environment;  // extra NAME=VALUE entries
};

struct RunResult {
  int status = -1;  // the exit status, or 128 + the signal that ended the process
  std::string out;
  std::string err;
  long inputConsumed = -1;  // bytes of a Feed::File input read by the process
};

// Waits for the process however long it takes; the test's own timeout bounds it.
RunResult runProcess(const std::string& program, const RunOptions& options);
