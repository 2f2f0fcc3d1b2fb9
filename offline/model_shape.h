#pragma once
// What a Whisper model file's header says the rest of the file holds: the tensors
// whisper.cpp builds from the header's hyperparameters, each with its shape and
// type, in whisper_model_load's own terms. The library sizes everything it
// allocates by the header before it reads a tensor, so a header that disagrees
// with the tensors has it build and allocate for a model that is not there.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <ggml.h>

// The eleven hyperparameters after the magic, in the file's order.
struct ModelHeader {
  int32_t vocab = 0;
  int32_t audioCtx = 0, audioState = 0, audioHeads = 0, audioLayers = 0;
  int32_t textCtx = 0, textState = 0, textHeads = 0, textLayers = 0;
  int32_t mels = 0;
  int32_t ftype = 0;
};

struct TensorShape {
  ggml_type type = GGML_TYPE_F32;
  int64_t extent[3] = {1, 1, 1};  // ne[0..2]; every tensor of the model has at most 3
};

struct NamedTensor {
  std::string name;  // whole, or for a layer the part after "encoder.blocks.N."
  TensorShape shape;
};

// The model a header describes. Tensors are numbered: the whole-model tensors
// first, then each encoder layer's, then each decoder layer's.
struct ModelShape {
  std::vector<NamedTensor> model;
  std::vector<NamedTensor> encoderLayer;
  std::vector<NamedTensor> decoderLayer;
  int32_t encoderLayers = 0;
  int32_t decoderLayers = 0;
  // Each list's names to their places in it, for findTensor.
  std::unordered_map<std::string, int64_t> modelIndex, encoderIndex, decoderIndex;
};

// The mel filter bank the library's spectrogram uses: one row of this many
// frequency bins (1 + 400 / 2, its fixed transform size) per mel band.
constexpr int32_t kMelFilterBins = 201;

// False when the header cannot describe a model the library can run (see the
// rules in model_shape.cpp); otherwise fills the shape.
bool describeModel(const ModelHeader& header, ModelShape& shape);

size_t tensorCount(const ModelShape& shape);

// The number of the tensor with this name in the file, or -1 if the model has none.
int64_t findTensor(const ModelShape& shape, const std::string& name);
const TensorShape& tensorShape(const ModelShape& shape, size_t number);

// The bytes of the tensor's data in the file, which the library allocates and reads.
uint64_t tensorBytes(const TensorShape& tensor);

// The fewest bytes the file's tensor records can take: every tensor's record
// with its name and data. Saturates at UINT64_MAX.
uint64_t leastTensorRecordBytes(const ModelShape& shape);

// Whether a tensor record of the file, with its type and dimensions (dimensions
// beyond the count are 1), is one the library takes for the tensor.
bool recordFitsTensor(const TensorShape& tensor, int32_t fileType, int32_t dimensions, const int32_t extent[4]);
