#include "event_writer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

struct Case {
  std::string input;
  std::string expected;
};

TEST(EscapeEventText, EscapesTheFiveBytesAndPassesTheRest) {
  const Case cases[] = {
      {"", ""},
      {"\t", "\\t"},
      {"\n", "\\n"},
      {"\r", "\\r"},
      {"\"", "\\\""},
      {"\\", "\\\\"},
      {"a/b", "a/b"},
      {"\x7F", "\x7F"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"\xE2\x80\xA8", "\xE2\x80\xA8"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"say \"hi\"\tto C:\\x\r\n", "say \\\"hi\\\"\\tto C:\\\\x\\r\\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeEventText(c.input), c.expected) << "input: " << testing::PrintToString(c.input);
  }
}

TEST(EscapeEventText, WritesOtherControlBytesAsUnicodeEscapes) {
  const Case cases[] = {
      {std::string(1, '\0'), "\\u0000"},
      {"\x01", "\\u0001"},
      {"\x08", "\\u0008"},
      {"\v", "\\u000b"},
      {"\f", "\\u000c"},
      {"\x0E", "\\u000e"},
      {"\x1F", "\\u001f"},
      {"a\x1B[0mb", "a\\u001b[0mb"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeEventText(c.input), c.expected) << "input: " << testing::PrintToString(c.input);
  }
}

TEST(EscapeEventText, ReplacesEachMaximalInvalidSubpartWithOneReplacementCharacter) {
  const std::string R = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"\x80", R},          // lone continuation byte
      {"\x80\x80", R + R},  // each stray continuation on its own
      {"\xC3", R},          // lead byte cut at the end
      {"a\xC3"
       "b",
       "a" + R + "b"},  // lead byte followed by ASCII
      {"\xE2\x82", R},  // two of three bytes: one replacement
      {"\xE2\x82"
       "x",
       R + "x"},
      {"\xF0\x9F\x98", R},                  // three of four bytes
      {"\xC0\xAF", R + R},                  // overlong lead is never valid
      {"\xE0\x80\xAF", R + R + R},          // E0 needs A0..BF next
      {"\xED\xA0\x80", R + R + R},          // surrogate
      {"\xF4\x90\x80\x80", R + R + R + R},  // above U+10FFFF
      {"\xF5\x80", R + R},
      {"\xFF", R},
      {"\xE2\x82\xC3\xA9", R + "\xC3\xA9"},     // a cut sequence before a whole one
      {"\xF1\x80\x80\xE1\x80\xC2", R + R + R},  // WHATWG's own example
  };
  for (const Case& c : cases) {
    EXPECT_EQ(escapeEventText(c.input), c.expected) << "input: " << testing::PrintToString(c.input);
  }
}

TEST(EventLines, HaveTheirExactBytesAndLengths) {
  EXPECT_EQ(resultEventLine(""), "{\"text\":\"\",\"isFinal\":true}\n");
  EXPECT_EQ(resultEventLine("").size(), 27u);
  EXPECT_EQ(resultEventLine("Hello  world."), "{\"text\":\"Hello  world.\",\"isFinal\":true}\n");
  EXPECT_EQ(errorEventLine("no_audio_data").size(), 26u);
  EXPECT_EQ(errorEventLine("model_load_failed"), "{\"error\":\"model_load_failed\"}\n");
  EXPECT_EQ(errorEventLine("model_load_failed").size(), 30u);
  EXPECT_EQ(errorEventLine("inference_failed").size(), 29u);
  EXPECT_EQ(diagnosticLine("Model loaded"), "[tovrin] Model loaded\n");
  EXPECT_EQ(diagnosticLine("Loading model: a\nb"), "[tovrin] Loading model: a\nb\n");
}

TEST(EventLines, AreStrictJsonForEveryByte) {
  // Every single byte, and every byte after a multi-byte lead, parses back.
  for (int b = 0; b < 256; ++b) {
    for (const std::string& text :
         {std::string(1, static_cast<char>(b)), "\xE2" + std::string(1, static_cast<char>(b))}) {
      const std::string line = resultEventLine(text);
      ASSERT_EQ(line.find('\n'), line.size() - 1) << "byte " << b;
      nlohmann::json parsed;
      ASSERT_NO_THROW(parsed = nlohmann::json::parse(line.substr(0, line.size() - 1))) << "byte " << b;
      EXPECT_TRUE(parsed.at("isFinal").get<bool>());
      EXPECT_EQ(parsed.size(), 2u);
    }
  }
  const std::string text = "tab\t lf\n quote\" back\\ slash/ ff\f caf\xC3\xA9";
  EXPECT_EQ(nlohmann::json::parse(resultEventLine(text)).at("text").get<std::string>(), text);
}

}  // namespace
