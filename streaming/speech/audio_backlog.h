// Audio handed to a recognizer and not yet decoded. The side that appends waits
// while more than a limit is waiting, so a producer faster than the decoder is held
// back (and, through the input channel, the host's writes with it) instead of the
// audio piling up in memory or being cut off by the end-of-input timeout.
//
// Thread safety: one thread appends and ends the audio, one other thread takes it;
// close() may come from either, and waitingSamples() from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace speech {

class AudioBacklog {
 public:
  explicit AudioBacklog(size_t limitSamples) : limitSamples_(limitSamples) {}

  // Waits while the samples would take the audio waiting over the limit, then adds
  // them; a block larger than the limit waits until nothing else is waiting. Returns
  // false, dropping the samples, once the backlog is closed or ended.
  bool append(std::vector<int16_t> samples);
  // No audio follows.
  void end();
  // Waits until audio is waiting or the audio has ended, and takes the oldest
  // block; *drained tells whether nothing is left waiting behind it. Returns false
  // when the audio has ended and everything has been taken, or once closed.
  bool take(std::vector<int16_t>& samples, bool* drained);
  // The taker stops: the waiting audio is dropped, a waiting append returns false,
  // and later ones do not wait.
  void close();

  size_t waitingSamples() const;
  bool isClosed() const;

 private:
  const size_t limitSamples_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<int16_t>> blocks_;
  size_t waitingSamples_ = 0;
  bool ended_ = false;
  bool closed_ = false;
};

}  // namespace speech
