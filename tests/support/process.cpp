#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace test_support {

namespace {

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The current environment with the extra entries in place of those of the same name.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string name = nameOf(*e);
    const bool replaced =
        std::any_of(extra.begin(), extra.end(), [&](const std::string& x) { return nameOf(x) == name; });
    if (!replaced) entries.emplace_back(*e);
  }
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left < 0) return 0;
  return left >= INT_MAX ? INT_MAX : static_cast<int>(left) + 1;
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

// Pipe ends that no child inherits. Apple has no pipe2: there the flag follows the
// pipe at once, and only a fork from another thread in between could miss it.
bool openPipe(int fds[2]) {
#if defined(__APPLE__)
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#else
  return pipe2(fds, O_CLOEXEC) == 0;
#endif
}

}  // namespace

Child spawn(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment, const Redirects& redirects) {
  // Everything the child needs is built before fork: only async-signal-safe calls follow.
  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv = pointersTo(argStrings);
  std::vector<std::string> envStrings = environmentWith(extraEnvironment);
  std::vector<char*> envp = pointersTo(envStrings);

  int in[2], out[2], err[2];
  if (!openPipe(in) || !openPipe(out) || !openPipe(err)) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // The tests ignore SIGPIPE; an ignored signal would pass through exec, and the
    // program must be seen to cope with a gone reader itself.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &byDefault, nullptr);
    dup2(redirects.stdinFd >= 0 ? redirects.stdinFd : in[0], 0);
    dup2(redirects.stdoutFd >= 0 ? redirects.stdoutFd : out[1], 1);
    dup2(redirects.stderrFd >= 0 ? redirects.stderrFd : err[1], 2);
    const std::string& directory = redirects.workingDirectory;
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
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

int waitForStatus(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int waitForExit(pid_t pid, Clock::time_point deadline) {
  const int status = waitForStatus(pid, deadline);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace test_support
