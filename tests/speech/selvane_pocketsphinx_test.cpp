// selvane with the PocketSphinx recognizer, as a host drives it: a spoken note
// written at real-time pace, through the standard streams and through named
// pipes; the events are read as they come and parsed as JSON.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files.h"
#include "process.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using test_support::readFile;

struct Event {
  nlohmann::json json;
  Clock::time_point at;
};

struct HostRun {
  std::vector<Event> events;
  Clock::time_point inputClosed;
  std::string standardError;
  std::string standardOutput;  // only with named pipes, where it must stay empty
  int status = -1;
};

// Writes the note at real-time pace, 100 ms at a time, then closes fd.
void feedNote(int fd, Clock::time_point* closedAt) {
  const std::string note = readFile(TEST_NOTE_PATH);
  const size_t chunk = 3200;
  auto next = Clock::now();
  for (size_t at = 0; at < note.size(); at += chunk) {
    const size_t n = std::min(chunk, note.size() - at);
    if (write(fd, note.data() + at, n) != static_cast<ssize_t>(n)) break;  // selvane is gone
    next += std::chrono::milliseconds(100);
    std::this_thread::sleep_until(next);
  }
  *closedAt = Clock::now();
  close(fd);
}

// Reads event lines from fd until it ends.
std::vector<Event> readEvents(int fd) {
  std::vector<Event> events;
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      Event event{nlohmann::json::parse(pending.substr(0, end), nullptr, false), Clock::now()};
      events.push_back(std::move(event));
    }
  }
  EXPECT_EQ(pending, "") << "an unfinished line";
  close(fd);
  return events;
}

class SelvanePocketsphinxTest : public ::testing::Test {
 protected:
  void SetUp() override { signal(SIGPIPE, SIG_IGN); }

  // Starts selvane with the given arguments; its standard input, output and error
  // are the given descriptors (-1: the file under dir_ of that name, or /dev/null).
  pid_t spawn(const std::vector<std::string>& args, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) {
      posix_spawn_file_actions_adddup2(&actions, in, 0);
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (out >= 0) {
      posix_spawn_file_actions_adddup2(&actions, out, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(SELVANE_PATH)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, SELVANE_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << std::strerror(rc);
    return rc == 0 ? pid : -1;
  }

  void finish(pid_t pid, HostRun& run) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.standardError = readFile(path("stderr"));
    run.standardOutput = readFile(path("stdout"));
  }

  std::string path(const char* name) const { return dir_.file(name); }

  test_support::TempDir dir_;
};

// What a host must see from a good run: partial results, each a revision, then one
// final result with text, after the end of the input; only tagged diagnostics.
void expectRecognisedNote(const HostRun& run) {
  EXPECT_EQ(run.status, 0) << run.standardError;
  ASSERT_GE(run.events.size(), 2u) << run.standardError;
  std::string previous;
  for (size_t i = 0; i < run.events.size(); ++i) {
    const auto& json = run.events[i].json;
    ASSERT_TRUE(json.is_object()) << "event " << i << " is not a JSON object";
    ASSERT_EQ(json.size(), 2u) << json.dump();
    ASSERT_TRUE(json.contains("text") && json["text"].is_string()) << json.dump();
    ASSERT_TRUE(json.contains("isFinal") && json["isFinal"].is_boolean()) << json.dump();
    const bool last = i + 1 == run.events.size();
    EXPECT_EQ(json["isFinal"].get<bool>(), last) << "event " << i << ": " << json.dump();
    if (!last) {
      EXPECT_NE(json["text"].get<std::string>(), previous) << "a partial result that revises nothing";
      previous = json["text"].get<std::string>();
    }
  }
  const Event& final = run.events.back();
  EXPECT_FALSE(final.json["text"].get<std::string>().empty());
  EXPECT_GE(final.at, run.inputClosed) << "a final result before the audio ended";

  std::istringstream lines(run.standardError);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.rfind("[maribek] ", 0), 0u) << "untagged diagnostic: " << line;
  }
  EXPECT_NE(run.standardError.find("[maribek] Final result received, exiting\n"), std::string::npos)
      << run.standardError;
  EXPECT_EQ(run.standardError.find("Timeout waiting for final result"), std::string::npos)
      << run.standardError;
}

TEST_F(SelvanePocketsphinxTest, RecognisesANoteFromStandardInput) {
  int input[2];
  int output[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
  const pid_t pid = spawn({}, input[0], output[1]);
  close(input[0]);
  close(output[1]);
  ASSERT_GT(pid, 0);

  HostRun run;
  std::thread feeder(feedNote, input[1], &run.inputClosed);
  run.events = readEvents(output[0]);
  feeder.join();
  finish(pid, run);
  expectRecognisedNote(run);
}

TEST_F(SelvanePocketsphinxTest, RecognisesANoteThroughNamedPipes) {
  const std::string in = path("in.fifo");
  const std::string out = path("out.fifo");
  ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
  const pid_t pid = spawn({"--input-pipe=" + in, "--output-pipe=" + out}, -1, -1);
  ASSERT_GT(pid, 0);

  // selvane opens the output pipe first, so the host opens its reading end first.
  const int events = open(out.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(events, 0) << std::strerror(errno);
  const int audio = open(in.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(audio, 0) << std::strerror(errno);

  HostRun run;
  std::thread feeder(feedNote, audio, &run.inputClosed);
  run.events = readEvents(events);
  feeder.join();
  finish(pid, run);
  expectRecognisedNote(run);
  EXPECT_EQ(run.standardOutput, "") << "events belong on the output pipe";
  EXPECT_NE(run.standardError.find("[maribek] Named pipes opened\n"), std::string::npos) << run.standardError;
}

// A thread that cannot be started (here: every new thread would need a stack of
// about a terabyte) ends start-up with a diagnostic and status 1, not an abort.
TEST(SelvanePocketsphinx, NoThreadForTheDecoderEndsStartUpWithStatusOne) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer maps its shadow memory at fixed places, and a terabyte stack
  // limit moves the process's own mappings onto them: it dies before main.
  GTEST_SKIP() << "a terabyte stack limit and ThreadSanitizer's fixed memory layout do not mix";
#endif
  test_support::Child child = test_support::spawn(
      "/bin/sh", {"-c", "ulimit -s 1000000000 && exec \"$0\"", SELVANE_PATH});
  close(child.stdinFd);
  std::map<int, std::string> output;
  const auto deadline = Clock::now() + std::chrono::minutes(1);
  ASSERT_TRUE(test_support::readToEnd({child.stdoutFd, child.stderrFd}, output, deadline));
  EXPECT_EQ(test_support::waitForExit(child.pid, deadline), 1) << output[child.stderrFd];
  EXPECT_EQ(output[child.stdoutFd], "");
  const std::string& diagnostics = output[child.stderrFd];
  const std::string last = "[maribek] Recognition task could not be created\n";
  ASSERT_GE(diagnostics.size(), last.size()) << diagnostics;
  EXPECT_EQ(diagnostics.substr(diagnostics.size() - last.size()), last) << diagnostics;
}

}  // namespace
