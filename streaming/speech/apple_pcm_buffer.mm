// PcmBuffer on Apple: a thin owner of an AVAudioPCMBuffer.
#include "speech/apple_pcm_buffer.h"

#include <mutex>

namespace speech {
namespace {

// The program uses one format for the whole run; the platform format is made once
// for it and shared by every buffer (AVAudioFormat is immutable). Buffers are made
// on the input queue only, but the lock keeps this safe from any thread.
AVAudioFormat* platformFormat(const AudioFormat& format) {
  static std::mutex mutex;
  static AudioFormat madeFor;
  static AVAudioFormat* made = nil;  // never released: the process ends with _Exit
  std::lock_guard<std::mutex> lock(mutex);
  if (made == nil || madeFor.sampleRate != format.sampleRate || madeFor.channelCount != format.channelCount ||
      madeFor.interleaved != format.interleaved) {
    made = [[AVAudioFormat alloc] initWithCommonFormat:AVAudioPCMFormatFloat32
                                            sampleRate:format.sampleRate
                                              channels:format.channelCount
                                           interleaved:format.interleaved ? YES : NO];
    madeFor = format;
  }
  return made;
}

}  // namespace

std::unique_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, uint32_t frameCapacity) {
  if (format.channelCount == 0) return nullptr;
  @autoreleasepool {
    AVAudioFormat* platform = platformFormat(format);
    if (platform == nil) return nullptr;
    auto storage = std::make_unique<Storage>();
    storage->buffer = [[AVAudioPCMBuffer alloc] initWithPCMFormat:platform frameCapacity:frameCapacity];
    if (storage->buffer == nil) return nullptr;
    return std::unique_ptr<PcmBuffer>(new PcmBuffer(format, frameCapacity, std::move(storage)));
  }
}

PcmBuffer::PcmBuffer(const AudioFormat& format, uint32_t frameCapacity, std::unique_ptr<Storage> storage)
    : format_(format), frameCapacity_(frameCapacity), storage_(std::move(storage)) {}

PcmBuffer::~PcmBuffer() = default;

uint32_t PcmBuffer::frameLength() const { return storage_->buffer.frameLength; }

void PcmBuffer::setFrameLength(uint32_t frameLength) {
  // The platform does not accept a length beyond the capacity.
  storage_->buffer.frameLength = frameLength < frameCapacity_ ? frameLength : frameCapacity_;
}

// Nil unless the buffer's format is 32-bit float, which is the only one made here.
float* const* PcmBuffer::floatChannelData() { return storage_->buffer.floatChannelData; }

const float* const* PcmBuffer::floatChannelData() const { return storage_->buffer.floatChannelData; }

}  // namespace speech
