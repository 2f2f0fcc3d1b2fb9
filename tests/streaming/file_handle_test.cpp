// read(2), write(2) and poll(2) are wrapped at link time (-Wl,--wrap=...), so a
// test can script faults for one descriptor and see what was waited for; every
// other call goes straight through.
#include "file_handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

extern "C" ssize_t __real_read(int fd, void* buffer, size_t size);
extern "C" ssize_t __real_write(int fd, const void* buffer, size_t size);
extern "C" int __real_poll(pollfd* fds, nfds_t count, int timeout);

namespace {

// One scripted call: fail with `error`, or pass through with at most `limit` bytes.
struct Fault {
  int error;
  size_t limit;
};
Fault fails(int error) { return {error, 0}; }
Fault shortBy(size_t limit) { return {0, limit}; }

struct FaultPlan {
  int fd = -1;
  std::deque<Fault> faults;
  int calls = 0;
  std::vector<short> events;  // poll only: what each call waited for
};

// Armed and read by the test thread only, while no other thread uses the descriptor.
FaultPlan readPlan;
FaultPlan writePlan;
FaultPlan pollPlan;

template <typename Call>
ssize_t scripted(FaultPlan& plan, size_t size, Call call) {
  ++plan.calls;
  if (plan.faults.empty()) return call(size);
  Fault fault = plan.faults.front();
  plan.faults.pop_front();
  if (fault.error != 0) {
    errno = fault.error;
    return -1;
  }
  return call(std::min(size, fault.limit));
}

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t size) {
  if (fd != readPlan.fd) return __real_read(fd, buffer, size);
  return scripted(readPlan, size, [&](size_t n) { return __real_read(fd, buffer, n); });
}

extern "C" ssize_t __wrap_write(int fd, const void* buffer, size_t size) {
  if (fd != writePlan.fd) return __real_write(fd, buffer, size);
  return scripted(writePlan, size, [&](size_t n) { return __real_write(fd, buffer, n); });
}

extern "C" int __wrap_poll(pollfd* fds, nfds_t count, int timeout) {
  if (count != 1 || fds[0].fd != pollPlan.fd) return __real_poll(fds, count, timeout);
  pollPlan.events.push_back(fds[0].events);
  return static_cast<int>(scripted(pollPlan, 1, [&](size_t) { return __real_poll(fds, count, timeout); }));
}

namespace {

std::string text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class FileHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    std::string pattern = "/tmp/file_handle_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    readPlan = FaultPlan{};
    writePlan = FaultPlan{};
    pollPlan = FaultPlan{};
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
    std::string command = "rm -rf '" + directory_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  int readEnd() const { return fds_[0]; }
  int writeEnd() const { return fds_[1]; }
  void closeWriteEnd() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  // Everything that is in the pipe now, without going through the handle.
  std::string drainPipe() {
    closeWriteEnd();
    std::string all;
    char buffer[256];
    ssize_t n;
    while ((n = __real_read(readEnd(), buffer, sizeof buffer)) > 0) all.append(buffer, n);
    return all;
  }
  std::string path(const std::string& name) const { return directory_ + "/" + name; }

 private:
  int fds_[2] = {-1, -1};
  std::string directory_;
};

TEST_F(FileHandleTest, ReadRetriesInterruptedCalls) {
  ASSERT_EQ(write(writeEnd(), "hello", 5), 5);
  readPlan.fd = readEnd();
  readPlan.faults = {fails(EINTR), fails(EINTR)};
  int error = -1;
  EXPECT_EQ(text(FileHandle(readEnd()).availableData(&error)), "hello");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(readPlan.calls, 3);
}

TEST_F(FileHandleTest, ReadFailureGivesNoBytesAndTheErrno) {
  readPlan.fd = readEnd();
  readPlan.faults = {fails(EIO)};
  ASSERT_EQ(write(writeEnd(), "kept", 4), 4);
  int error = 0;
  EXPECT_TRUE(FileHandle(readEnd()).availableData(&error).empty());
  EXPECT_EQ(error, EIO);
  EXPECT_EQ(readPlan.calls, 1);  // not retried

  error = 0;
  EXPECT_TRUE(FileHandle(-1).availableData(&error).empty());
  EXPECT_EQ(error, EBADF);

  auto directory = FileHandle::forReadingAtPath(path(""), &error);
  ASSERT_TRUE(directory.has_value());
  EXPECT_TRUE(directory->availableData(&error).empty());
  EXPECT_EQ(error, EISDIR);
  close(directory->fileDescriptor());
}

TEST_F(FileHandleTest, EndOfInputGivesNoBytesAndNoError) {
  closeWriteEnd();
  int error = 12345;
  EXPECT_TRUE(FileHandle(readEnd()).availableData(&error).empty());
  EXPECT_EQ(error, 0);
}

