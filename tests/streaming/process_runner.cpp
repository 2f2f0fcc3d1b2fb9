#include "process_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace process_runner {

Child spawn(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment, int stdinReplacement) {
  // Everything the child needs is built before fork: only async-signal-safe calls follow.
  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  envStrings.insert(envStrings.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // The tests ignore SIGPIPE; an ignored signal would pass through exec, and the
    // program must be seen to cope with a gone reader itself.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &byDefault, nullptr);
    dup2(stdinReplacement >= 0 ? stdinReplacement : in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) ADD_FAILURE() << "fork: " << std::strerror(errno);
  return Child{pid, in[1], out[0], err[0]};
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

namespace {

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left) + 1;
}

// One read into text; false at the end of fd.
bool readSome(int fd, std::string& text) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.append(buffer, static_cast<size_t>(n));
    return true;
  }
}

}  // namespace

bool readToEnd(const std::vector<int>& fds, std::map<int, std::string>& output, Clock::time_point deadline) {
  std::vector<int> open = fds;
  while (!open.empty()) {
    std::vector<pollfd> polled;
    for (int fd : open) polled.push_back(pollfd{fd, POLLIN, 0});
    const int ready = poll(polled.data(), polled.size(), millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    for (const pollfd& p : polled) {
      if (p.revents == 0) continue;
      if (!readSome(p.fd, output[p.fd])) {
        close(p.fd);
        open.erase(std::find(open.begin(), open.end(), p.fd));
      }
    }
  }
  return true;
}

bool readUntil(int fd, std::string& text, const std::string& needle, Clock::time_point deadline) {
  while (text.find(needle) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || !readSome(fd, text)) return false;
  }
  return true;
}

int waitForExit(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/selvane-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
  path_ = pattern;
}

TempDir::~TempDir() {
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink(file(name).c_str());
    }
    closedir(dir);
  }
  rmdir(path_.c_str());
}

}  // namespace process_runner
