// The backlog between the input queue and the decoder thread, driven by a taker
// that is slower than the appender, as a decoder behind a fast host is.
#include "speech/audio_backlog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using speech::AudioBacklog;
using namespace std::chrono_literals;

std::vector<int16_t> block(size_t size, int16_t first) {
  std::vector<int16_t> samples(size);
  std::iota(samples.begin(), samples.end(), first);
  return samples;
}

TEST(AudioBacklog, AppendWaitsWhileItWouldGoOverTheLimitAndGoesOnWhenTheTakerCatchesUp) {
  AudioBacklog backlog(1000);
  ASSERT_TRUE(backlog.append(block(600, 0)));
  ASSERT_TRUE(backlog.append(block(400, 600)));  // exactly the limit
  ASSERT_EQ(backlog.waitingSamples(), 1000u);

  std::atomic<bool> appended{false};
  auto third = std::async(std::launch::async, [&] {
    const bool ok = backlog.append(block(500, 1000));
    appended = true;
    return ok;
  });
  // However long the third append is given, it must not get through while 1000 wait.
  EXPECT_EQ(third.wait_for(200ms), std::future_status::timeout);
  EXPECT_FALSE(appended);
  EXPECT_EQ(backlog.waitingSamples(), 1000u);

  std::vector<int16_t> taken;
  bool drained = true;
  ASSERT_TRUE(backlog.take(taken, &drained));
  EXPECT_EQ(taken, block(600, 0));
  EXPECT_FALSE(drained);
  ASSERT_EQ(third.wait_for(10s), std::future_status::ready) << "the append did not go on";
  EXPECT_TRUE(third.get());
  EXPECT_EQ(backlog.waitingSamples(), 900u);
}

// A read larger than the whole limit cannot be split by the backlog: it goes in
// alone, once everything before it has been taken.
TEST(AudioBacklog, ABlockLargerThanTheLimitWaitsUntilNothingElseIsWaiting) {
  AudioBacklog backlog(1000);
  ASSERT_TRUE(backlog.append(block(10, 0)));
  auto large = std::async(std::launch::async, [&] { return backlog.append(block(3000, 10)); });
  EXPECT_EQ(large.wait_for(200ms), std::future_status::timeout);
  std::vector<int16_t> taken;
  bool drained = false;
  ASSERT_TRUE(backlog.take(taken, &drained));
  ASSERT_EQ(large.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(large.get());
  EXPECT_EQ(backlog.waitingSamples(), 3000u);
}

TEST(AudioBacklog, ASlowTakerGetsEverySampleInOrderAndTheBacklogStaysBounded) {
  const size_t limit = 4000;
  AudioBacklog backlog(limit);
  const size_t blocks = 200;
  std::atomic<size_t> mostWaiting{0};
  std::thread appender([&] {
    int16_t next = 0;
    for (size_t i = 0; i < blocks; ++i) {
      const size_t size = 1 + (i * 37) % 1600;  // uneven reads, up to 100 ms
      if (!backlog.append(block(size, next))) {
        ADD_FAILURE() << "append " << i << " refused";
        break;
      }
      next = static_cast<int16_t>(next + size);
      mostWaiting = std::max(mostWaiting.load(), backlog.waitingSamples());
    }
    backlog.end();
  });

  std::vector<int16_t> all;
  std::vector<int16_t> taken;
  bool drained = false;
  while (backlog.take(taken, &drained)) {
    all.insert(all.end(), taken.begin(), taken.end());
    std::this_thread::sleep_for(1ms);  // the decoder is the slow side
  }
  appender.join();

  size_t expected = 0;
  for (size_t i = 0; i < blocks; ++i) expected += 1 + (i * 37) % 1600;
  ASSERT_EQ(all.size(), expected);
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<int16_t>(i)) << "sample " << i;
  EXPECT_TRUE(drained);
  EXPECT_LE(mostWaiting.load(), limit);
  EXPECT_EQ(backlog.waitingSamples(), 0u);
}

TEST(AudioBacklog, TheEndIsSeenOnlyAfterEverythingWaitingHasBeenTaken) {
  AudioBacklog backlog(100);
  ASSERT_TRUE(backlog.append(block(500, 0)));
  backlog.end();
  EXPECT_FALSE(backlog.append(block(10, 0))) << "audio after the end";
  std::vector<int16_t> taken;
  bool drained = false;
  ASSERT_TRUE(backlog.take(taken, &drained));
  EXPECT_EQ(taken.size(), 500u);
  EXPECT_TRUE(drained);
  EXPECT_FALSE(backlog.take(taken, &drained));
  EXPECT_FALSE(backlog.isClosed());
}

// A decoder that fails closes the backlog: the input queue must not wait for it
// for ever, and the audio waiting is dropped.
TEST(AudioBacklog, ClosingReleasesAWaitingAppendAndDropsTheAudio) {
  AudioBacklog backlog(100);
  ASSERT_TRUE(backlog.append(block(500, 0)));
  auto waiting = std::async(std::launch::async, [&] { return backlog.append(block(500, 500)); });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  backlog.close();
  ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_EQ(backlog.waitingSamples(), 0u);
  EXPECT_FALSE(backlog.append(block(500, 0)));
  std::vector<int16_t> taken;
  bool drained = false;
  EXPECT_FALSE(backlog.take(taken, &drained));
  EXPECT_TRUE(backlog.isClosed());
}

// The decoder thread waits in take() while the host is slow; closing (the
// recognizer's destructor) must wake it.
TEST(AudioBacklog, ClosingWakesAWaitingTaker) {
  AudioBacklog backlog(100);
  auto taker = std::async(std::launch::async, [&] {
    std::vector<int16_t> taken;
    bool drained = false;
    return backlog.take(taken, &drained);
  });
  EXPECT_EQ(taker.wait_for(100ms), std::future_status::timeout);
  backlog.close();
  ASSERT_EQ(taker.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(taker.get());
}

}  // namespace
