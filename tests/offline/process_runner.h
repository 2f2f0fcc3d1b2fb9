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

RunResult runProcess(const std::string& program, const RunOptions& options);

// A fresh folder that is removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::vector<std::string> splitLines(const std::string& text);
