// Writes a Whisper model in whisper.cpp's ggml file format with random weights,
// so that the real library can be run without downloading a model. The default
// shape is tiny; the benchmark asks for the tiny.en shape.
//
// usage: make-test-model OUTPUT [--layers N] [--text-layers N] [--state N] [--heads N] [--vocab N]
//                               [--mels N] [--audio-ctx N] [--text-ctx N]
//                               [--words N] [--ftype f32|f16] [--seed N]
// --layers sets both layer counts, --text-layers then the decoder's alone.
// --words sets how many vocabulary entries the file holds (by default the vocab
// size, at most 50257), so a test can write more than the header announces.
// Prints "mels_end OFFSET", "vocab_end OFFSET" and "size BYTES" so tests can cut
// the file at known places.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Shape {
  int32_t layers = 1, state = 32, heads = 2, vocab = 51864, mels = 80;
  int32_t audioCtx = 1500, textCtx = 448;
  int32_t words = -1;  // -1: the vocab size, at most 50257
  int32_t textLayers = -1;  // -1: as many as the encoder
  bool f16 = false;
  uint32_t seed = 1;
};

enum class Kind { F32, Weight, Conv };  // Weight and Conv follow the file type
enum class Init { Random, One, Zero };

struct Writer {
  std::FILE* file;
  std::mt19937 rng;
  bool f16;

  void bytes(const void* data, size_t size) { std::fwrite(data, 1, size, file); }
  void i32(int32_t v) { bytes(&v, sizeof v); }
  void u32(uint32_t v) { bytes(&v, sizeof v); }
  long offset() { return std::ftell(file); }
};

uint16_t toHalf(float value) {
  uint32_t x;
  std::memcpy(&x, &value, sizeof x);
  const uint32_t sign = (x >> 16) & 0x8000u;
  const int32_t exponent = static_cast<int32_t>((x >> 23) & 0xFF) - 127 + 15;
  uint32_t mantissa = x & 0x7FFFFFu;
  if (exponent <= 0) {  // subnormal half, or zero
    if (exponent < -10) return static_cast<uint16_t>(sign);
    mantissa |= 0x800000u;
    const int shift = 14 - exponent;
    uint32_t half = mantissa >> shift;
    if ((mantissa >> (shift - 1)) & 1u) ++half;
    return static_cast<uint16_t>(sign | half);
  }
  if (exponent >= 31) return static_cast<uint16_t>(sign | 0x7C00u);
  uint32_t half = sign | (static_cast<uint32_t>(exponent) << 10) | (mantissa >> 13);
  if (mantissa & 0x1000u) ++half;  // round half up; enough for random weights
  return static_cast<uint16_t>(half);
}

void tensor(Writer& w, const std::string& name, std::vector<int32_t> ne, Kind kind,
            Init init = Init::Random) {
  const bool half = kind != Kind::F32 && w.f16;
  size_t count = 1;
  for (int32_t n : ne) count *= static_cast<size_t>(n);
  w.i32(static_cast<int32_t>(ne.size()));
  w.i32(static_cast<int32_t>(name.size()));
  w.i32(half ? 1 : 0);  // GGML_TYPE_F16 : GGML_TYPE_F32
  for (int32_t n : ne) w.i32(n);
  w.bytes(name.data(), name.size());

  // Scaled like a trained network's weights, so activations stay finite.
  const float fanIn = static_cast<float>(ne[0] * (ne.size() == 3 ? ne[1] : 1));
  const float bound = init == Init::Random ? 1.0f / std::sqrt(fanIn) : 0.0f;
  std::uniform_real_distribution<float> uniform(-bound, bound);
  std::vector<unsigned char> data(count * (half ? 2 : 4));
  for (size_t i = 0; i < count; ++i) {
    const float v = init == Init::One ? 1.0f : init == Init::Zero ? 0.0f : uniform(w.rng);
    if (half) {
      const uint16_t h = toHalf(v);
      std::memcpy(&data[2 * i], &h, 2);
    } else {
      std::memcpy(&data[4 * i], &v, 4);
    }
  }
  w.bytes(data.data(), data.size());
}

void norm(Writer& w, const std::string& prefix, int32_t n) {
  tensor(w, prefix + ".weight", {n}, Kind::F32, Init::One);
  tensor(w, prefix + ".bias", {n}, Kind::F32, Init::Zero);
}

void attention(Writer& w, const std::string& prefix, int32_t n) {
  tensor(w, prefix + ".query.weight", {n, n}, Kind::Weight);
  tensor(w, prefix + ".query.bias", {n}, Kind::F32);
  tensor(w, prefix + ".key.weight", {n, n}, Kind::Weight);
  tensor(w, prefix + ".value.weight", {n, n}, Kind::Weight);
  tensor(w, prefix + ".value.bias", {n}, Kind::F32);
  tensor(w, prefix + ".out.weight", {n, n}, Kind::Weight);
  tensor(w, prefix + ".out.bias", {n}, Kind::F32);
}

