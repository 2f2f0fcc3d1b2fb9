#pragma once
// The recording on standard input: raw signed 16-bit little-endian mono PCM.
#include <cstddef>
#include <cstdint>
#include <vector>

// Kept in fixed-size blocks so that growing it never copies the recording and
// never holds much more than 2 bytes per sample.
struct SampleList {
  std::vector<std::vector<int16_t>> blocks;
  size_t count = 0;
};

// Reads the descriptor to its end (or to a read error, which ends it the same
// way) in full reads of 8192 bytes, so a producer's odd-sized writes still pair
// correctly; only an odd last byte of the stream is dropped. A non-blocking
// descriptor waits for its data like a blocking one.
SampleList readSamples(int fd);

// One float per sample, s / 32768, exactly.
std::vector<float> toFloatSamples(const SampleList& samples);
