#pragma once
// The lines tovrin speaks towards the host: one event line on standard output,
// diagnostics on standard error. None of the writers reports a failure.
#include <string>

// The transcript as a JSON string body. Besides the five two-character escapes,
// every other byte below 0x20 becomes \u00XX, and every maximal invalid UTF-8
// subsequence becomes one U+FFFD, so that a strict JSON reader accepts every line.
std::string escapeEventText(const std::string& text);

// The exact bytes of each line, line feed included.
std::string resultEventLine(const std::string& transcript);
std::string errorEventLine(const std::string& code);
std::string diagnosticLine(const std::string& message);

// Write the line to standard output, then flush it: the host can read the
// outcome before the model is released.
void writeResultEvent(const std::string& transcript);
void writeErrorEvent(const std::string& code);
// Standard error is unbuffered; the line goes out in one write.
void writeDiagnostic(const std::string& message);
