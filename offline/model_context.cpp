#include "model_context.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <whisper.h>

namespace {

struct LoadLog {
  bool noTensors = false;
};

// The library tells that it took a file without tensor data for an empty
// model only through this log line.
const char kNoTensorsLine[] = "no tensors loaded from model file";

void forwardLibraryLog(ggml_log_level level, const char* text, void* userData) {
  if (text == nullptr) return;
  if (std::strstr(text, kNoTensorsLine) != nullptr) static_cast<LoadLog*>(userData)->noTensors = true;
  if (level == GGML_LOG_LEVEL_DEBUG) return;  // as the library's own default does
  std::fputs(text, stderr);
}

}  // namespace

ModelContext& ModelContext::operator=(ModelContext&& other) noexcept {
  if (this != &other) {
    release();
    context_ = other.context_;
    other.context_ = nullptr;
  }
  return *this;
}

void ModelContext::release() {
  if (context_ != nullptr) whisper_free(context_);
  context_ = nullptr;
}

LoadedModel loadModel(const std::string& path) {
  // ggml's abort handler would start a debugger whose output lands on standard
  // output, where only the event line may go.
  setenv("GGML_NO_BACKTRACE", "1", 1);

  // Static: the library keeps the pointer for the rest of the process.
  static LoadLog log;
  log.noTensors = false;
  whisper_log_set(forwardLibraryLog, &log);

  const whisper_context_params params = whisper_context_default_params();
  LoadedModel model;
  model.context = ModelContext(whisper_init_from_file_with_params(path.c_str(), params));
  model.usable = model.context && !log.noTensors;
  return model;
}
