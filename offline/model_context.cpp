#include "model_context.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <whisper.h>

#include "compute_backends.h"
#include "descriptor_io.h"
#include "model_file.h"

namespace {

struct LoadLog {
  bool noTensors = false;
};

// The library tells that it took a file without tensor data for an empty model
// only through this warning; it is matched whole, as the library writes it, so
// that the same words elsewhere (in a model path, say) do not count.
const char kNoTensorsWarning[] =
    "whisper_model_load: WARN no tensors loaded from model file - assuming empty model for testing\n";

void forwardLibraryLog(ggml_log_level level, const char* text, void* userData) {
  if (text == nullptr) return;
  auto& log = *static_cast<LoadLog*>(userData);
  if (level == GGML_LOG_LEVEL_WARN && std::strcmp(text, kNoTensorsWarning) == 0) log.noTensors = true;
  // Whole, like our own lines, on a standard error that may be non-blocking.
  writeWhole(STDERR_FILENO, text, std::strlen(text));
}

whisper_context* initFromFile(const std::string& path, bool& readWhole) {
  ModelFile file;
  if (!openModelFile(path, file)) return nullptr;
  if (!modelLayoutFits(file)) {
    closeModelFile(file);
    return nullptr;
  }
  whisper_model_loader loader = modelFileLoader(file);
  whisper_context* context = nullptr;
  // The library sets up its state outside its own try block: a model with an
  // absurd text context throws std::length_error from there.
  try {
    context = whisper_init_with_params(&loader, whisper_context_default_params());
  } catch (...) {
    context = nullptr;
  }
  closeModelFile(file);
  readWhole = modelFileReadWhole(file);
  return context;
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
  // Static: the library keeps the pointer for the rest of the process.
  static LoadLog log;
  log.noTensors = false;
  whisper_log_set(forwardLibraryLog, &log);
  loadComputeBackends();

  bool readWhole = false;
  LoadedModel model;
  model.context = ModelContext(initFromFile(path, readWhole));
  model.usable = model.context && readWhole && !log.noTensors;
  return model;
}
