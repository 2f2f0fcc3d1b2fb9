#include "model_file.h"

#include <cstring>
#include <stdexcept>

namespace {

// The fields the library reads at the start of every tensor record, before it
// asks whether the file has ended: dimensions, name length, type.
constexpr int kEndProbeReads = 3;

// Thrown out of the read callback, inside the library's load, which catches every
// exception there and refuses the model. Nothing else can stop it: a count read
// from a crafted file (2^31 vocabulary words, say) would have it go on reading
// zeros past the end, growing its tables, for minutes and gigabytes.
struct ModelFileEnded : std::runtime_error {
  ModelFileEnded() : std::runtime_error("the model file ends early") {}
};

size_t readModel(void* context, void* output, size_t size) {
  auto& model = *static_cast<ModelFile*>(context);
  const size_t got = model.file != nullptr ? std::fread(output, 1, size, model.file) : 0;
  if (got == size) {
    if (model.readsAtEnd > 0) model.endedEarly = true;
    return got;
  }
  std::memset(static_cast<char*>(output) + got, 0, size - got);
  if (got > 0 || ++model.readsAtEnd > kEndProbeReads) {
    model.endedEarly = true;
    throw ModelFileEnded();
  }
  return got;
}

bool modelAtEnd(void* context) {
  auto& model = *static_cast<ModelFile*>(context);
  if (model.readsAtEnd == 0) return model.file == nullptr || std::feof(model.file) != 0;
  // The end of the file right at a record's start: the whole file was read.
  if (model.readsAtEnd != kEndProbeReads) model.endedEarly = true;
  model.readsAtEnd = 0;
  return true;
}

void closeModel(void* context) { closeModelFile(*static_cast<ModelFile*>(context)); }

}  // namespace

bool openModelFile(const std::string& path, ModelFile& model) {
  model = ModelFile{};
  model.file = std::fopen(path.c_str(), "rb");
  return model.file != nullptr;
}

whisper_model_loader modelFileLoader(ModelFile& model) {
  whisper_model_loader loader{};
  loader.context = &model;
  loader.read = readModel;
  loader.eof = modelAtEnd;
  loader.close = closeModel;
  return loader;
}

bool modelFileReadWhole(const ModelFile& model) { return !model.endedEarly && model.readsAtEnd == 0; }

void closeModelFile(ModelFile& model) {
  if (model.file != nullptr) std::fclose(model.file);
  model.file = nullptr;
}
