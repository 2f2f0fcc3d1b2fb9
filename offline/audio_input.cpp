#include "audio_input.h"

#include "descriptor_io.h"

namespace {

constexpr size_t kReadBytes = 8192;
constexpr size_t kBlockSamples = size_t{1} << 20;
constexpr size_t kConvertStep = 32;

void append(SampleList& list, const unsigned char* bytes, size_t sampleCount) {
  for (size_t i = 0; i < sampleCount; ++i) {
    if (list.blocks.empty() || list.blocks.back().size() == kBlockSamples) {
      list.blocks.emplace_back();
      list.blocks.back().reserve(kBlockSamples);
    }
    const auto value = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    list.blocks.back().push_back(static_cast<int16_t>(value));
  }
  list.count += sampleCount;
}

void convertBlock(const int16_t* in, size_t n, float* out) {
  constexpr float kScale = 1.0f / 32768.0f;  // a power of two: the product is exact
  size_t i = 0;
  for (; i + kConvertStep <= n; i += kConvertStep) {
    for (size_t k = 0; k < kConvertStep; ++k) out[i + k] = static_cast<float>(in[i + k]) * kScale;
  }
  for (; i < n; ++i) out[i] = static_cast<float>(in[i]) * kScale;
}

}  // namespace

SampleList readSamples(int fd) {
  SampleList list;
  std::vector<unsigned char> buffer(kReadBytes);
  for (;;) {
    const size_t n = readFull(fd, buffer.data(), kReadBytes);
    append(list, buffer.data(), n / 2);
    if (n < kReadBytes) break;  // only the end of the input reads short
  }
  return list;
}

std::vector<float> toFloatSamples(const SampleList& samples) {
  std::vector<float> audio(samples.count);
  size_t offset = 0;
  for (const auto& block : samples.blocks) {
    convertBlock(block.data(), block.size(), audio.data() + offset);
    offset += block.size();
  }
  return audio;
}
