// The factory side of the PocketSphinx seam: which locales get a recognizer, what
// it says about itself, and where the permission answer comes from.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "speech/speech_recognizer.h"

namespace {

TEST(PocketsphinxRecognizer, ExistsForEnUsAndIsAvailableOnDevice) {
  auto recognizer = speech::makeSpeechRecognizer("en-US");
  ASSERT_NE(recognizer, nullptr);
  EXPECT_TRUE(recognizer->isAvailable());
  EXPECT_TRUE(recognizer->supportsOnDeviceRecognition());
}

TEST(PocketsphinxRecognizer, ThereIsNoneForAnotherLocale) {
  for (const char* locale : {"fr-FR", "en-GB", "en_US", ""}) {
    EXPECT_EQ(speech::makeSpeechRecognizer(locale), nullptr) << "'" << locale << "'";
  }
}

TEST(PocketsphinxRecognizer, AuthorizationIsGrantedFromAnotherThread) {
  // Shared with the callback, which may still be returning when the test ends.
  auto answer = std::make_shared<std::promise<std::pair<int64_t, std::thread::id>>>();
  auto future = answer->get_future();
  speech::requestAuthorization([answer](int64_t status) {
    answer->set_value({status, std::this_thread::get_id()});
  });
  ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const auto [status, thread] = future.get();
  EXPECT_EQ(status, speech::kAuthorized);
  EXPECT_NE(thread, std::this_thread::get_id());
}

}  // namespace
