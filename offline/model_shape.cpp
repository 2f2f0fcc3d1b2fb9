#include "model_shape.h"

#include <climits>

namespace {

// The special tokens have fixed numbers in the library, and the 1501 timestamp
// tokens (0 to 30 s in steps of 0.02 s) follow them: an English vocabulary has
// 51864, and with fewer decoding indexes its logits past their end. A larger one
// is multilingual, with a token for each of n_vocab - 51766 languages, which the
// library names from its table of 100 (and fails on a language past it).
constexpr int32_t kLeastVocabulary = 51864;
constexpr int32_t kLanguages = 100;
constexpr int32_t kMostVocabulary = 51766 + kLanguages;

// The library builds the encoder and the decoder each as one graph, whose
// nodes and leaves (every weight is a leaf) must fit in a table of 4096
// (WHISPER_MAX_NODES). With more layers than these it aborts while it sets up
// (whisper.cpp 1.9.1, measured with make-test-model; the largest Whisper models
// have 32).
constexpr int32_t kMostEncoderLayers = 90;
constexpr int32_t kMostDecoderLayers = 60;

// The header's ftype, modulo the quantization version as the library takes it,
// names the type of the big matrices (ggml_ftype_to_ggml_type, which aborts on
// any other value instead of returning GGML_TYPE_COUNT).
bool weightType(int32_t ftype, ggml_type& type) {
  struct FileType {
    ggml_ftype ftype;
    ggml_type type;
  };
  static const FileType kTypes[] = {
      {GGML_FTYPE_ALL_F32, GGML_TYPE_F32},          {GGML_FTYPE_MOSTLY_F16, GGML_TYPE_F16},
      {GGML_FTYPE_MOSTLY_BF16, GGML_TYPE_BF16},     {GGML_FTYPE_MOSTLY_Q4_0, GGML_TYPE_Q4_0},
      {GGML_FTYPE_MOSTLY_Q4_1, GGML_TYPE_Q4_1},     {GGML_FTYPE_MOSTLY_Q1_0, GGML_TYPE_Q1_0},
      {GGML_FTYPE_MOSTLY_Q5_0, GGML_TYPE_Q5_0},     {GGML_FTYPE_MOSTLY_Q5_1, GGML_TYPE_Q5_1},
      {GGML_FTYPE_MOSTLY_Q8_0, GGML_TYPE_Q8_0},     {GGML_FTYPE_MOSTLY_MXFP4, GGML_TYPE_MXFP4},
      {GGML_FTYPE_MOSTLY_NVFP4, GGML_TYPE_NVFP4},   {GGML_FTYPE_MOSTLY_Q2_K, GGML_TYPE_Q2_K},
      {GGML_FTYPE_MOSTLY_Q3_K, GGML_TYPE_Q3_K},     {GGML_FTYPE_MOSTLY_Q4_K, GGML_TYPE_Q4_K},
      {GGML_FTYPE_MOSTLY_Q5_K, GGML_TYPE_Q5_K},     {GGML_FTYPE_MOSTLY_Q6_K, GGML_TYPE_Q6_K},
      {GGML_FTYPE_MOSTLY_IQ2_XXS, GGML_TYPE_IQ2_XXS}, {GGML_FTYPE_MOSTLY_IQ2_XS, GGML_TYPE_IQ2_XS},
      {GGML_FTYPE_MOSTLY_IQ3_XXS, GGML_TYPE_IQ3_XXS}, {GGML_FTYPE_MOSTLY_IQ1_S, GGML_TYPE_IQ1_S},
      {GGML_FTYPE_MOSTLY_IQ1_M, GGML_TYPE_IQ1_M},   {GGML_FTYPE_MOSTLY_IQ4_NL, GGML_TYPE_IQ4_NL},
      {GGML_FTYPE_MOSTLY_IQ4_XS, GGML_TYPE_IQ4_XS}, {GGML_FTYPE_MOSTLY_IQ3_S, GGML_TYPE_IQ3_S},
      {GGML_FTYPE_MOSTLY_IQ2_S, GGML_TYPE_IQ2_S},
  };
  const int32_t value = ftype % GGML_QNT_VERSION_FACTOR;
  for (const FileType& known : kTypes) {
    if (known.ftype == value) {
      type = known.type;
      return true;
    }
  }
  return false;
}

TensorShape shapeOf(ggml_type type, int64_t ne0, int64_t ne1 = 1, int64_t ne2 = 1) {
  TensorShape shape;
  shape.type = type;
  shape.extent[0] = ne0;
  shape.extent[1] = ne1;
  shape.extent[2] = ne2;
  return shape;
}

// Prefixes end with their dot.
void addNorm(std::vector<NamedTensor>& tensors, const std::string& prefix, int64_t width) {
  tensors.push_back({prefix + "weight", shapeOf(GGML_TYPE_F32, width)});
  tensors.push_back({prefix + "bias", shapeOf(GGML_TYPE_F32, width)});
}

// Query, key (without bias), value and output projections of one attention.
void addAttention(std::vector<NamedTensor>& tensors, const std::string& prefix, int64_t width, ggml_type matrix) {
  tensors.push_back({prefix + "query.weight", shapeOf(matrix, width, width)});
  tensors.push_back({prefix + "query.bias", shapeOf(GGML_TYPE_F32, width)});
  tensors.push_back({prefix + "key.weight", shapeOf(matrix, width, width)});
  tensors.push_back({prefix + "value.weight", shapeOf(matrix, width, width)});
  tensors.push_back({prefix + "value.bias", shapeOf(GGML_TYPE_F32, width)});
  tensors.push_back({prefix + "out.weight", shapeOf(matrix, width, width)});
  tensors.push_back({prefix + "out.bias", shapeOf(GGML_TYPE_F32, width)});
}

// One transformer block: the feed-forward part four times as wide, self-attention,
// and in the decoder the cross-attention over the encoder's output.
std::vector<NamedTensor> block(int64_t width, ggml_type matrix, bool crossAttention) {
  std::vector<NamedTensor> tensors;
  addNorm(tensors, "mlp_ln.", width);
  tensors.push_back({"mlp.0.weight", shapeOf(matrix, width, 4 * width)});
  tensors.push_back({"mlp.0.bias", shapeOf(GGML_TYPE_F32, 4 * width)});
  tensors.push_back({"mlp.2.weight", shapeOf(matrix, 4 * width, width)});
  tensors.push_back({"mlp.2.bias", shapeOf(GGML_TYPE_F32, width)});
  addNorm(tensors, "attn_ln.", width);
  addAttention(tensors, "attn.", width, matrix);
  if (crossAttention) {
    addNorm(tensors, "cross_attn_ln.", width);
    addAttention(tensors, "cross_attn.", width, matrix);
  }
  return tensors;
}

bool dividesInto(int32_t width, int32_t heads) { return heads > 0 && width % heads == 0; }

int64_t elementCount(const TensorShape& tensor) {
  return tensor.extent[0] * tensor.extent[1] * tensor.extent[2];
}

// The library counts a record's elements in an int32: a bigger tensor never matches.
bool countable(const std::vector<NamedTensor>& tensors) {
  for (const NamedTensor& tensor : tensors) {
    if (elementCount(tensor.shape) > INT32_MAX) return false;
  }
  return true;
}

const char kEncoderBlocks[] = "encoder.blocks.";
const char kDecoderBlocks[] = "decoder.blocks.";

std::unordered_map<std::string, int64_t> indexOf(const std::vector<NamedTensor>& tensors) {
  std::unordered_map<std::string, int64_t> numbers;
  for (size_t i = 0; i < tensors.size(); ++i) numbers.emplace(tensors[i].name, static_cast<int64_t>(i));
  return numbers;
}

// The layer named after the prefix, as the library prints it ("%d"), and the rest.
bool splitLayerName(const std::string& name, const char* prefix, int32_t layers, int32_t& layer, std::string& rest) {
  const std::string start(prefix);
  if (name.compare(0, start.size(), start) != 0) return false;
  size_t at = start.size();
  int64_t value = 0;
  const size_t firstDigit = at;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9' && value < layers) {
    value = value * 10 + (name[at] - '0');
    ++at;
  }
  const size_t digits = at - firstDigit;
  if (digits == 0 || (digits > 1 && name[firstDigit] == '0') || value >= layers) return false;
  if (at >= name.size() || name[at] != '.') return false;
  layer = static_cast<int32_t>(value);
  rest = name.substr(at + 1);
  return true;
}

