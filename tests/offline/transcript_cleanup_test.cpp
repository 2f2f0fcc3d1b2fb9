#include "transcript_cleanup.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

namespace {

struct Case {
  std::string input;
  std::string expected;
};

TEST(CleanTranscript, RemovesSpansAndTrimsAsTheTableSays) {
  const Case cases[] = {
      {"", ""},
      {" \t\n\r", ""},
      {" Hello [noise] world. ", "Hello  world."},
      {"[a [b] c]", "c]"},
      {"(a (b) c)", "c)"},
      {"[[a]]", "]"},
      {"x [] y ()", "x  y"},
      {"a ] b [ c", "a ] b [ c"},
      {"[a\nb]", "[a\nb]"},
      {"[a\rb] c", "[a\rb] c"},
      {"[a\n[b]", "[a"},
      {"(a[x]b)", ""},
      {"(a [b) c]", "(a"},
      {"[x] (y)", ""},
      {"caf\xC3\xA9 (x)", "caf\xC3\xA9"},
      {"[a\xE2\x80\xA8"
       "b] c",
       "c"},
      {"\va\f", "\va\f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cleanTranscript(c.input), c.expected) << "input: " << testing::PrintToString(c.input);
  }
}

// The definition of the clean-up: two ECMAScript regex passes on bytes, then the trim.
std::string cleanWithRegex(const std::string& text) {
  const std::regex brackets("\\[.*?\\]");
  const std::regex parentheses("\\(.*?\\)");
  const std::string passed = std::regex_replace(std::regex_replace(text, brackets, ""), parentheses, "");
  const char* blanks = " \t\n\r";
  const size_t first = passed.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  const size_t last = passed.find_last_not_of(blanks);
  return passed.substr(first, last - first + 1);
}

TEST(CleanTranscript, AgreesWithTheRegexDefinitionOnRandomBytes) {
  // Delimiters, line breaks and blanks dominate, so spans open, close and break often.
  const std::string alphabet = "[[[]]]((()))\n\r  \t\va\x80\xC3\xA9\xE2\xFF";
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int n = length(rng);
    for (int i = 0; i < n; ++i) {
      text += round % 5 == 0 ? static_cast<char>(anyByte(rng)) : alphabet[pick(rng)];
    }
    ASSERT_EQ(cleanTranscript(text), cleanWithRegex(text)) << "input: " << testing::PrintToString(text);
  }
}

TEST(CleanTranscript, HandlesALongLineOfUnclosedBrackets) {
  const std::string text(200000, '[');
  EXPECT_EQ(cleanTranscript(text), text);
}

}  // namespace
