#include "model_load_entry.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model_context.h"

namespace {

std::string modelPath() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/tovrin-model-load-" +
         std::to_string(getpid()) + ".bin";
}

bool writeModel(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// The library logs some forty lines per load; a fuzzer's thousands of loads would
// bury its own report in them.
struct QuietStandardError {
  int saved = dup(STDERR_FILENO);
  QuietStandardError() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDERR_FILENO);
      close(null);
    }
  }
  ~QuietStandardError() {
    if (saved >= 0) {
      dup2(saved, STDERR_FILENO);
      close(saved);
    }
  }
};

}  // namespace

bool loadModelFromBytes(const uint8_t* data, size_t size) {
  static const std::string path = modelPath();
  if (!writeModel(path, data, size)) {
    std::perror(path.c_str());
    std::abort();  // not a finding about the model: the fuzzer must not go on
  }
  bool usable = false;
  {
    QuietStandardError quiet;
    LoadedModel model = loadModel(path);
    usable = model.usable;
    model.context.release();
  }
  std::remove(path.c_str());
  return usable;
}