TEST_F(FileHandleTest, ReadsAtMostOneBufferAtATime) {
  std::string name = path("large");
  std::string content(100 * 1024, 'x');
  content[65535] = 'y';
  content[65536] = 'z';
  int fd = open(name.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);

  int error = -1;
  auto file = FileHandle::forReadingAtPath(name, &error);
  ASSERT_TRUE(file.has_value());
  std::string first = text(file->availableData(&error));
  std::string second = text(file->availableData(&error));
  EXPECT_EQ(first.size(), 64u * 1024);
  EXPECT_EQ(first + second, content);
  EXPECT_TRUE(file->availableData(&error).empty());
  EXPECT_EQ(error, 0);
  close(file->fileDescriptor());
}

TEST_F(FileHandleTest, WriteAllGetsEveryByteOutThroughFaults) {
  struct Case {
    const char* name;
    std::deque<Fault> faults;
    int calls;
  };
  const Case cases[] = {
      {"interrupted, then whole", {fails(EINTR)}, 2},
      {"short writes", {shortBy(1), shortBy(3), shortBy(2)}, 4},
      {"interrupted between short writes", {shortBy(4), fails(EINTR), shortBy(1), fails(EINTR)}, 5},
  };
  const std::string payload = "abcdefghij";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    writePlan = FaultPlan{fds[1], c.faults, 0, {}};
    EXPECT_TRUE(FileHandle(fds[1]).writeAll(payload.data(), payload.size()));
    EXPECT_EQ(writePlan.calls, c.calls);
    writePlan = FaultPlan{};
    close(fds[1]);
    char buffer[64];
    ssize_t n = __real_read(fds[0], buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), payload);
    close(fds[0]);
  }
}

TEST_F(FileHandleTest, WriteFailureStopsAndKeepsWhatWasWritten) {
  writePlan.fd = writeEnd();
  writePlan.faults = {shortBy(3), fails(EIO)};
  EXPECT_FALSE(FileHandle(writeEnd()).writeAll("abcdef", 6));
  EXPECT_EQ(writePlan.calls, 2);
  EXPECT_EQ(drainPipe(), "abc");

  errno = 0;
  EXPECT_FALSE(FileHandle(readEnd()).writeAll("x", 1));
  EXPECT_EQ(errno, EBADF);
}

// A non-blocking channel that has nothing yet is a wait, not the end: the read
// waits in poll for POLLIN and reads again.
TEST_F(FileHandleTest, ReadWaitsWhenTheChannelHasNothingYet) {
  struct Case {
    const char* name;
    std::deque<Fault> reads;
    std::deque<Fault> polls;
    bool writerClosed;  // otherwise "hello" is in the pipe
    std::string bytes;
    int error;
    int readCalls;
    int pollCalls;
  };
  const Case cases[] = {
      {"EAGAIN, then data", {fails(EAGAIN)}, {}, false, "hello", 0, 2, 1},
      {"EWOULDBLOCK, EINTR, EAGAIN, then data", {fails(EWOULDBLOCK), fails(EINTR), fails(EAGAIN)}, {}, false,
       "hello", 0, 4, 2},
      {"EAGAIN, the wait interrupted, then data", {fails(EAGAIN)}, {fails(EINTR)}, false, "hello", 0, 2, 2},
      {"EAGAIN, then the end", {fails(EAGAIN)}, {}, true, "", 0, 2, 1},
      {"EAGAIN, then a failure", {fails(EAGAIN), fails(EIO)}, {}, false, "", EIO, 2, 1},
      {"EAGAIN, and the wait fails", {fails(EAGAIN)}, {fails(ENOMEM)}, false, "", ENOMEM, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    if (c.writerClosed) {
      close(fds[1]);
    } else {
      ASSERT_EQ(__real_write(fds[1], "hello", 5), 5);
    }
    readPlan = FaultPlan{fds[0], c.reads, 0, {}};
    pollPlan = FaultPlan{fds[0], c.polls, 0, {}};
    int error = -1;
    EXPECT_EQ(text(FileHandle(fds[0]).availableData(&error)), c.bytes);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(readPlan.calls, c.readCalls);
    EXPECT_EQ(pollPlan.calls, c.pollCalls);
    EXPECT_EQ(pollPlan.events, std::vector<short>(static_cast<size_t>(c.pollCalls), POLLIN));
    readPlan = FaultPlan{};
    pollPlan = FaultPlan{};
    close(fds[0]);
    if (!c.writerClosed) close(fds[1]);
  }
}

// A channel that takes part of the bytes, then nothing for now: the write waits
// in poll for POLLOUT and writes the rest, in order, until the reader is gone.
TEST_F(FileHandleTest, WriteWaitsForRoomAndWritesTheRest) {
  struct Case {
    const char* name;
    std::deque<Fault> writes;
    std::deque<Fault> polls;
    bool whole;
    std::string arrived;
    int writeCalls;
    int pollCalls;
  };
  const std::string payload = "abcdefghij";
  const Case cases[] = {
      {"short write, EAGAIN, then the rest", {shortBy(3), fails(EAGAIN)}, {}, true, payload, 3, 1},
      {"EAGAIN, EINTR, short write, EWOULDBLOCK, then the rest",
       {fails(EAGAIN), fails(EINTR), shortBy(2), fails(EWOULDBLOCK)}, {}, true, payload, 5, 2},
      {"EAGAIN, the wait interrupted, then the rest", {fails(EAGAIN)}, {fails(EINTR)}, true, payload, 2, 2},
      {"short write, EAGAIN, then the reader is gone", {shortBy(3), fails(EAGAIN), fails(EPIPE)}, {}, false,
       "abc", 3, 1},
      {"short write, EAGAIN, and the wait fails", {shortBy(4), fails(EAGAIN)}, {fails(ENOMEM)}, false, "abcd", 2,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    writePlan = FaultPlan{fds[1], c.writes, 0, {}};
    pollPlan = FaultPlan{fds[1], c.polls, 0, {}};
    EXPECT_EQ(FileHandle(fds[1]).writeAll(payload.data(), payload.size()), c.whole);
    EXPECT_EQ(writePlan.calls, c.writeCalls);
    EXPECT_EQ(pollPlan.calls, c.pollCalls);
    EXPECT_EQ(pollPlan.events, std::vector<short>(static_cast<size_t>(c.pollCalls), POLLOUT));
    writePlan = FaultPlan{};
    pollPlan = FaultPlan{};
    close(fds[1]);
    char buffer[64];
    const ssize_t n = __real_read(fds[0], buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), c.arrived);
    close(fds[0]);
  }
}

void setNonBlocking(int fd) { ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0); }

