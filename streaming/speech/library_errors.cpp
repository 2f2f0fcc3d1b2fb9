#include "speech/library_errors.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace speech {

namespace {

char ownBuffer[1024];
char* keptIn = ownBuffer;
size_t keptSize = sizeof ownBuffer;

void keepMessage(void*, err_lvl_t level, const char* format, ...) {
  if (level != ERR_ERROR && level != ERR_FATAL) return;
  va_list args;
  va_start(args, format);
  vsnprintf(keptIn, keptSize, format, args);
  va_end(args);
}

}  // namespace

void keepLibraryErrors() {
  // Some of the library's lines (its configuration table) bypass the callback and
  // go straight to its log file, standard error unless switched off.
  err_set_logfp(nullptr);
  err_set_callback(keepMessage, nullptr);
}

void keepLibraryErrorsIn(char* buffer, size_t size) {
  keptIn = buffer != nullptr && size > 0 ? buffer : ownBuffer;
  keptSize = buffer != nullptr && size > 0 ? size : sizeof ownBuffer;
  keptIn[0] = '\0';
}

std::string libraryErrorText(const char* kept) {
  std::string text(kept);
  // The library writes "LEVEL: "file.c", line N: message"; the message is the reason.
  const size_t line = text.find("\", line ");
  if (line != std::string::npos) {
    const size_t message = text.find(": ", line);
    if (message != std::string::npos) text.erase(0, message + 2);
  }
  // The message may quote bytes of a damaged file; a diagnostic stays one line of
  // printable text.
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string lastLibraryError() { return libraryErrorText(keptIn); }

std::string signalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    case SIGKILL: return "SIGKILL";
    default: return "signal " + std::to_string(signal);
  }
}

}  // namespace speech
