// selvane-scripted driven through named pipes, with the host's side of the
// protocol: it opens its reading end of the output pipe first, then its writing
// end of the input pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "files.h"
#include "process.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;
using test_support::Clock;

const std::string kFinalScript = R"({"at": "end", "result": {"text": "via pipes", "isFinal": true}})";

class SelvanePipes : public testing::Test {
 protected:
  static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }

  void SetUp() override {
    inputPipe = dir.file("in.fifo");
    outputPipe = dir.file("out.fifo");
    ASSERT_EQ(mkfifo(inputPipe.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(outputPipe.c_str(), 0600), 0);
  }

  void start(const std::vector<std::string>& args, const std::vector<std::string>& script) {
    {
      std::ofstream out(dir.file("script.jsonl"));
      for (const auto& line : script) out << line << "\n";
    }
    child = test_support::spawn(SELVANE_SCRIPTED, args, {"SELVANE_SCRIPT=" + dir.file("script.jsonl")});
    ASSERT_GT(child.pid, 0);
  }

  // Opens the writing end of the input pipe once the program has opened its
  // reading end; -1 if it has not within the time given.
  int openInputForWriting(Clock::duration patience) {
    const auto until = Clock::now() + patience;
    for (;;) {
      const int fd = open(inputPipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        fcntl(fd, F_SETFL, 0);
        return fd;
      }
      if (errno != ENXIO || Clock::now() >= until) return -1;
      std::this_thread::sleep_for(milliseconds(10));
    }
  }

  // Reads every channel to its end and takes the exit status.
  void finish(int eventsFd) {
    std::vector<int> fds{child.stdoutFd, child.stderrFd};
    if (eventsFd >= 0) fds.push_back(eventsFd);
    EXPECT_TRUE(test_support::readToEnd(fds, output, deadline)) << "the process did not end";
    status = test_support::waitForExit(child.pid, deadline);
    close(child.stdinFd);
    events = eventsFd >= 0 ? output[eventsFd] : "";
    stdoutText = output[child.stdoutFd];
    diagnostics = test_support::splitLines(stderrSeen + output[child.stderrFd]);
  }

  std::vector<json> parsedEvents() const {
    std::vector<json> parsed;
    for (const auto& line : test_support::splitLines(events))
      parsed.push_back(json::parse(line, nullptr, false));
    return parsed;
  }

  std::string usingLine() const {
    return "[maribek] Using named pipes: input=" + inputPipe + " output=" + outputPipe;
  }

  test_support::TempDir dir;
  std::string inputPipe, outputPipe;
  test_support::Child child;
  const Clock::time_point deadline = Clock::now() + seconds(60);
  std::string stderrSeen;  // read before finish()
  std::map<int, std::string> output;
  int status = -1;
  std::string events, stdoutText;
  std::vector<std::string> diagnostics;
};

TEST_F(SelvanePipes, HostOpensOutputFirstAndEventsGoToThePipe) {
  start({"--input-pipe=" + inputPipe, "--output-pipe=" + outputPipe}, {kFinalScript});

  // The pipe diagnostic comes before either pipe is open, and while the program
  // waits for a reader of the output pipe it has not opened the input pipe.
  ASSERT_TRUE(test_support::readUntil(child.stderrFd, stderrSeen, usingLine() + "\n", deadline))
      << stderrSeen;
  EXPECT_EQ(openInputForWriting(milliseconds(300)), -1) << "the input pipe was opened before the output pipe";
  EXPECT_EQ(stderrSeen.find("Named pipes opened"), std::string::npos);

  const int eventsFd = open(outputPipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(eventsFd, 0);
  const int audioFd = openInputForWriting(seconds(30));
  ASSERT_GE(audioFd, 0);
  test_support::writeAll(audioFd, std::string(64, '\0'));
  close(audioFd);
  finish(eventsFd);

  EXPECT_EQ(status, 0);
  EXPECT_EQ(stdoutText, "") << "events belong on the output pipe";
  EXPECT_EQ(parsedEvents(), std::vector<json>{json::parse(R"({"text": "via pipes", "isFinal": true})")});
  EXPECT_EQ(diagnostics, (std::vector<std::string>{
                             usingLine(), "[maribek] Named pipes opened", "[maribek] Authorization granted",
                             "[maribek] Recognizer ready (supportsOnDeviceRecognition: true)",
                             "[maribek] Recognition task started", "[maribek] Input EOF, ending audio",
                             "[maribek] Final result received, exiting"}));
}

TEST_F(SelvanePipes, LaterOptionWinsAndOtherArgumentsAreIgnored) {
  start({"first", "--input-pipe=/nonexistent/in", "--output-pipe", "--input-pipe=" + inputPipe, "-x",
         "--output-pipe=" + outputPipe, "last"},
        {kFinalScript});
  const int eventsFd = open(outputPipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(eventsFd, 0);
  const int audioFd = openInputForWriting(seconds(30));
  ASSERT_GE(audioFd, 0) << "the second input path was not opened";
  close(audioFd);
  finish(eventsFd);

  EXPECT_EQ(status, 0);
  EXPECT_EQ(parsedEvents(), std::vector<json>{json::parse(R"({"text": "via pipes", "isFinal": true})")});
  ASSERT_GE(diagnostics.size(), 2u);
  EXPECT_EQ(diagnostics[0], usingLine());
  EXPECT_EQ(diagnostics[1], "[maribek] Named pipes opened");
}

TEST_F(SelvanePipes, StartUpFailureEventGoesToTheOutputPipe) {
  start({"--input-pipe=" + inputPipe, "--output-pipe=" + outputPipe}, {R"({"authorization": 1})"});
  const int eventsFd = open(outputPipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(eventsFd, 0);
  const int audioFd = openInputForWriting(seconds(30));
  ASSERT_GE(audioFd, 0);
  finish(eventsFd);
  close(audioFd);

  EXPECT_EQ(status, 1);
  EXPECT_EQ(stdoutText, "");
  EXPECT_EQ(parsedEvents(),
            std::vector<json>{json::parse(R"({"error": "speech_recognition_permission_denied"})")});
  EXPECT_EQ(diagnostics, (std::vector<std::string>{usingLine(), "[maribek] Named pipes opened"}));
}

// A pipe that cannot be opened: a diagnostic naming the path and the reason,
// status 1, no event, and the authorization is never asked for.
TEST_F(SelvanePipes, MissingOutputPipe) {
  const std::string missing = dir.file("missing.fifo");
  start({"--input-pipe=" + inputPipe, "--output-pipe=" + missing}, {kFinalScript});
  finish(-1);

  EXPECT_EQ(status, 1);
  EXPECT_EQ(stdoutText, "");
  EXPECT_EQ(diagnostics,
            (std::vector<std::string>{
                "[maribek] Using named pipes: input=" + inputPipe + " output=" + missing,
                "[maribek] Cannot open output pipe " + missing + ": No such file or directory"}));
}

TEST_F(SelvanePipes, EmptyInputPathCountsAndCannotBeOpened) {
  start({"--input-pipe=", "--output-pipe=" + outputPipe}, {kFinalScript});
  const int eventsFd = open(outputPipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(eventsFd, 0);
  finish(eventsFd);

  EXPECT_EQ(status, 1);
  EXPECT_EQ(events, "");
  EXPECT_EQ(stdoutText, "");
  EXPECT_EQ(diagnostics,
            (std::vector<std::string>{"[maribek] Using named pipes: input= output=" + outputPipe,
                                      "[maribek] Cannot open input pipe : No such file or directory"}));
}

}  // namespace
