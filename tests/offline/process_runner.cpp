#include "process_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

int tempFile(std::string& path) {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/tovrin-test-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  path = pattern;
  return fd;
}

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the reader has gone; what it did not read is its business
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

RunResult runProcess(const std::string& program, const RunOptions& options) {
  // A child that exits without reading must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  std::string outPath, errPath, inPath;
  const int outFd = tempFile(outPath);
  const int errFd = tempFile(errPath);
  int inFd = -1;
  int pipeFds[2] = {-1, -1};
  if (options.feed == Feed::File) {
    inFd = tempFile(inPath);
    writeAll(inFd, options.input.data(), options.input.size());
    lseek(inFd, 0, SEEK_SET);
  } else {
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    inFd = pipeFds[0];
  }

  std::vector<std::string> args{program};
  args.insert(args.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    dup2(inFd, STDIN_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
    for (const auto& entry : options.environment) putenv(const_cast<char*>(entry.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }

  if (options.feed != Feed::File) {
    close(pipeFds[0]);
    if (options.feed == Feed::Pipe) {
      writeAll(pipeFds[1], options.input.data(), options.input.size());
    } else {
      for (char c : options.input) writeAll(pipeFds[1], &c, 1);
    }
    close(pipeFds[1]);
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (options.feed == Feed::File) {
    result.inputConsumed = lseek(inFd, 0, SEEK_CUR);
    close(inFd);
    std::remove(inPath.c_str());
  }
  close(outFd);
  close(errFd);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

TempFolder::TempFolder() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/tovrin-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}
