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
// parameters. A file that ends before its tensor data is accepted by the library
// as an empty test model, which would then abort or transcribe nothing; it is
// marked not usable, and its context is left for the caller to release after
// the error event. The library's log lines keep going to standard error.
LoadedModel loadModel(const std::string& path);
