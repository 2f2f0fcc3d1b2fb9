// One section of a 64-bit Mach-O file (Apple's executable and object format),
// read from its load commands: how the tests look at what the linker put into
// selvane on Apple, where no objcopy exists.
#pragma once

#include <optional>
#include <string>

namespace test_support {

// The bytes of section segment,section of the little-endian 64-bit Mach-O file
// held in fileBytes; nullopt when fileBytes is no such file, is cut short, or
// has no such section.
std::optional<std::string> machoSection(const std::string& fileBytes, const std::string& segment,
                                        const std::string& section);

}  // namespace test_support
