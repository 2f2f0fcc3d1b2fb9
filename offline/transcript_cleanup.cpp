#include "transcript_cleanup.h"

namespace {

bool isLineBreak(char c) { return c == '\n' || c == '\r'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// One left-to-right pass equal to replacing the ECMAScript pattern
// "\<open>.*?\<close>" with nothing: an opening byte with no closing byte
// before the next line break is kept as an ordinary byte.
std::string removeSpans(const std::string& text, char open, char close) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == open) {
      size_t j = i + 1;
      while (j < text.size() && text[j] != close && !isLineBreak(text[j])) ++j;
      if (j < text.size() && text[j] == close) {
        i = j + 1;
        continue;
      }
      // Any opening byte before j would fail the same way: copy up to j at once.
      out.append(text, i, j - i);
      i = j;
      continue;
    }
    out += text[i];
    ++i;
  }
  return out;
}

std::string trimBlanks(const std::string& text) {
  size_t first = 0;
  while (first < text.size() && isBlank(text[first])) ++first;
  size_t last = text.size();
  while (last > first && isBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

std::string cleanTranscript(const std::string& transcript) {
  return trimBlanks(removeSpans(removeSpans(transcript, '[', ']'), '(', ')'));
}
