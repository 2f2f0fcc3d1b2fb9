#pragma once
#include <string>

// Removes every [...] span, then every (...) span (neither crossing LF or CR,
// each ending at the first closing delimiter), then trims space, tab, LF and CR
// from both ends. Works on bytes; never fails.
std::string cleanTranscript(const std::string& transcript);