void block(Writer& w, const std::string& prefix, int32_t n, bool cross) {
  norm(w, prefix + ".mlp_ln", n);
  tensor(w, prefix + ".mlp.0.weight", {n, 4 * n}, Kind::Weight);
  tensor(w, prefix + ".mlp.0.bias", {4 * n}, Kind::F32);
  tensor(w, prefix + ".mlp.2.weight", {4 * n, n}, Kind::Weight);
  tensor(w, prefix + ".mlp.2.bias", {n}, Kind::F32);
  norm(w, prefix + ".attn_ln", n);
  attention(w, prefix + ".attn", n);
  if (cross) {
    norm(w, prefix + ".cross_attn_ln", n);
    attention(w, prefix + ".cross_attn", n);
  }
}

// Token text as whisper.cpp stores it: raw bytes. The first 256 tokens are the
// single bytes, as in the real vocabulary, so random decoding also yields control
// bytes, quotes and broken UTF-8.
std::string tokenText(int32_t id) {
  if (id < 256) return std::string(1, static_cast<char>(id));
  std::string word = " ";
  for (int32_t v = id; v > 0; v /= 26) word += static_cast<char>('a' + v % 26);
  return word;
}

bool parse(int argc, char** argv, Shape& s, std::string& out) {
  if (argc < 2) return false;
  out = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    const int32_t n = std::atoi(value.c_str());
    if (key == "--layers") s.layers = n;
    else if (key == "--text-layers") s.textLayers = n;
    else if (key == "--state") s.state = n;
    else if (key == "--heads") s.heads = n;
    else if (key == "--vocab") s.vocab = n;
    else if (key == "--mels") s.mels = n;
    else if (key == "--audio-ctx") s.audioCtx = n;
    else if (key == "--text-ctx") s.textCtx = n;
    else if (key == "--words") s.words = n;
    else if (key == "--seed") s.seed = static_cast<uint32_t>(n);
    else if (key == "--ftype") s.f16 = value == "f16";
    else return false;
  }
  return (argc % 2) == 0 && s.layers >= 0 && s.state > 0 && s.heads > 0 && s.state % s.heads == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Shape s;
  std::string out;
  if (!parse(argc, argv, s, out)) {
    std::fprintf(stderr,
                 "usage: make-test-model OUTPUT [--layers N] [--text-layers N] [--state N] [--heads N] [--vocab N] "
                 "[--mels N] [--audio-ctx N] [--text-ctx N] [--words N] [--ftype f32|f16] [--seed N]\n");
    return 2;
  }
  std::FILE* file = std::fopen(out.c_str(), "wb");
  if (file == nullptr) {
    std::perror(out.c_str());
    return 1;
  }
  Writer w{file, std::mt19937(s.seed), s.f16};
  const int32_t textLayers = s.textLayers >= 0 ? s.textLayers : s.layers;

  w.u32(0x67676d6c);  // "ggml"
  for (int32_t v : {s.vocab, s.audioCtx, s.state, s.heads, s.layers, s.textCtx, s.state, s.heads, textLayers,
                    s.mels, s.f16 ? 1 : 0}) {
    w.i32(v);
  }

  const int32_t nFft = 201;  // 1 + 400 / 2, what the library's spectrogram expects
  w.i32(s.mels);
  w.i32(nFft);
  std::uniform_real_distribution<float> filter(0.0f, 0.02f);
  for (int32_t i = 0; i < s.mels * nFft; ++i) {
    const float v = filter(w.rng);
    w.bytes(&v, sizeof v);
  }

  const long melsEnd = w.offset();

  // The library adds the special tokens after end-of-text itself.
  const int32_t words = s.words >= 0 ? s.words : s.vocab < 50257 ? s.vocab : 50257;
  w.i32(words);
  for (int32_t id = 0; id < words; ++id) {
    const std::string text = id == 50256 ? "<|endoftext|>" : tokenText(id);
    w.u32(static_cast<uint32_t>(text.size()));
    w.bytes(text.data(), text.size());
  }
  const long vocabEnd = w.offset();

  const int32_t n = s.state;
  tensor(w, "encoder.positional_embedding", {n, s.audioCtx}, Kind::F32);
  tensor(w, "encoder.conv1.weight", {3, s.mels, n}, Kind::Conv);
  tensor(w, "encoder.conv1.bias", {1, n}, Kind::F32);
  tensor(w, "encoder.conv2.weight", {3, n, n}, Kind::Conv);
  tensor(w, "encoder.conv2.bias", {1, n}, Kind::F32);
  norm(w, "encoder.ln_post", n);
  for (int32_t i = 0; i < s.layers; ++i) block(w, "encoder.blocks." + std::to_string(i), n, false);
  tensor(w, "decoder.positional_embedding", {n, s.textCtx}, Kind::F32);
  tensor(w, "decoder.token_embedding.weight", {n, s.vocab}, Kind::Weight);
  norm(w, "decoder.ln", n);
  for (int32_t i = 0; i < textLayers; ++i) block(w, "decoder.blocks." + std::to_string(i), n, true);

  const long size = w.offset();
  const bool ok = std::fclose(file) == 0;
  if (!ok) {
    std::perror(out.c_str());
    return 1;
  }
  std::printf("mels_end %ld\nvocab_end %ld\nsize %ld\n", melsEnd, vocabEnd, size);
  return 0;
}
