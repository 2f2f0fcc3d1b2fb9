#pragma once
// Loading the Whisper model and owning the context until it is released.
#include <string>

struct whisper_context;

// Owns a whisper_context from a successful load until release(), which the run
// calls explicitly after its event line is out; the destructor only covers
// early returns.
class ModelContext {
 public:
  ModelContext() = default;
  explicit ModelContext(whisper_context* context) : context_(context) {}
  ~ModelContext() { release(); }
  ModelContext(ModelContext&& other) noexcept : context_(other.context_) { other.context_ = nullptr; }
  ModelContext& operator=(ModelContext&& other) noexcept;
  ModelContext(const ModelContext&) = delete;
  ModelContext& operator=(const ModelContext&) = delete;

  whisper_context* get() const { return context_; }
  explicit operator bool() const { return context_ != nullptr; }
  void release();

 private:
  whisper_context* context_ = nullptr;
};

struct LoadedModel {
  ModelContext context;  // may be set even when the model is not usable
  bool usable = false;
};

// Loads the model at the path, taken verbatim, with the library's default context
// parameters, through a loader over the file (whisper_init_with_params). Not
// usable: a file that cannot be opened, a refusal or an exception of the library,
// a file that ends early anywhere, and a file that ends right before its tensor
// data, which the library accepts as an empty test model; a context that came
// back is left for the caller to release after the error event. The library's
// log lines go to standard error.
LoadedModel loadModel(const std::string& path);