// The same on a real non-blocking pipe whose writer comes late: the reads wait
// in poll, they do not spin.
TEST_F(FileHandleTest, ReadOfANonBlockingPipeWaitsForALateWriter) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  setNonBlocking(fds[0]);
  readPlan.fd = fds[0];
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(__real_write(fds[1], "late", 4), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close(fds[1]);
  });
  const FileHandle input(fds[0]);
  int error = -1;
  EXPECT_EQ(text(input.availableData(&error)), "late");
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(input.availableData(&error).empty());
  EXPECT_EQ(error, 0);
  writer.join();
  // Each wait is one EAGAIN and one poll; a loop that spins would read thousands of times.
  EXPECT_LE(readPlan.calls, 4);
  close(fds[0]);
}

// A non-blocking pipe of the smallest size, whose reader pauses and then takes
// little at a time: every byte arrives, in order.
TEST_F(FileHandleTest, WriteToASmallNonBlockingPipeGetsEveryByteToAPausingReader) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int capacity = fcntl(fds[1], F_SETPIPE_SZ, 1);  // rounded up to one page
  ASSERT_GT(capacity, 0);
  setNonBlocking(fds[1]);
  std::string payload(static_cast<size_t>(capacity) * 16 + 3, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 23);
  std::string arrived;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    char buffer[1000];
    ssize_t n;
    while ((n = __real_read(fds[0], buffer, sizeof buffer)) > 0) arrived.append(buffer, static_cast<size_t>(n));
  });
  pollPlan.fd = fds[1];
  EXPECT_TRUE(FileHandle(fds[1]).writeAll(payload.data(), payload.size()));
  EXPECT_GE(pollPlan.calls, 1) << "the pipe never filled";
  pollPlan = FaultPlan{};
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(arrived.size(), payload.size());
  EXPECT_TRUE(arrived == payload);
}

TEST_F(FileHandleTest, OpeningAMissingPathFailsWithoutCreatingIt) {
  using Opener = std::optional<FileHandle> (*)(const std::string&, int*);
  const std::pair<const char*, Opener> openers[] = {
      {"reading", &FileHandle::forReadingAtPath},
      {"writing", &FileHandle::forWritingAtPath},
  };
  for (const auto& [name, open] : openers) {
    SCOPED_TRACE(name);
    std::string missing = path("missing");
    int error = 0;
    EXPECT_FALSE(open(missing, &error).has_value());
    EXPECT_EQ(error, ENOENT);
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
  }
}

TEST_F(FileHandleTest, OpenedDescriptorsCloseOnExec) {
  std::string name = path("file");
  int fd = open(name.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  int error = -1;
  for (auto handle :
       {FileHandle::forReadingAtPath(name, &error), FileHandle::forWritingAtPath(name, &error)}) {
    ASSERT_TRUE(handle.has_value());
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(fcntl(handle->fileDescriptor(), F_GETFD) & FD_CLOEXEC);
    close(handle->fileDescriptor());
  }
}

TEST_F(FileHandleTest, NamedPipeOpenedForWritingWaitsForItsReader) {
  std::string fifo = path("events");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> opened{false};
  std::atomic<bool> written{false};
  std::thread writer([&] {
    int error = -1;
    auto output = FileHandle::forWritingAtPath(fifo, &error);
    opened = true;
    if (!output) return;
    written = output->writeAll("ping\n", 5);
    close(output->fileDescriptor());
  });
  // Only fails when open returns without a reader; a slow machine can only hide that.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(opened);

  int error = -1;
  auto input = FileHandle::forReadingAtPath(fifo, &error);
  ASSERT_TRUE(input.has_value());
  EXPECT_EQ(text(input->availableData(&error)), "ping\n");
  writer.join();
  EXPECT_TRUE(opened);
  EXPECT_TRUE(written);
  EXPECT_TRUE(input->availableData(&error).empty());
  EXPECT_EQ(error, 0);
  close(input->fileDescriptor());
}

}  // namespace
