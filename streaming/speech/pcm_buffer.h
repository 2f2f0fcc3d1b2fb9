// The audio buffers handed to the speech recognizer: 32-bit float samples,
// non-interleaved, with a frame capacity and a frame length.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace speech {

// Only the common format 32-bit float exists here; the fields are those the
// program fixes at start-up (16 000 Hz, one channel, not interleaved).
struct AudioFormat {
  double sampleRate = 16000.0;
  uint32_t channelCount = 1;
  bool interleaved = false;
};

class PcmBuffer {
 public:
  // Returns nullptr when the buffer cannot be created (no channels, or no memory).
  static std::unique_ptr<PcmBuffer> make(const AudioFormat& format, uint32_t frameCapacity);

  const AudioFormat& format() const { return format_; }
  uint32_t frameCapacity() const { return frameCapacity_; }
  uint32_t frameLength() const { return frameLength_; }
  // Lengths beyond the capacity are clamped to it.
  void setFrameLength(uint32_t frameLength);
  // One array per channel, each of frameCapacity() floats; nullptr when there are none.
  float* const* floatChannelData() { return channelPointers_.empty() ? nullptr : channelPointers_.data(); }
  const float* const* floatChannelData() const {
    return channelPointers_.empty() ? nullptr : channelPointers_.data();
  }

 private:
  PcmBuffer(const AudioFormat& format, uint32_t frameCapacity);
  AudioFormat format_;
  uint32_t frameCapacity_;
  uint32_t frameLength_ = 0;
  std::vector<std::vector<float>> channels_;
  std::vector<float*> channelPointers_;
};

}  // namespace speech
