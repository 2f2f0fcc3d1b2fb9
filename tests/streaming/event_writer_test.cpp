// The event writers of selvane, on a pipe standing in for the event channel:
// exact bytes where the line has one member, and text that is not UTF-8.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "event_writer.h"
#include "state.h"

namespace {

class EventWriter : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds), 0);  // no child is started here
    outputHandle = FileHandle(fds[1]);
  }
  void TearDown() override {
    outputHandle = FileHandle::standardOutput();
    close(fds[0]);
    close(fds[1]);
  }
  // What the writers have put on the channel so far.
  std::string written() {
    std::string text;
    char buffer[4096];
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(n));
    return text;
  }
  int fds[2] = {-1, -1};
};

TEST_F(EventWriter, ErrorLineBytes) {
  const struct {
    std::string message, line;
  } rows[] = {
      {"speech_recognizer_unavailable", "{\"error\":\"speech_recognizer_unavailable\"}\n"},
      {"recognition_error: a/b \"c\" \\d", "{\"error\":\"recognition_error: a\\/b \\\"c\\\" \\\\d\"}\n"},
      {"x\ny\tz\r\x01\x1f", "{\"error\":\"x\\ny\\tz\\r\\u0001\\u001f\"}\n"},
      {"caf\xc3\xa9 \xe6\xbc\xa2", "{\"error\":\"caf\xc3\xa9 \xe6\xbc\xa2\"}\n"},
      {"", "{\"error\":\"\"}\n"},
  };
  for (const auto& row : rows) {
    writeError(row.message);
    EXPECT_EQ(written(), row.line) << row.message;
  }
}

// Bytes that are not UTF-8 give U+FFFD in their place; the event is never dropped.
TEST_F(EventWriter, InvalidUtf8IsReplaced) {
  const std::string kReplacement = "\xef\xbf\xbd";
  const struct {
    std::string text, expected;
  } rows[] = {
      {"bad \xff\xfe bytes", "bad " + kReplacement + kReplacement + " bytes"},
      {"end \xc3", "end " + kReplacement},
      {"cut \xe6\xbc! ok", "cut " + kReplacement + "! ok"},
      {"\xe6\xbc\xa2 kept", "\xe6\xbc\xa2 kept"},
  };
  for (const auto& row : rows) {
    writeResult(row.text, true);
    const std::string line = written();
    ASSERT_FALSE(line.empty()) << "event dropped for " << row.text;
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(event.is_object()) << line;
    EXPECT_EQ(event, (nlohmann::json{{"text", row.expected}, {"isFinal", true}})) << line;
  }
}

}  // namespace