unsigned __int128 recordBytes(const NamedTensor& tensor, size_t extraNameBytes) {
  constexpr size_t kRecordFields = 3 * sizeof(int32_t);  // dimensions, name length, type
  return kRecordFields + tensor.name.size() + extraNameBytes + tensorBytes(tensor.shape);
}

unsigned __int128 recordBytes(const std::vector<NamedTensor>& tensors, size_t extraNameBytes) {
  unsigned __int128 total = 0;
  for (const NamedTensor& tensor : tensors) total += recordBytes(tensor, extraNameBytes);
  return total;
}

}  // namespace

// A header describes a model that the library can run when
// - every width, context, the mel bands and the vocabulary are positive, and so
//   is the decoder's layer count (the library fails to allocate the attention
//   caches of no layers); the encoder may have none;
// - encoder and decoder have the same width (the decoder's cross-attention reads
//   the encoder's output; the library asserts it only in debug builds);
// - the heads of each attention share its width evenly (the library reshapes by
//   width / heads and aborts otherwise);
// - the vocabulary holds the library's special and timestamp tokens, and no
//   more languages than it knows;
// - no more layers than fit in the library's graphs;
// - the weight type is one the library knows, and a row of the big matrices is a
//   whole number of its blocks;
// - no tensor has more elements than an int32 counts.
// The tensors are whisper_model_load's, with its shapes and types: F32 for the
// positional embeddings, biases and norms, F16 for the convolutions unless the
// weights are F32, the weight type for the matrices and the token embedding.
bool describeModel(const ModelHeader& h, ModelShape& shape) {
  if (h.vocab <= 0 || h.audioCtx <= 0 || h.audioState <= 0 || h.textCtx <= 0 || h.textState <= 0 ||
      h.mels <= 0 || h.audioLayers < 0 || h.textLayers <= 0) {
    return false;
  }
  if (h.audioState != h.textState) return false;
  if (!dividesInto(h.audioState, h.audioHeads) || !dividesInto(h.textState, h.textHeads)) return false;
  if (h.vocab < kLeastVocabulary || h.vocab > kMostVocabulary) return false;
  ggml_type matrix = GGML_TYPE_COUNT;
  if (!weightType(h.ftype, matrix) || h.audioState % ggml_blck_size(matrix) != 0) return false;
  const ggml_type convolution = matrix == GGML_TYPE_F32 ? GGML_TYPE_F32 : GGML_TYPE_F16;

  const int64_t width = h.audioState;
  shape = ModelShape{};
  shape.model = {
      {"encoder.positional_embedding", shapeOf(GGML_TYPE_F32, width, h.audioCtx)},
      {"encoder.conv1.weight", shapeOf(convolution, 3, h.mels, width)},
      {"encoder.conv1.bias", shapeOf(GGML_TYPE_F32, 1, width)},
      {"encoder.conv2.weight", shapeOf(convolution, 3, width, width)},
      {"encoder.conv2.bias", shapeOf(GGML_TYPE_F32, 1, width)},
  };
  addNorm(shape.model, "encoder.ln_post.", width);
  shape.model.push_back({"decoder.positional_embedding", shapeOf(GGML_TYPE_F32, width, h.textCtx)});
  shape.model.push_back({"decoder.token_embedding.weight", shapeOf(matrix, width, h.vocab)});
  addNorm(shape.model, "decoder.ln.", width);
  shape.encoderLayer = block(width, matrix, false);
  shape.decoderLayer = block(width, matrix, true);
  if (h.audioLayers > kMostEncoderLayers || h.textLayers > kMostDecoderLayers) return false;
  shape.encoderLayers = h.audioLayers;
  shape.decoderLayers = h.textLayers;
  shape.modelIndex = indexOf(shape.model);
  shape.encoderIndex = indexOf(shape.encoderLayer);
  shape.decoderIndex = indexOf(shape.decoderLayer);
  return countable(shape.model) && countable(shape.encoderLayer) && countable(shape.decoderLayer);
}

