#include "model_file.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include <ggml.h>

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

// Reads and skips through the file for modelLayoutFits, tracking what is left.
struct LayoutCursor {
  std::FILE* file;
  uint64_t left;

  bool int32(int32_t& value) {
    if (left < sizeof value || std::fread(&value, sizeof value, 1, file) != 1) return false;
    left -= sizeof value;
    return true;
  }
  bool skip(uint64_t bytes) {
    if (bytes > left || fseeko(file, static_cast<off_t>(bytes), SEEK_CUR) != 0) return false;
    left -= bytes;
    return true;
  }
};

constexpr int kHeaderFields = 12;  // magic and eleven hyperparameters
constexpr int kMaxDimensions = 4;

bool tensorRecordFits(LayoutCursor& at) {
  int32_t dimensions = 0, nameLength = 0, type = 0;
  if (!at.int32(dimensions) || !at.int32(nameLength) || !at.int32(type)) return false;
  if (dimensions < 0 || dimensions > kMaxDimensions || nameLength < 0) return false;
  if (type < 0 || type >= GGML_TYPE_COUNT || ggml_blck_size(static_cast<ggml_type>(type)) <= 0) return false;
  uint64_t bytes = 0;
  for (int i = 0; i < dimensions; ++i) {
    int32_t extent = 0;
    if (!at.int32(extent) || extent < 0) return false;
    if (i == 0) {
      bytes = ggml_row_size(static_cast<ggml_type>(type), extent);
    } else if (extent != 0 && bytes > at.left / static_cast<uint64_t>(extent)) {
      return false;
    } else {
      bytes *= static_cast<uint64_t>(extent);
    }
  }
  if (dimensions == 0) bytes = ggml_type_size(static_cast<ggml_type>(type));
  return at.skip(static_cast<uint64_t>(nameLength)) && at.skip(bytes);
}

bool layoutFits(LayoutCursor& at) {
  int32_t field = 0;
  for (int i = 0; i < kHeaderFields; ++i) {
    if (!at.int32(field)) return false;
  }
  int32_t mels = 0, fftBins = 0;
  if (!at.int32(mels) || !at.int32(fftBins) || mels < 0 || fftBins < 0) return false;
  if (!at.skip(static_cast<uint64_t>(mels) * static_cast<uint64_t>(fftBins) * sizeof(float))) return false;
  int32_t words = 0;
  if (!at.int32(words) || words < 0) return false;
  for (int32_t i = 0; i < words; ++i) {
    uint32_t length = 0;
    if (!at.int32(reinterpret_cast<int32_t&>(length)) || !at.skip(length)) return false;
  }
  while (at.left > 0) {
    if (!tensorRecordFits(at)) return false;
  }
  return true;
}

}  // namespace

bool modelLayoutFits(ModelFile& model) {
  if (model.file == nullptr || fseeko(model.file, 0, SEEK_END) != 0) return false;
  const off_t size = ftello(model.file);
  if (size < 0 || fseeko(model.file, 0, SEEK_SET) != 0) return false;
  LayoutCursor at{model.file, static_cast<uint64_t>(size)};
  const bool fits = layoutFits(at);
  return fseeko(model.file, 0, SEEK_SET) == 0 && fits;
}

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
