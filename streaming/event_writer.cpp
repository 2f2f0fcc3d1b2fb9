#include "event_writer.h"

#include <unistd.h>

#include <mutex>

#include "state.h"

namespace {

// The serialiser leaves the solidus bare; our lines escape it. Keys and values are
// only strings and booleans, so every '/' of the output stands inside a string.
std::string escapeSolidus(const std::string& serialised) {
  std::string out;
  out.reserve(serialised.size());
  for (char c : serialised) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

// Diagnostics come from the main queue and the input queue at once. On a standard
// error that takes a line only in part (non-blocking, a socket, a terminal), the
// other thread's line must not land in the middle of it: one line at a time.
// Never destroyed, like the other process-wide values: a thread may hold it when
// the process exits.
std::mutex& diagnosticLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

}  // namespace

void writeJSON(const nlohmann::json& event) {
  std::string line;
  try {
    // Bytes that are not UTF-8 become U+FFFD rather than costing the whole event,
    // so the output is always valid UTF-8.
    line = escapeSolidus(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    line += '\n';
  } catch (...) {
    return;  // no line can be made: the event is dropped without a word
  }
  outputHandle.writeAll(line.data(), line.size());
}

void writeResult(const std::string& text, bool isFinal) {
  writeJSON(nlohmann::json{{"text", text}, {"isFinal", isFinal}});
}

void writeError(const std::string& message) { writeJSON(nlohmann::json{{"error", message}}); }

void debug(const std::string& message) {
  const std::string line = "[maribek] " + message + "\n";
  std::lock_guard<std::mutex> oneLineAtATime(diagnosticLock());
  FileHandle(STDERR_FILENO).writeAll(line.data(), line.size());
}