size_t tensorCount(const ModelShape& shape) {
  return shape.model.size() + shape.encoderLayer.size() * static_cast<size_t>(shape.encoderLayers) +
         shape.decoderLayer.size() * static_cast<size_t>(shape.decoderLayers);
}

int64_t findTensor(const ModelShape& shape, const std::string& name) {
  const auto whole = shape.modelIndex.find(name);
  if (whole != shape.modelIndex.end()) return whole->second;

  int32_t layer = 0;
  std::string rest;
  const int64_t encoderStart = static_cast<int64_t>(shape.model.size());
  const int64_t decoderStart =
      encoderStart + static_cast<int64_t>(shape.encoderLayer.size()) * shape.encoderLayers;
  if (splitLayerName(name, kEncoderBlocks, shape.encoderLayers, layer, rest)) {
    const auto part = shape.encoderIndex.find(rest);
    if (part == shape.encoderIndex.end()) return -1;
    return encoderStart + static_cast<int64_t>(shape.encoderLayer.size()) * layer + part->second;
  }
  if (splitLayerName(name, kDecoderBlocks, shape.decoderLayers, layer, rest)) {
    const auto part = shape.decoderIndex.find(rest);
    if (part == shape.decoderIndex.end()) return -1;
    return decoderStart + static_cast<int64_t>(shape.decoderLayer.size()) * layer + part->second;
  }
  return -1;
}

