#include "speech/pcm_buffer.h"

#include <new>
#include <vector>

namespace speech {

struct PcmBuffer::Storage {
  std::vector<std::vector<float>> channels;
  std::vector<float*> channelPointers;
  uint32_t frameLength = 0;
};

std::unique_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, uint32_t frameCapacity) {
  if (format.channelCount == 0) return nullptr;
  try {
    auto storage = std::make_unique<Storage>();
    storage->channels.resize(format.channelCount);
    for (auto& channel : storage->channels) {
      channel.resize(frameCapacity);
      storage->channelPointers.push_back(channel.data());
    }
    return std::unique_ptr<PcmBuffer>(new PcmBuffer(format, frameCapacity, std::move(storage)));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

PcmBuffer::PcmBuffer(const AudioFormat& format, uint32_t frameCapacity, std::unique_ptr<Storage> storage)
    : format_(format), frameCapacity_(frameCapacity), storage_(std::move(storage)) {}

PcmBuffer::~PcmBuffer() = default;

uint32_t PcmBuffer::frameLength() const { return storage_->frameLength; }

void PcmBuffer::setFrameLength(uint32_t frameLength) {
  storage_->frameLength = frameLength < frameCapacity_ ? frameLength : frameCapacity_;
}

float* const* PcmBuffer::floatChannelData() {
  return storage_->channelPointers.empty() ? nullptr : storage_->channelPointers.data();
}

const float* const* PcmBuffer::floatChannelData() const {
  return storage_->channelPointers.empty() ? nullptr : storage_->channelPointers.data();
}

}  // namespace speech
