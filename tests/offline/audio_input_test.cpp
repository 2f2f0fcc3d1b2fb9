#include "audio_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

SampleList readFrom(const std::string& bytes) {
  std::FILE* in = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), in);
  std::rewind(in);
  SampleList samples = readSamples(fileno(in));
  std::fclose(in);
  return samples;
}

std::vector<int16_t> flatten(const SampleList& list) {
  std::vector<int16_t> all;
  for (const auto& block : list.blocks) all.insert(all.end(), block.begin(), block.end());
  return all;
}

TEST(ReadSamples, PairsBytesLittleEndianAndDropsAnOddLastByte) {
  EXPECT_EQ(readFrom("").count, 0u);
  EXPECT_EQ(readFrom("\x01").count, 0u);
  EXPECT_EQ(flatten(readFrom(std::string("\x00\x80\xFF\x7F\x34\x12\x99", 7))),
            (std::vector<int16_t>{-32768, 32767, 0x1234}));
}

TEST(ReadSamples, KeepsEverySampleAcrossReadsAndBlocks) {
  // More than one storage block, and not a multiple of the read size.
  const size_t count = (size_t{1} << 20) + 4097;
  std::string bytes;
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint16_t>(i * 7919u);
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>(v >> 8);
  }
  bytes += '\x55';
  const std::vector<int16_t> all = flatten(readFrom(bytes));
  ASSERT_EQ(all.size(), count);
  for (size_t i = 0; i < count; ++i) {
    ASSERT_EQ(static_cast<uint16_t>(all[i]), static_cast<uint16_t>(i * 7919u)) << i;
  }
}

TEST(ToFloatSamples, DividesBy32768Exactly) {
  SampleList list;
  list.blocks.push_back({-32768, 32767, 1, 256, -1, 0});
  list.blocks.push_back({});
  for (int i = 0; i < 70; ++i) list.blocks.back().push_back(static_cast<int16_t>(i - 35));
  list.count = 76;
  const std::vector<float> audio = toFloatSamples(list);
  ASSERT_EQ(audio.size(), 76u);
  EXPECT_EQ(audio[0], -1.0f);
  EXPECT_EQ(audio[1], 0.999969482421875f);
  EXPECT_EQ(audio[2], 0.000030517578125f);
  EXPECT_EQ(audio[3], 0.0078125f);
  EXPECT_EQ(audio[4], -0.000030517578125f);
  EXPECT_EQ(audio[5], 0.0f);
  for (int i = 0; i < 70; ++i) EXPECT_EQ(audio[6 + i], static_cast<float>(i - 35) / 32768.0f) << i;
}

}  // namespace
