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

// Write the whole line to standard output before they return, unbuffered: the
// host can read the outcome before the model is released. A non-blocking or full
// channel makes them wait for room, never drop or cut the line.
void writeResultEvent(const std::string& transcript);
void writeErrorEvent(const std::string& code);
// The same on standard error.
void writeDiagnostic(const std::string& message);
