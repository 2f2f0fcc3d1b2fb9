// The writers of selvane. Event lines go to outputHandle, read at each write;
// diagnostics go to standard error. Every line leaves whole and unbuffered before
// the writer returns: when the channel takes only part of it (full, or
// non-blocking), the writer waits for room and writes the rest, as a blocking
// pipe would make it wait. None of them reports a failure: a caller goes on (or
// exits) either way.
//
// Thread safety: event lines are written only from the main thread and the main
// queue; debug may be called from any thread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

void writeResult(const std::string& text, bool isFinal);
void writeError(const std::string& message);
// Writes the event map as one compact JSON line.
void writeJSON(const nlohmann::json& event);
// Writes "[maribek] ", the message and a line feed.
void debug(const std::string& message);
