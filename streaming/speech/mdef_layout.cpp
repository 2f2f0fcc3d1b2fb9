#include "speech/mdef_layout.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace speech {

namespace {

// The layout the file describes in its own header text:
//   "BMDF", int32 version (1, or byte-swapped), int32 length of the text, the text,
//   int32 n_ciphone, n_phone, n_emit_state, n_ci_sen, n_sen, n_tmat, n_sseq,
//   n_ctx, n_cd_tree, sil; the phone names, each ended by a zero byte, padded to
//   a multiple of 4 bytes; cd_tree[n_cd_tree] of 8 bytes; phones[n_phone] of 12
//   bytes; sseq[n_sseq][n_emit_state] of int16.
constexpr char kMagic[4] = {'B', 'M', 'D', 'F'};
constexpr int kCounts = 10;
enum Count { kCiPhones = 0, kPhones = 1, kEmitStates = 2, kSenoneSequences = 6, kTreeNodes = 8 };
constexpr uint64_t kTreeNodeBytes = 8;
constexpr uint64_t kPhoneBytes = 12;
constexpr uint64_t kSenoneIdBytes = 2;

uint32_t swapped(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

}  // namespace

std::string binaryMdefProblem(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};  // missing or unreadable: the library says so itself
  file.seekg(0, std::ios::end);
  const uint64_t size = static_cast<uint64_t>(file.tellg());
  file.seekg(0);

  char magic[4] = {};
  uint32_t version = 0, textLength = 0;
  if (!file.read(magic, 4) || std::memcmp(magic, kMagic, 4) != 0) return {};
  if (!file.read(reinterpret_cast<char*>(&version), 4) || !file.read(reinterpret_cast<char*>(&textLength), 4))
    return "mdef ends inside its header";
  const bool swap = version != 1 && swapped(version) == 1;
  if (swap) textLength = swapped(textLength);
  uint64_t offset = 12 + uint64_t{textLength};
  if (offset + kCounts * 4 > size) return "mdef ends inside its header";

  file.seekg(static_cast<std::streamoff>(offset));
  int32_t counts[kCounts];
  file.read(reinterpret_cast<char*>(counts), sizeof counts);
  offset += sizeof counts;
  for (int32_t& count : counts) {
    if (swap) count = static_cast<int32_t>(swapped(static_cast<uint32_t>(count)));
  }
  for (int i : {kCiPhones, kPhones, kEmitStates, kSenoneSequences, kTreeNodes}) {
    if (counts[i] < 0) return "mdef declares a negative count";
  }

  // The phone names: n_ciphone zero-ended strings, then padding to 4 bytes.
  for (int32_t name = 0; name < counts[kCiPhones]; ++name) {
    file.ignore(static_cast<std::streamsize>(size - offset), '\0');
    if (!file || file.eof() || file.gcount() == 0) return "mdef ends inside its phone names";
    offset += static_cast<uint64_t>(file.gcount());
  }
  offset = (offset + 3) & ~uint64_t{3};

  // Each count is below 2^31, so the sum cannot overflow 64 bits.
  const uint64_t needed = offset + uint64_t(counts[kTreeNodes]) * kTreeNodeBytes +
                          uint64_t(counts[kPhones]) * kPhoneBytes +
                          uint64_t(counts[kSenoneSequences]) * uint64_t(counts[kEmitStates]) * kSenoneIdBytes;
  if (needed > size) {
    return "mdef is cut short: its header declares " + std::to_string(needed) + " bytes, the file has " +
           std::to_string(size);
  }
  return {};
}

}  // namespace speech
