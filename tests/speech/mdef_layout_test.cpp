// The size check of the binary mdef, on the installed model's own file cut at
// each of its parts.
#include "speech/mdef_layout.h"

#include <gtest/gtest.h>

#include <string>

#include "files.h"

namespace {

using test_support::readFile;
using test_support::writeFile;

TEST(MdefLayout, AFileCutShortAnywhereIsRefusedAndTheWholeOneIsNot) {
  const std::string whole = readFile(POCKETSPHINX_MODELDIR "/en-us/en-us/mdef");
  ASSERT_GT(whole.size(), 100000u);
  struct Case {
    const char* what;
    size_t keep;  // bytes kept from the start
    const char* problemStart;  // empty: no problem
  };
  const Case cases[] = {
      {"whole", whole.size(), ""},
      {"inside the version", 6, "mdef ends inside its header"},
      {"inside the header text", 500, "mdef ends inside its header"},
      {"inside the counts", 1080, "mdef ends inside its header"},
      {"inside the phone names", 1150, "mdef ends inside its phone names"},
      {"half", whole.size() / 2, "mdef is cut short: its header declares "},
      {"the last senone sequence", whole.size() - 8, "mdef is cut short: its header declares "},
  };
  test_support::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir.file("mdef"), whole.substr(0, c.keep));
    const std::string problem = speech::binaryMdefProblem(dir.file("mdef"));
    if (*c.problemStart == '\0') {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_EQ(problem.rfind(c.problemStart, 0), 0u) << problem;
    }
  }
}

// Not the binary form: the library's text parser reports its own faults.
TEST(MdefLayout, OtherFormsAreLeftToTheLibrary) {
  test_support::TempDir dir;
  for (const std::string& content : {std::string(), std::string("0.3\n42 n_base\n"), std::string("BMD")}) {
    writeFile(dir.file("mdef"), content);
    EXPECT_EQ(speech::binaryMdefProblem(dir.file("mdef")), "") << content;
  }
  EXPECT_EQ(speech::binaryMdefProblem(dir.file("missing")), "");
}

}  // namespace
