#include "model_file.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <ggml.h>

#include "model_shape.h"

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
  const uint64_t available = model.end > model.position ? model.end - model.position : 0;
  const size_t wanted = size < available ? size : static_cast<size_t>(available);
  const size_t got = model.file != nullptr && wanted > 0 ? std::fread(output, 1, wanted, model.file) : 0;
  model.position += got;
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
  if (model.readsAtEnd == 0) {
    return model.file == nullptr || model.position >= model.end || std::feof(model.file) != 0;
  }
  // The end of the model right at a record's start: the whole model was read.
  if (model.readsAtEnd != kEndProbeReads) model.endedEarly = true;
  model.readsAtEnd = 0;
  return true;
}

void closeModel(void* context) { closeModelFile(*static_cast<ModelFile*>(context)); }

// Reads and skips through the file for modelLayoutFits, tracking what is left.
// Buffered here, since a file of small records would take a seek per field.
struct LayoutCursor {
  std::FILE* file;
  uint64_t left;         // bytes after the cursor
  uint64_t offset = 0;   // the cursor's place in the file
  std::vector<char> buffer = std::vector<char>(64 * 1024);
  size_t at = 0, filled = 0;

  bool bytes(void* output, size_t size) {
    if (size > left) return false;
    char* to = static_cast<char*>(output);
    while (size > 0) {
      if (at == filled) {
        filled = std::fread(buffer.data(), 1, buffer.size(), file);
        at = 0;
        if (filled == 0) return false;
      }
      const size_t take = size < filled - at ? size : filled - at;
      std::memcpy(to, buffer.data() + at, take);
      at += take;
      to += take;
      size -= take;
      left -= take;
      offset += take;
    }
    return true;
  }
  bool int32(int32_t& value) { return bytes(&value, sizeof value); }
  bool skip(uint64_t size) {
    if (size > left) return false;
    const size_t buffered = filled - at;
    if (size <= buffered) {
      at += static_cast<size_t>(size);
    } else {
      if (fseeko(file, static_cast<off_t>(size - buffered), SEEK_CUR) != 0) return false;
      at = filled = 0;
    }
    left -= size;
    offset += size;
    return true;
  }
};

constexpr int kMaxDimensions = 4;
// No tensor of the model has a longer name ("decoder.blocks.N.cross_attn_ln.weight").
constexpr int32_t kLongestName = 64;

bool headerFits(LayoutCursor& at, ModelHeader& header) {
  uint32_t magic = 0;
  if (!at.bytes(&magic, sizeof magic) || magic != GGML_FILE_MAGIC) return false;
  int32_t* const fields[] = {&header.vocab,      &header.audioCtx,  &header.audioState, &header.audioHeads,
                             &header.audioLayers, &header.textCtx,   &header.textState,  &header.textHeads,
                             &header.textLayers,  &header.mels,      &header.ftype};
  for (int32_t* field : fields) {
    if (!at.int32(*field)) return false;
  }
  return true;
}

// The mel filter bank maps the library's transform onto the header's bands; it
// reads the filters by both counts, and writes one row per band into the
// encoder's input, which has the header's bands.
bool melFiltersFit(LayoutCursor& at, const ModelHeader& header) {
  int32_t bands = 0, bins = 0;
  if (!at.int32(bands) || !at.int32(bins) || bands != header.mels || bins != kMelFilterBins) return false;
  return at.skip(static_cast<uint64_t>(bands) * static_cast<uint64_t>(bins) * sizeof(float));
}

// The words are the first tokens of the vocabulary; the library makes up the
// rest. More words than the vocabulary, and it aborts when it decodes.
bool vocabularyFits(LayoutCursor& at, const ModelHeader& header) {
  int32_t words = 0;
  if (!at.int32(words) || words < 0 || words > header.vocab) return false;
  for (int32_t i = 0; i < words; ++i) {
    uint32_t length = 0;
    if (!at.bytes(&length, sizeof length) || !at.skip(length)) return false;
  }
  return true;
}

// One tensor record: the number of the model's tensor that it holds, once, with
// the shape and type that the library takes for it, and its data.
bool tensorRecordFits(LayoutCursor& at, const ModelShape& shape, std::vector<bool>& seen) {
  int32_t dimensions = 0, nameLength = 0, type = 0;
  if (!at.int32(dimensions) || !at.int32(nameLength) || !at.int32(type)) return false;
  if (dimensions > kMaxDimensions || nameLength <= 0 || nameLength > kLongestName) return false;
  int32_t extent[kMaxDimensions] = {1, 1, 1, 1};
  for (int32_t i = 0; i < dimensions; ++i) {
    if (!at.int32(extent[i])) return false;
  }
  std::string name(static_cast<size_t>(nameLength), '\0');
  if (!at.bytes(&name[0], name.size())) return false;
  const int64_t number = findTensor(shape, name);
  if (number < 0 || seen[static_cast<size_t>(number)]) return false;
  const TensorShape& tensor = tensorShape(shape, static_cast<size_t>(number));
  if (!recordFitsTensor(tensor, type, dimensions, extent) || !at.skip(tensorBytes(tensor))) return false;
  seen[static_cast<size_t>(number)] = true;
  return true;
}

// Where the model ends in the file, or 0 if the file does not hold it.
uint64_t modelEnd(LayoutCursor& at) {
  ModelHeader header;
  ModelShape shape;
  if (!headerFits(at, header) || !describeModel(header, shape)) return 0;
  if (!melFiltersFit(at, header) || !vocabularyFits(at, header)) return 0;
  // Before anything is built for them: a header with a million layers asks for
  // far more records than the file can hold.
  if (leastTensorRecordBytes(shape) > at.left) return 0;
  std::vector<bool> seen(tensorCount(shape), false);
  for (size_t missing = seen.size(); missing > 0; --missing) {
    if (!tensorRecordFits(at, shape, seen)) return 0;
  }
  // Bytes too few for a next record's fields are ignored, as the library's own
  // file loader ignores them: it takes the short read for the end of the file.
  // More would be a next record, and the model has no more tensors.
  if (at.left >= kEndProbeReads * sizeof(int32_t)) return 0;
  return at.offset;
}

}  // namespace

bool modelLayoutFits(ModelFile& model) {
  if (model.file == nullptr || fseeko(model.file, 0, SEEK_END) != 0) return false;
  const off_t size = ftello(model.file);
  if (size < 0 || fseeko(model.file, 0, SEEK_SET) != 0) return false;
  LayoutCursor at{model.file, static_cast<uint64_t>(size)};
  const uint64_t end = modelEnd(at);
  if (fseeko(model.file, 0, SEEK_SET) != 0 || end == 0) return false;
  model.end = end;
  return true;
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
