#include "speech/pcm_buffer.h"

#include <new>

namespace speech {

std::unique_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, uint32_t frameCapacity) {
  if (format.channelCount == 0) return nullptr;
  try {
    return std::unique_ptr<PcmBuffer>(new PcmBuffer(format, frameCapacity));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

PcmBuffer::PcmBuffer(const AudioFormat& format, uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity), channels_(format.channelCount) {
  for (auto& channel : channels_) {
    channel.resize(frameCapacity);
    channelPointers_.push_back(channel.data());
  }
}

void PcmBuffer::setFrameLength(uint32_t frameLength) {
  frameLength_ = frameLength < frameCapacity_ ? frameLength : frameCapacity_;
}

}  // namespace speech
