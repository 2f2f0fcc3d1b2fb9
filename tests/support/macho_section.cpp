#include "macho_section.h"

#include <cstdint>
#include <cstring>

namespace test_support {
namespace {

constexpr uint32_t kMagic64 = 0xfeedfacf;
constexpr uint32_t kSegment64 = 0x19;  // LC_SEGMENT_64
constexpr size_t kHeaderSize = 32;     // mach_header_64
constexpr size_t kSegmentSize = 72;    // segment_command_64, its sections follow
constexpr size_t kSectionSize = 80;    // section_64

// Little-endian reads that fail instead of reading past the end.
bool u32At(const std::string& bytes, size_t at, uint32_t* value) {
  if (at > bytes.size() || bytes.size() - at < 4) return false;
  *value = 0;
  for (int i = 3; i >= 0; --i) *value = (*value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return true;
}

bool u64At(const std::string& bytes, size_t at, uint64_t* value) {
  uint32_t low = 0, high = 0;
  if (!u32At(bytes, at, &low) || !u32At(bytes, at + 4, &high)) return false;
  *value = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

// A name field of 16 bytes, NUL-padded (not terminated when it fills the field).
std::string nameAt(const std::string& bytes, size_t at) {
  const std::string field = bytes.substr(at, 16);
  return field.substr(0, field.find('\0'));
}

}  // namespace

std::optional<std::string> machoSection(const std::string& fileBytes, const std::string& segment,
                                        const std::string& section) {
  uint32_t magic = 0, commands = 0;
  if (!u32At(fileBytes, 0, &magic) || magic != kMagic64 || !u32At(fileBytes, 16, &commands))
    return std::nullopt;
  size_t command = kHeaderSize;
  for (uint32_t c = 0; c < commands; ++c) {
    uint32_t kind = 0, size = 0;
    if (!u32At(fileBytes, command, &kind) || !u32At(fileBytes, command + 4, &size) || size < 8 ||
        size > fileBytes.size() - command) {
      return std::nullopt;
    }
    uint32_t sections = 0;
    if (kind == kSegment64 && u32At(fileBytes, command + 64, &sections)) {
      for (uint32_t s = 0; s < sections; ++s) {
        const size_t header = command + kSegmentSize + s * kSectionSize;
        uint64_t length = 0;
        uint32_t offset = 0;
        if (header + kSectionSize > command + size || !u64At(fileBytes, header + 40, &length) ||
            !u32At(fileBytes, header + 48, &offset)) {
          return std::nullopt;
        }
        // Sections of an object file carry their segment's name themselves.
        if (nameAt(fileBytes, header) != section || nameAt(fileBytes, header + 16) != segment) continue;
        if (offset > fileBytes.size() || length > fileBytes.size() - offset) return std::nullopt;
        return fileBytes.substr(offset, length);
      }
    }
    command += size;
  }
  return std::nullopt;
}

}  // namespace test_support
