#include "named_pipes.h"

#include <cstring>
#include <optional>
#include <string>

#include "event_writer.h"
#include "state.h"

namespace {

const std::string kInputOption = "--input-pipe=";
const std::string kOutputOption = "--output-pipe=";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// No error code exists for a pipe that cannot be opened, so no event is written;
// the host learns of it from the diagnostic and the status.
[[noreturn]] void failToOpen(const char* which, const std::string& path, int error) {
  debug(std::string("Cannot open ") + which + " pipe " + path + ": " + std::strerror(error));
  exitProcess(1);
}

}  // namespace

void parseArgs(int argc, char** argv) {
  if (argc < 2) return;
  std::optional<std::string> inputPath;
  std::optional<std::string> outputPath;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (startsWith(argument, kInputOption)) {
      inputPath = argument.substr(kInputOption.size());
    } else if (startsWith(argument, kOutputOption)) {
      outputPath = argument.substr(kOutputOption.size());
    }
  }
  if (!inputPath || !outputPath) return;

  debug("Using named pipes: input=" + *inputPath + " output=" + *outputPath);
  // Output first: opening a FIFO waits for its other end, and the host opens its
  // reading end of the output pipe before it waits on the input pipe.
  int error = 0;
  std::optional<FileHandle> output = FileHandle::forWritingAtPath(*outputPath, &error);
  if (!output) failToOpen("output", *outputPath, error);
  outputHandle = *output;
  std::optional<FileHandle> input = FileHandle::forReadingAtPath(*inputPath, &error);
  if (!input) failToOpen("input", *inputPath, error);
  inputHandle = *input;
  debug("Named pipes opened");
}