const TensorShape& tensorShape(const ModelShape& shape, size_t number) {
  if (number < shape.model.size()) return shape.model[number].shape;
  number -= shape.model.size();
  const size_t encoderTensors = shape.encoderLayer.size() * static_cast<size_t>(shape.encoderLayers);
  if (number < encoderTensors) return shape.encoderLayer[number % shape.encoderLayer.size()].shape;
  number -= encoderTensors;
  return shape.decoderLayer[number % shape.decoderLayer.size()].shape;
}

uint64_t tensorBytes(const TensorShape& tensor) {
  return ggml_row_size(tensor.type, tensor.extent[0]) * static_cast<uint64_t>(tensor.extent[1]) *
         static_cast<uint64_t>(tensor.extent[2]);
}

uint64_t leastTensorRecordBytes(const ModelShape& shape) {
  // A layer's names carry the prefix, at least one digit and a dot.
  const size_t layerName = sizeof kEncoderBlocks - 1 + 2;
  const unsigned __int128 total = recordBytes(shape.model, 0) +
                                  recordBytes(shape.encoderLayer, layerName) * shape.encoderLayers +
                                  recordBytes(shape.decoderLayer, layerName) * shape.decoderLayers;
  return total > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(total);
}

// As whisper_model_load compares them: the first three extents and the element
// count (so a fourth extent is 1), and the data's size in the record's type, which
// may differ from the tensor's, against the bytes it reads into the tensor.
bool recordFitsTensor(const TensorShape& tensor, int32_t fileType, int32_t dimensions, const int32_t extent[4]) {
  int64_t ne[4] = {1, 1, 1, 1};
  for (int32_t i = 0; i < dimensions && i < 4; ++i) ne[i] = extent[i];
  if (ne[0] != tensor.extent[0] || ne[1] != tensor.extent[1] || ne[2] != tensor.extent[2] || ne[3] != 1) {
    return false;
  }
  if (fileType < 0 || fileType >= GGML_TYPE_COUNT) return false;
  const auto type = static_cast<ggml_type>(fileType);
  if (ggml_blck_size(type) <= 0) return false;  // a type ggml has retired
  const uint64_t fileBytes = static_cast<uint64_t>(elementCount(tensor)) * ggml_type_size(type) /
                             static_cast<uint64_t>(ggml_blck_size(tensor.type));
  return fileBytes == tensorBytes(tensor);
}
