// The audio buffers handed to the speech recognizer: 32-bit float samples,
// non-interleaved, with a frame capacity and a frame length.
#pragma once

#include <cstdint>
#include <memory>

namespace speech {

// Only the common format 32-bit float exists here; the fields are those the
// program fixes at start-up (16 000 Hz, one channel, not interleaved).
struct AudioFormat {
  double sampleRate = 16000.0;
  uint32_t channelCount = 1;
  bool interleaved = false;
};

// The samples live in the platform's own buffer where there is one (an
// AVAudioPCMBuffer on Apple), so the recognizer takes them without a copy.
class PcmBuffer {
 public:
  // Returns nullptr when the buffer cannot be created (no channels, or no memory).
  static std::unique_ptr<PcmBuffer> make(const AudioFormat& format, uint32_t frameCapacity);
  ~PcmBuffer();
  PcmBuffer(const PcmBuffer&) = delete;
  PcmBuffer& operator=(const PcmBuffer&) = delete;

  const AudioFormat& format() const { return format_; }
  uint32_t frameCapacity() const { return frameCapacity_; }
  uint32_t frameLength() const;
  // Lengths beyond the capacity are clamped to it.
  void setFrameLength(uint32_t frameLength);
  // One array per channel, each of frameCapacity() floats; nullptr when there are none.
  float* const* floatChannelData();
  const float* const* floatChannelData() const;

  // The implementation's storage; only the recognizer of the same platform looks inside.
  struct Storage;
  const Storage& storage() const { return *storage_; }

 private:
  PcmBuffer(const AudioFormat& format, uint32_t frameCapacity, std::unique_ptr<Storage> storage);
  AudioFormat format_;
  uint32_t frameCapacity_;
  std::unique_ptr<Storage> storage_;
};

}  // namespace speech
