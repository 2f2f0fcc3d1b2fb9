// An example host for tovrin and selvane (see docs/protocol.md): runs one dictation
// from a raw audio file, prints the events as they come, and then the outcome as a
// host application would decide it.
//
//   example_host tovrin  PATH/TO/tovrin  AUDIO.raw [MODEL]
//   example_host selvane PATH/TO/selvane AUDIO.raw
//
// Its own exit status: 0 when a transcript came, 1 when none did, 2 when the host
// itself could not run the dictation.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

struct Child {
  pid_t pid = -1;
  int audioFd = -1;               // the host writes the audio here, then closes it
  int eventsFd = -1;              // event lines
  int errorsFd = -1;              // the program's standard error
  std::optional<int> waitStatus;  // set once the process has been waited for
};

struct Seen {
  std::optional<std::string> finalText;
  std::optional<std::string> errorCode;
  std::string diagnostics;
};

// A pipe whose ends no child inherits. macOS has no pipe2: there the flag is set
// just after, which only a fork from another thread in between could miss.
bool openPipe(int fds[2]) {
#if defined(__APPLE__)
  if (pipe(fds) != 0) return false;
  if (fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0) return true;
  close(fds[0]);
  close(fds[1]);
  return false;
#else
  return pipe2(fds, O_CLOEXEC) == 0;
#endif
}

// Starts argv[0]. Its standard error comes back through a pipe; its standard input
// and output are pipes too when withStdio, else /dev/null (selvane with named pipes).
bool spawnProgram(const std::vector<std::string>& argv, bool withStdio, Child& child) {
  int in[2], out[2], err[2];
  if (!openPipe(in) || !openPipe(out) || !openPipe(err)) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (withStdio) {
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int failed = posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), environ);
  if (failed != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  child.errorsFd = err[0];
  if (withStdio) {
    child.audioFd = in[1];
    child.eventsFd = out[0];
  } else {
    close(in[1]);
    close(out[0]);
  }
  return failed == 0;
}

// Opens the host's ends of the named pipes without ever waiting for ever: the
// output pipe first (a non-blocking open for reading returns at once), then the
// input pipe, retried until selvane has opened its end or has exited.
bool openNamedPipes(const std::string& input, const std::string& output, Child& child) {
  child.eventsFd = open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (child.eventsFd < 0) return false;
  for (;;) {
    child.audioFd = open(input.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (child.audioFd >= 0) break;
    if (errno != ENXIO) return false;
    int status = 0;
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
      child.waitStatus = status;  // it ended before opening its pipes
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // selvane opens the output pipe before the input pipe, so from here on reads of
  // the output pipe wait for data and end when selvane exits.
  fcntl(child.eventsFd, F_SETFL, 0);
  fcntl(child.audioFd, F_SETFL, 0);
  return true;
}

// Writes the audio, then closes the input: that ends the dictation. A write fails
// with EPIPE when the program has already ended (SIGPIPE is ignored).
void writeAudio(int fd, const std::string& audio) {
  size_t done = 0;
  while (done < audio.size()) {
    const ssize_t n = write(fd, audio.data() + done, audio.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
}

void readAll(int fd, std::string& text) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
}

// Reads event lines until the event channel ends, printing each as it comes.
void readEvents(int fd, Seen& seen) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const nlohmann::json event = nlohmann::json::parse(pending.substr(0, end), nullptr, false);
      if (!event.is_object()) {
        std::printf("not an event: %s\n", pending.substr(0, end).c_str());
      } else if (event.contains("error")) {
        seen.errorCode = event["error"].get<std::string>();
        std::printf("error: %s\n", seen.errorCode->c_str());
      } else if (event["isFinal"].get<bool>()) {
        seen.finalText = event["text"].get<std::string>();
        std::printf("final: %s\n", seen.finalText->c_str());
      } else {
        std::printf("partial: %s\n", event["text"].get<std::string>().c_str());
      }
    }
  }
  close(fd);
}

bool saw(const Seen& seen, const std::string& diagnostic) {
  return seen.diagnostics.find(diagnostic + "\n") != std::string::npos;
}

std::string lastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "(none)";
  const size_t newline = text.rfind('\n', end);
  const size_t start = newline == std::string::npos ? 0 : newline + 1;
  return text.substr(start, end + 1 - start);
}

std::string tovrinOutcome(const Seen& seen, int status) {
  if (status == 0 && seen.finalText) return "transcript: " + *seen.finalText;
  if (status == 1 && seen.errorCode) {
    if (*seen.errorCode == "model_load_failed") return "failed: the model could not be loaded";
    if (*seen.errorCode == "no_audio_data") return "failed: no audio was recorded";
    if (*seen.errorCode == "inference_failed") return "failed: the transcription failed";
  }
  return "failed: tovrin broke the protocol";
}

