// The Mach-O section reader with which the bundle metadata test reads selvane on
// Apple, checked here on a Mach-O object that clang assembles for arm64 Apple.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "files.h"
#include "macho_section.h"

namespace {

using test_support::machoSection;
using test_support::readFile;

TEST(MachoSection, FindsASectionByItsSegmentAndItsName) {
  const std::string object = readFile(MACHO_OBJECT);
  const std::string plist = readFile(INFO_PLIST);
  ASSERT_FALSE(plist.empty());
  const struct {
    const char* segment;
    const char* section;
    std::optional<std::string> expected;
  } cases[] = {
      {"__TEXT", "__info_plist", plist},
      {"__DATA", "__info_plist", std::string("decoy")},
      {"__TEXT", "__info_plis", std::nullopt},
      {"__TEXT", "__text", std::string()},  // the assembler's empty code section
      {"__LINKEDIT", "__info_plist", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(machoSection(object, c.segment, c.section), c.expected) << c.segment << "," << c.section;
  }
}

TEST(MachoSection, RefusesWhatIsNoWholeMachOFile) {
  const std::string object = readFile(MACHO_OBJECT);
  const size_t plistStart = object.find("<?xml");
  ASSERT_NE(plistStart, std::string::npos);
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"header cut short", object.substr(0, 20)},
      {"load commands cut short", object.substr(0, 100)},
      {"section bytes cut short", object.substr(0, plistStart + 10)},
      {"not Mach-O", readFile(INFO_PLIST)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(machoSection(c.bytes, "__TEXT", "__info_plist"), std::nullopt) << c.what;
}

}  // namespace
