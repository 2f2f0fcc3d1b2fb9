#include "speech/audio_backlog.h"

#include <utility>

namespace speech {

bool AudioBacklog::append(std::vector<int16_t> samples) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
      return closed_ || ended_ || waitingSamples_ == 0 || waitingSamples_ + samples.size() <= limitSamples_;
    });
    if (closed_ || ended_) return false;
    waitingSamples_ += samples.size();
    blocks_.push_back(std::move(samples));
  }
  changed_.notify_all();
  return true;
}

void AudioBacklog::end() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

bool AudioBacklog::take(std::vector<int16_t>& samples, bool* drained) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || ended_ || !blocks_.empty(); });
    if (closed_ || blocks_.empty()) return false;
    samples = std::move(blocks_.front());
    blocks_.pop_front();
    waitingSamples_ -= samples.size();
    *drained = blocks_.empty();
  }
  // Both sides wait on the one condition: the appender for room, the taker for audio.
  changed_.notify_all();
  return true;
}

void AudioBacklog::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    blocks_.clear();
    waitingSamples_ = 0;
  }
  changed_.notify_all();
}

size_t AudioBacklog::waitingSamples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitingSamples_;
}

bool AudioBacklog::isClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace speech
