#include "event_writer.h"

#include <unistd.h>

#include <cstdio>

#include "descriptor_io.h"

namespace {

const char kReplacementCharacter[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence starting at text[i], or 0 if none. When it
// is 0, *invalidLength is the length of the maximal subpart to replace: the lead
// byte with the continuation bytes that could still have belonged to it.
size_t validSequenceLength(const std::string& text, size_t i, size_t* invalidLength) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t needed = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    *invalidLength = 1;
    return 0;
  }
  size_t k = 1;
  for (; k <= needed && i + k < text.size(); ++k) {
    const unsigned char c = byte(i + k);
    const bool inRange = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    if (!inRange) break;
  }
  if (k == needed + 1) return k;
  *invalidLength = k;
  return 0;
}

// Straight to the descriptor, not through stdio: a stdio stream on a
// non-blocking descriptor drops what a write refuses with EAGAIN.
void writeOut(int fd, const std::string& line) { writeWhole(fd, line.data(), line.size()); }

}  // namespace

std::string escapeEventText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
          if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    size_t invalid = 0;
    const size_t valid = validSequenceLength(text, i, &invalid);
    if (valid > 0) {
      out.append(text, i, valid);
      i += valid;
    } else {
      out += kReplacementCharacter;
      i += invalid;
    }
  }
  return out;
}

std::string resultEventLine(const std::string& transcript) {
  return "{\"text\":\"" + escapeEventText(transcript) + "\",\"isFinal\":true}\n";
}

std::string errorEventLine(const std::string& code) { return "{\"error\":\"" + code + "\"}\n"; }

std::string diagnosticLine(const std::string& message) { return "[tovrin] " + message + "\n"; }

void writeResultEvent(const std::string& transcript) { writeOut(STDOUT_FILENO, resultEventLine(transcript)); }

void writeErrorEvent(const std::string& code) { writeOut(STDOUT_FILENO, errorEventLine(code)); }

void writeDiagnostic(const std::string& message) { writeOut(STDERR_FILENO, diagnosticLine(message)); }
