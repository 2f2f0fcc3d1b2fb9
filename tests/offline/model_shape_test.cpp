// The model a header describes: which headers are refused, how the tensors are
// named and numbered, and which tensor records the library takes for a tensor.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model_shape.h"

namespace {

// The generated test model's header: width 32, 2 heads, 1 layer each, f16.
ModelHeader smallHeader() {
  ModelHeader h;
  h.vocab = 51864;
  h.audioCtx = 1500;
  h.audioState = 32;
  h.audioHeads = 2;
  h.audioLayers = 1;
  h.textCtx = 448;
  h.textState = 32;
  h.textHeads = 2;
  h.textLayers = 1;
  h.mels = 80;
  h.ftype = 1;
  return h;
}

TEST(ModelShape, DescribesOnlyAModelTheLibraryCanRun) {
  const struct {
    const char* name;
    void (*change)(ModelHeader&);
    bool described;
  } rows[] = {
      {"as generated", [](ModelHeader&) {}, true},
      {"no encoder layers", [](ModelHeader& h) { h.audioLayers = 0; }, true},
      {"no decoder layers", [](ModelHeader& h) { h.textLayers = 0; }, false},
      {"multilingual vocabulary", [](ModelHeader& h) { h.vocab = 51865; }, true},
      {"vocabulary of 100 languages", [](ModelHeader& h) { h.vocab = 51866; }, true},
      {"vocabulary of 101 languages", [](ModelHeader& h) { h.vocab = 51867; }, false},
      {"as many layers as the graphs hold", [](ModelHeader& h) { h.audioLayers = 90; h.textLayers = 60; }, true},
      {"an encoder layer more", [](ModelHeader& h) { h.audioLayers = 91; }, false},
      {"a decoder layer more", [](ModelHeader& h) { h.textLayers = 61; }, false},
      {"q8_0 weights over whole blocks of 32", [](ModelHeader& h) { h.ftype = 7; }, true},
      {"quantization version 2 of q8_0", [](ModelHeader& h) { h.ftype = 2007; }, true},
      {"q4_K weights, rows of 32 in blocks of 256", [](ModelHeader& h) { h.ftype = 12; }, false},
      {"ftype 4, which ggml names but has no type for", [](ModelHeader& h) { h.ftype = 4; }, false},
      {"negative ftype", [](ModelHeader& h) { h.ftype = -1; }, false},
      {"vocabulary short of the timestamp tokens", [](ModelHeader& h) { h.vocab = 51863; }, false},
      {"negative layers", [](ModelHeader& h) { h.textLayers = -1; }, false},
      {"no width", [](ModelHeader& h) { h.audioState = h.textState = 0; }, false},
      {"widths apart", [](ModelHeader& h) { h.textState = 64; }, false},
      {"heads that do not share the width", [](ModelHeader& h) { h.audioHeads = 3; }, false},
      {"no heads", [](ModelHeader& h) { h.textHeads = 0; }, false},
      {"no mel bands", [](ModelHeader& h) { h.mels = 0; }, false},
      {"no text context", [](ModelHeader& h) { h.textCtx = 0; }, false},
      // 2^31 elements and more: the library's int32 count of a record never matches.
      {"token embedding of 2^31 elements", [](ModelHeader& h) { h.audioState = h.textState = 41408; }, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ModelHeader h = smallHeader();
    row.change(h);
    ModelShape shape;
    EXPECT_EQ(describeModel(h, shape), row.described);
  }
}

TEST(ModelShape, NamesEveryTensorOnceAsTheLibraryDoes) {
  ModelHeader h = smallHeader();
  h.audioLayers = 12;
  h.textLayers = 3;
  ModelShape shape;
  ASSERT_TRUE(describeModel(h, shape));
  EXPECT_EQ(tensorCount(shape), 11u + 15u * 12 + 24u * 3);

  const struct {
    const char* name;
    bool found;
  } rows[] = {
      {"encoder.positional_embedding", true},
      {"decoder.token_embedding.weight", true},
      {"encoder.blocks.0.attn.query.weight", true},
      {"encoder.blocks.11.mlp.2.bias", true},
      {"decoder.blocks.2.cross_attn.out.weight", true},
      {"encoder.blocks.12.mlp.2.bias", false},    // one layer past the last
      {"decoder.blocks.0.attn.key.bias", false},  // keys have no bias
      {"encoder.blocks.0.cross_attn.out.weight", false},
      {"encoder.blocks.01.mlp.0.weight", false},  // the library prints "%d"
      {"encoder.blocks.-1.mlp.0.weight", false},
      {"encoder.blocks..mlp.0.weight", false},
      {"encoder.blocks.99999999999999999999.mlp.0.weight", false},
      {"encoder.blocks.0", false},
      {"", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(findTensor(shape, row.name) >= 0, row.found);
  }

  // Every number belongs to exactly one name.
  std::set<int64_t> numbers;
  for (int32_t layer = 0; layer < h.audioLayers; ++layer) {
    for (const NamedTensor& t : shape.encoderLayer) {
      numbers.insert(findTensor(shape, "encoder.blocks." + std::to_string(layer) + "." + t.name));
    }
  }
  for (int32_t layer = 0; layer < h.textLayers; ++layer) {
    for (const NamedTensor& t : shape.decoderLayer) {
      numbers.insert(findTensor(shape, "decoder.blocks." + std::to_string(layer) + "." + t.name));
    }
  }
  for (const NamedTensor& t : shape.model) numbers.insert(findTensor(shape, t.name));
  EXPECT_EQ(numbers.size(), tensorCount(shape));
  EXPECT_EQ(*numbers.begin(), 0);
  EXPECT_EQ(*numbers.rbegin(), static_cast<int64_t>(tensorCount(shape)) - 1);

  const TensorShape& query = tensorShape(shape, findTensor(shape, "decoder.blocks.2.cross_attn.query.weight"));
  EXPECT_EQ(query.type, GGML_TYPE_F16);
  EXPECT_EQ(query.extent[0], 32);
  EXPECT_EQ(query.extent[1], 32);
  const TensorShape& mlp = tensorShape(shape, findTensor(shape, "encoder.blocks.7.mlp.0.weight"));
  EXPECT_EQ(mlp.extent[1], 4 * 32);
  const TensorShape& conv = tensorShape(shape, findTensor(shape, "encoder.conv1.weight"));
  EXPECT_EQ(conv.extent[0], 3);
  EXPECT_EQ(conv.extent[1], 80);
  EXPECT_EQ(conv.extent[2], 32);
}

TEST(ModelShape, TakesTheRecordsTheLibraryTakesForATensor) {
  TensorShape conv;  // encoder.conv1.bias of width 32
  conv.type = GGML_TYPE_F32;
  conv.extent[0] = 1;
  conv.extent[1] = 32;
  TensorShape matrix;
  matrix.type = GGML_TYPE_F16;
  matrix.extent[0] = 32;
  matrix.extent[1] = 128;

  const struct {
    const char* name;
    const TensorShape& tensor;
    int32_t type, dimensions;
    int32_t extent[4];
    bool fits;
  } rows[] = {
      {"as written", conv, GGML_TYPE_F32, 2, {1, 32, 7, 7}, true},
      {"a third extent of 1", conv, GGML_TYPE_F32, 3, {1, 32, 1, 7}, true},
      {"a fourth extent of 1", conv, GGML_TYPE_F32, 4, {1, 32, 1, 1}, true},
      {"a fourth extent of 2", conv, GGML_TYPE_F32, 4, {1, 32, 1, 2}, false},
      {"extents swapped", conv, GGML_TYPE_F32, 2, {32, 1, 7, 7}, false},
      {"one dimension short", conv, GGML_TYPE_F32, 1, {1, 32, 7, 7}, false},
      {"f16 data for f32", conv, GGML_TYPE_F16, 2, {1, 32, 7, 7}, false},
      {"matrix as written", matrix, GGML_TYPE_F16, 2, {32, 128, 7, 7}, true},
      // The library compares only the data's size: bf16 data reads as f16.
      {"bf16 data for f16", matrix, GGML_TYPE_BF16, 2, {32, 128, 7, 7}, true},
      {"q8_0 data for f16", matrix, GGML_TYPE_Q8_0, 2, {32, 128, 7, 7}, false},
      {"a retired type", matrix, 4, 2, {32, 128, 7, 7}, false},
      {"type past the last", matrix, GGML_TYPE_COUNT, 2, {32, 128, 7, 7}, false},
      {"negative type", matrix, -1, 2, {32, 128, 7, 7}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(recordFitsTensor(row.tensor, row.type, row.dimensions, row.extent), row.fits);
  }
}

TEST(ModelShape, CountsTheLeastBytesOfTheTensorRecords) {
  ModelHeader h = smallHeader();
  ModelShape one;
  ASSERT_TRUE(describeModel(h, one));
  h.audioLayers = 81;
  ModelShape many;
  ASSERT_TRUE(describeModel(h, many));
  EXPECT_EQ(many.encoderLayer.size(), one.encoderLayer.size());
  // A layer of width 32 holds 12 matrices of 32 x 32 in f16, and more.
  EXPECT_GT(leastTensorRecordBytes(many) - leastTensorRecordBytes(one), 80ull * 12 * 32 * 32 * 2);
  // The generated model: its records and nothing more, names of layer 0 included.
  uint64_t data = 0;
  for (const auto* list : {&one.model, &one.encoderLayer, &one.decoderLayer}) {
    for (const NamedTensor& t : *list) data += tensorBytes(t.shape);
  }
  EXPECT_GT(leastTensorRecordBytes(one), data);
  EXPECT_LT(leastTensorRecordBytes(one), data + 50 * 64);
}

}  // namespace
