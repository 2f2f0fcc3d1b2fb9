#include "input_reader.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "event_writer.h"
#include "state.h"

namespace {

constexpr std::chrono::seconds kEndOfInputTimeout{5};

// A read may end in the middle of a sample. Its last byte is held back and becomes
// the low byte of the next chunk's first sample, so that no later sample shifts.
// A byte still held at the end of the input is dropped.
void joinHeldByte(std::vector<uint8_t>& chunk, std::optional<uint8_t>& held) {
  if (held) {
    chunk.insert(chunk.begin(), *held);
    held.reset();
  }
  if (chunk.size() % 2 != 0) {
    held = chunk.back();
    chunk.pop_back();
  }
}

void armEndOfInputTimeout() {
  auto timeout = std::make_shared<dispatch::WorkItem>(timeoutHandler);
  // Stored before it is scheduled, so the result handler can always cancel it.
  storeEofTimeout(timeout);
  dispatch::afterMain(dispatch::Clock::now() + kEndOfInputTimeout, timeout);
}

}  // namespace

std::unique_ptr<speech::PcmBuffer> pcmBufferFromInt16Data(const uint8_t* bytes, size_t size) {
  if (size < 2) return nullptr;
  const auto frames = static_cast<uint32_t>(size / 2);
  std::unique_ptr<speech::PcmBuffer> buffer = speech::PcmBuffer::make(audioFormat, frames);
  if (!buffer) return nullptr;
  buffer->setFrameLength(frames);
  float* const* channels = buffer->floatChannelData();
  if (channels == nullptr) return nullptr;
  float* samples = channels[0];
  for (uint32_t k = 0; k < frames; ++k) {
    const auto s = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8)));
    samples[k] = static_cast<float>(s) * (1.0f / 32768.0f);  // exact: a power of two
  }
  return buffer;
}

void inputReader() {
  std::optional<uint8_t> held;
  for (;;) {
    int error = 0;
    std::vector<uint8_t> chunk = inputHandle.availableData(&error);
    if (chunk.empty()) {
      // A failed read ends the input as its end does; only the diagnostic differs.
      if (error != 0) debug(std::string("Input read failed: ") + std::strerror(error));
      break;
    }
    joinHeldByte(chunk, held);
    if (auto buffer = pcmBufferFromInt16Data(chunk.data(), chunk.size())) {
      request.appendAudioPCMBuffer(*buffer);
    }
  }
  debug("Input EOF, ending audio");
  request.endAudio();
  armEndOfInputTimeout();
}

void timeoutHandler() {
  debug("Timeout waiting for final result");
  if (finalReceived) return;
  if (!lastPartialText.empty()) writeResult(lastPartialText, true);
  exitProcess(0);
}
