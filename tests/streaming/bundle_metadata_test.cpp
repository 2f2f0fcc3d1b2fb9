// The bundle metadata that selvane carries in its section __info_plist, taken out
// of the built executable: with objcopy from the ELF section on Linux, from
// __TEXT,__info_plist of the Mach-O file on Apple.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "macho_section.h"

namespace {

#if defined(__APPLE__)
std::string extractSection(const std::string& executable, const std::string&) {
  return test_support::machoSection(test_support::readFile(executable), "__TEXT", "__info_plist")
      .value_or("");
}
#else
std::string extractSection(const std::string& executable, const std::string& out) {
  const std::string command = std::string("'") + OBJCOPY + "' -O binary --only-section=__info_plist '" +
                              executable + "' '" + out + "'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  std::ifstream in(out, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
#endif

// The dictionary's entries in order: key, then the value's element.
std::vector<std::pair<std::string, std::string>> entries(const std::string& plist) {
  std::vector<std::pair<std::string, std::string>> found;
  const std::regex entry(R"(<key>([^<]*)</key>\s*(<string>[^<]*</string>|<true/>|<false/>))");
  for (auto it = std::sregex_iterator(plist.begin(), plist.end(), entry); it != std::sregex_iterator();
       ++it) {
    found.emplace_back((*it)[1], (*it)[2]);
  }
  return found;
}

class BundleMetadata : public testing::TestWithParam<const char*> {};

TEST_P(BundleMetadata, PropertyListKeyForKey) {
  test_support::TempDir dir;
  const std::string plist = extractSection(GetParam(), dir.file("Info.plist"));
  ASSERT_FALSE(plist.empty()) << "no section __info_plist";

  EXPECT_EQ(plist.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << plist;
  EXPECT_NE(plist.find("<plist version=\"1.0\">\n<dict>"), std::string::npos) << plist;
  EXPECT_NE(plist.find("</dict>\n</plist>"), std::string::npos) << plist;
  const std::vector<std::pair<std::string, std::string>> expected{
      {"CFBundleIdentifier", "<string>app.orlessa.selvane</string>"},
      {"CFBundleName", "<string>selvane</string>"},
      {"CFBundleExecutable", "<string>selvane</string>"},
      {"CFBundleVersion", "<string>1.0</string>"},
      {"CFBundlePackageType", "<string>APPL</string>"},
      {"NSSpeechRecognitionUsageDescription",
       "<string>Orlessa uses speech recognition to transcribe dictated notes.</string>"},
      {"NSMicrophoneUsageDescription",
       "<string>Orlessa uses the microphone to capture dictated notes.</string>"},
      {"LSBackgroundOnly", "<true/>"},
      {"LSUIElement", "<true/>"},
  };
  EXPECT_EQ(entries(plist), expected);
}

INSTANTIATE_TEST_SUITE_P(Executables, BundleMetadata, testing::Values(SELVANE, SELVANE_SCRIPTED),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return info.index == 0 ? std::string("selvane") : std::string("selvane_scripted");
                         });

}  // namespace