std::string selvaneOutcome(const Seen& seen, int status) {
  const std::string recognitionPrefix = "recognition_error: ";
  const bool recognitionError = seen.errorCode && seen.errorCode->rfind(recognitionPrefix, 0) == 0;
  if (seen.errorCode && !recognitionError) return "failed: recognition could not start: " + *seen.errorCode;
  if (seen.finalText) {
    // The fallback final looks like the recognizer's; standard error tells them apart.
    if (saw(seen, "[maribek] Final result received, exiting"))
      return "transcript from the recognizer: " + *seen.finalText;
    if (saw(seen, "[maribek] Timeout waiting for final result"))
      return "transcript after the end-of-input timeout: " + *seen.finalText;
    return "transcript after a recognition error: " + *seen.finalText;
  }
  if (recognitionError) {
    const std::string description = seen.errorCode->substr(recognitionPrefix.size());
    // Status 0 after a recognition error: the platform cancelled the task.
    return (status == 0 ? "cancelled, no transcript: " : "failed: recognition error: ") + description;
  }
  if (status == 0) return "empty transcript";
  return "failed without an event; last diagnostic: " + lastLine(seen.diagnostics);
}

bool startTovrin(const std::string& path, const std::string& model, Child& child) {
  std::vector<std::string> args{path};
  if (!model.empty()) args.push_back(model);
  return spawnProgram(args, true, child);
}

// The host creates both named pipes before it starts selvane. A child that ended
// before opening its pipes has been waited for; one that is still running after a
// failed open is killed, so the dictation ends either way.
bool startSelvane(const std::string& path, const std::string& fifoDir, Child& child) {
  const std::string input = fifoDir + "/audio.fifo", output = fifoDir + "/events.fifo";
  if (mkfifo(input.c_str(), 0600) != 0 || mkfifo(output.c_str(), 0600) != 0) return false;
  if (!spawnProgram({path, "--input-pipe=" + input, "--output-pipe=" + output}, false, child)) return false;
  if (!openNamedPipes(input, output, child) && !child.waitStatus) kill(child.pid, SIGKILL);
  return true;
}

// Writes the audio and reads the events and diagnostics at the same time, until the
// program has ended; returns its wait status.
int runDictation(Child& child, const std::string& audio, Seen& seen) {
  std::thread errors([&] { readAll(child.errorsFd, seen.diagnostics); });
  std::thread writer;
  if (child.audioFd >= 0) writer = std::thread(writeAudio, child.audioFd, audio);
  if (child.eventsFd >= 0) readEvents(child.eventsFd, seen);
  if (writer.joinable()) writer.join();
  errors.join();
  if (child.waitStatus) return *child.waitStatus;
  int waitStatus = 0;
  while (waitpid(child.pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  return waitStatus;
}

int report(const std::string& program, const Seen& seen, int waitStatus) {
  // A process killed by a signal has no exit status and has written all it will.
  if (WIFSIGNALED(waitStatus)) {
    std::printf("signal: %d\noutcome: failed: %s was killed\n", WTERMSIG(waitStatus), program.c_str());
    return 1;
  }
  const int status = WEXITSTATUS(waitStatus);
  std::printf("status: %d\n", status);
  std::printf("outcome: %s\n",
              (program == "tovrin" ? tovrinOutcome(seen, status) : selvaneOutcome(seen, status)).c_str());
  return seen.finalText ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 1 ? argv[1] : "";
  if (argc < 4 || (program != "tovrin" && program != "selvane")) {
    std::fprintf(stderr, "usage: example_host tovrin|selvane PROGRAM AUDIO.raw [MODEL]\n");
    return 2;
  }
  std::ifstream file(argv[3], std::ios::binary);
  const std::string audio((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  signal(SIGPIPE, SIG_IGN);
  setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it comes, also into a pipe

  char fifoDir[] = "/tmp/example-host-XXXXXX";
  Child child;
  const bool started = program == "tovrin"
                           ? startTovrin(argv[2], argc > 4 ? argv[4] : "", child)
                           : mkdtemp(fifoDir) != nullptr && startSelvane(argv[2], fifoDir, child);
  Seen seen;
  const int waitStatus = started ? runDictation(child, audio, seen) : 0;
  if (program == "selvane") {
    unlink((std::string(fifoDir) + "/audio.fifo").c_str());
    unlink((std::string(fifoDir) + "/events.fifo").c_str());
    rmdir(fifoDir);
  }
  if (!started) {
    std::fprintf(stderr, "example_host: cannot start %s\n", argv[2]);
    return 2;
  }
  return report(program, seen, waitStatus);
}
