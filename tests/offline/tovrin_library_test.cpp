// tovrin with the real whisper.cpp on models from make-test-model: random weights,
// tiny dimensions, nothing downloaded.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "files.h"
#include "run_process.h"

namespace fs = std::filesystem;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

namespace {

struct Model {
  std::string path;
  long melsEnd = 0;
  long vocabEnd = 0;
  long size = 0;
};

Model makeModel(const std::string& path, std::vector<std::string> extra = {}) {
  RunOptions options;
  options.args = {path};
  options.args.insert(options.args.end(), extra.begin(), extra.end());
  const RunResult r = runProcess(MODEL_GENERATOR, options);
  EXPECT_EQ(r.status, 0) << r.err;
  Model model{path};
  std::istringstream layout(r.out);
  std::string key;
  long value = 0;
  while (layout >> key >> value) {
    if (key == "mels_end") model.melsEnd = value;
    if (key == "vocab_end") model.vocabEnd = value;
    if (key == "size") model.size = value;
  }
  return model;
}

// Two seconds of a gliding tone with some noise: something for the encoder to chew on.
std::string speechLikeAudio(int seconds = 2) {
  std::string bytes;
  unsigned noise = 12345;
  for (int i = 0; i < seconds * 16000; ++i) {
    noise = noise * 1103515245u + 12345u;
    const double t = i / 16000.0;
    const double v = 8000 * std::sin(2 * M_PI * (200 + 100 * t) * t) + static_cast<int>(noise >> 22) - 512;
    const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
    bytes += static_cast<char>(s & 0xFF);
    bytes += static_cast<char>(s >> 8);
  }
  return bytes;
}

RunResult runTovrin(const std::string& program, std::vector<std::string> args, const std::string& cwd = "",
                    std::vector<std::string> environment = {}) {
  RunOptions options;
  options.args = std::move(args);
  options.input = speechLikeAudio();
  options.workingDirectory = cwd;
  options.environment = std::move(environment);
  return runProcess(program, options);
}

// One line, strict JSON, exactly "text" and "isFinal": true.
void expectOneFinalResult(const RunResult& r) {
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_FALSE(r.out.empty());
  ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
  nlohmann::json event;
  ASSERT_NO_THROW(event = nlohmann::json::parse(r.out)) << r.out;
  EXPECT_EQ(event.size(), 2u);
  EXPECT_TRUE(event.at("text").is_string());
  EXPECT_EQ(event.at("isFinal"), true);
  EXPECT_EQ(r.out.rfind("{\"text\":\"", 0), 0u);
  EXPECT_NE(r.err.find(
                "[tovrin] Model loaded\n[tovrin] Read 32000 samples (2.0s)\n[tovrin] Running inference...\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("[tovrin] Result: "), std::string::npos);
}

TEST(TovrinWithWhisper, TranscribesWithAGeneratedModel) {
  TempDir folder;
  const Model model = makeModel(folder.file("model.bin"), {"--ftype", "f16"});
  expectOneFinalResult(runTovrin(TOVRIN_BINARY, {model.path}));
}

// The words of the library's empty-model warning in the path are not that warning.
TEST(TovrinWithWhisper, LoadsAModelWhosePathHoldsTheWordsOfTheEmptyModelWarning) {
  TempDir folder;
  const std::string words = "WARN no tensors loaded from model file - assuming empty model for testing";
  fs::create_directories(folder.file(words));
  const Model model = makeModel(folder.file(words + "/" + words + ".bin"), {"--ftype", "f16"});
  expectOneFinalResult(runTovrin(TOVRIN_BINARY, {model.path}));
}

TEST(TovrinWithWhisper, RunsFromACopyOfItsFolderWithTheDefaultModelPath) {
  TempDir folder;
  fs::create_directories(folder.file("elsewhere/bin"));
  fs::copy(fs::path(TOVRIN_BINARY).parent_path() / "lib", folder.file("elsewhere/bin/lib"),
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::copy_file(TOVRIN_BINARY, folder.file("elsewhere/bin/tovrin"));
  fs::create_directories(folder.file("work/models"));
  makeModel(folder.file("work/models/ggml-tiny.en.bin"), {"--ftype", "f16"});

  const RunResult r = runTovrin(folder.file("elsewhere/bin/tovrin"), {}, folder.file("work"));
  EXPECT_EQ(r.err.rfind("[tovrin] Loading model: ./models/ggml-tiny.en.bin\n", 0), 0u) << r.err;
  expectOneFinalResult(r);

  // The libraries come from beside the copy, not from the build.
  fs::remove_all(folder.file("elsewhere/bin/lib"));
  EXPECT_EQ(runTovrin(folder.file("elsewhere/bin/tovrin"), {}, folder.file("work")).status, 127);
}

// ggml loads one more backend from the library this variable names, unless tovrin
// keeps it from doing so.
TEST(TovrinWithWhisper, LoadsNoBackendFromTheEnvironment) {
  TempDir folder;
  const Model model = makeModel(folder.file("model.bin"), {"--ftype", "f16"});
  const RunResult r = runTovrin(TOVRIN_BINARY, {model.path}, "", {std::string("GGML_BACKEND_PATH=") + BACKEND_PROBE});
  EXPECT_EQ(r.out.find("backend probe loaded"), std::string::npos) << r.out;
  expectOneFinalResult(r);
}

TEST(TovrinWithWhisper, RefusesEveryBrokenModelFileWithoutCrashing) {
  TempDir folder;
  const Model model = makeModel(folder.file("model.bin"), {"--ftype", "f16"});
  const std::string whole = readFile(model.path);
  ASSERT_EQ(static_cast<long>(whole.size()), model.size);

  std::string badMagic = whole;
  badMagic[0] ^= 0x20;
  std::string badTensorName = whole;
  const size_t name = badTensorName.find("encoder.conv1.weight");
  ASSERT_NE(name, std::string::npos);
  badTensorName[name] = 'E';
  std::string badShape = whole;
  // The first tensor record starts right after the vocabulary: n_dims, name length, type, ne[0].
  badShape[model.vocabEnd + 12] ^= 0x01;
  auto withInt32At = [&whole](long offset, uint32_t value) {
    std::string bytes = whole;
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return bytes;
  };
  // The vocabulary's word count, right after the mel filters, in a file that ends
  // after the words: the library would go on reading past the end 2^31 times.
  const std::string hugeVocabulary = withInt32At(model.melsEnd, 0x7FFFFFFF).substr(0, model.vocabEnd);
  // Sizes the library allocates and fills before it reads: gigabytes, unchecked.
  const std::string hugeFilters = withInt32At(model.melsEnd - 201 * 80 * 4 - 8, 0x7FFFFFFF);
  const std::string hugeWord = withInt32At(model.melsEnd + 4, 0xFFFFFFF0);
  const std::string hugeTensorName = withInt32At(model.vocabEnd + 4, 0x7FFFFFFF);
  // Dimensions beyond the library's array of four.
  const std::string manyDimensions = withInt32At(model.vocabEnd, 64);
  const std::string unknownType = withInt32At(model.vocabEnd + 8, 1000);
  // The header's fields, after the magic: vocab, audio ctx, state, heads, layers,
  // text ctx, state, heads, layers, mels, ftype.
  auto header = [&withInt32At](int field, uint32_t value) { return withInt32At(4 + 4 * field, value); };
  // Two tensors of the same shape and name length: value.bias twice, no query.bias.
  std::string duplicateTensor = whole;
  const size_t queryBias = duplicateTensor.find("encoder.blocks.0.attn.query.bias");
  ASSERT_NE(queryBias, std::string::npos);
  duplicateTensor.replace(queryBias, 32, "encoder.blocks.0.attn.value.bias");
  std::string melBins = withInt32At(model.melsEnd - 201 * 80 * 4 - 4, 200);

  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"empty file", ""},
      {"cut after 1 kB", whole.substr(0, 1024)},
      {"cut inside the vocabulary", whole.substr(0, model.vocabEnd / 2)},
      {"cut after the vocabulary", whole.substr(0, model.vocabEnd)},
      {"cut inside the first tensor", whole.substr(0, model.vocabEnd + 100)},
      {"cut at half its length", whole.substr(0, whole.size() / 2)},
      {"cut 1000 bytes before the end", whole.substr(0, whole.size() - 1000)},
      // Inside the last tensor: the library's own file loader counts it as loaded.
      {"cut 128 bytes before the end", whole.substr(0, whole.size() - 128)},
      {"cut 10 bytes before the end", whole.substr(0, whole.size() - 10)},
      {"cut 1 byte before the end", whole.substr(0, whole.size() - 1)},
      {"vocabulary of 2^31 words", hugeVocabulary},
      {"2^31 mel filters", hugeFilters},
      {"a word of 4 GB", hugeWord},
      {"a tensor name of 2 GB", hugeTensorName},
      {"a tensor of 64 dimensions", manyDimensions},
      {"a tensor of an unknown type", unknownType},
      {"bad magic", badMagic},
      {"unknown tensor", badTensorName},
      {"wrong tensor shape", badShape},
      {"text, not a model", std::string(4096, 'x')},
      // The header against the tensors that are there.
      {"1,000,000 audio layers", header(4, 1000000)},
      {"1,000,000 text layers", header(8, 1000000)},
      {"2 audio layers over 1", header(4, 2)},
      {"no text layers over 1", header(8, 0)},
      {"vocabulary of 2^31 - 1 tokens", header(0, 0x7FFFFFFF)},
      {"audio context of 2^31 - 1", header(1, 0x7FFFFFFF)},
      {"text context of 2^31 - 1", header(5, 0x7FFFFFFF)},
      {"text context one longer", header(5, 449)},
      {"width 64 over 32", header(2, 64)},
      {"encoder and decoder widths apart", header(6, 64)},
      {"3 heads over a width of 32", header(3, 3)},
      {"no text heads", header(7, 0)},
      {"81 mel bands over 80", header(9, 81)},
      {"200 frequency bins in the mel filters", melBins},
      {"weights said to be f32", header(10, 0)},
      {"weights said to be q8_0", header(10, 7)},
      {"an unknown weight type", header(10, 1000000)},
      {"a tensor twice, another missing", duplicateTensor},
      // After the last tensor: a next record, of a tensor the model does not have.
      {"12 bytes more", whole + std::string(12, '\0')},
      {"the model twice", whole + whole},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(folder.file("broken.bin"), row.bytes);
    const RunResult r = runTovrin(TOVRIN_BINARY, {folder.file("broken.bin")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "{\"error\":\"model_load_failed\"}\n");
    EXPECT_EQ(r.err.find("[tovrin] Model loaded"), std::string::npos) << r.err;
  }
  const RunResult missing = runTovrin(TOVRIN_BINARY, {folder.file("missing.bin")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "{\"error\":\"model_load_failed\"}\n");
}

// A text context of 50000 makes the library throw std::length_error while it
// sets up its state, outside its own try block.
TEST(TovrinWithWhisper, ReportsAnExceptionWhileLoadingAsALoadFailure) {
  TempDir folder;
  const Model model = makeModel(folder.file("model.bin"), {"--ftype", "f16", "--text-ctx", "50000"});
  const RunResult r = runTovrin(TOVRIN_BINARY, {model.path});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "{\"error\":\"model_load_failed\"}\n");
}

// Models whose header and tensors agree, that the library cannot run: more
// vocabulary words than the header's n_vocab (an assertion of whisper.cpp that
// calls abort() when it decodes), a vocabulary without the library's special and
// timestamp tokens (decoding writes past the end of its logits), and more layers
// than its graphs hold (ggml aborts while the library sets up), no decoder layers
// (the library cannot allocate their caches). They are refused
// before the library reads them, so none of its loading lines appear.
TEST(TovrinWithWhisper, RefusesAModelTheLibraryCannotRun) {
  const std::vector<std::string> narrow = {"--state", "1", "--heads", "1", "--audio-ctx", "4",
                                           "--text-ctx", "4", "--mels", "2", "--words", "0"};
  auto narrowWith = [&narrow](std::vector<std::string> more) {
    more.insert(more.begin(), narrow.begin(), narrow.end());
    return more;
  };
  const std::vector<std::string> rows[] = {
      {"--ftype", "f16", "--words", "51865"},
      {"--ftype", "f16", "--vocab", "1000"},
      narrowWith({"--layers", "91", "--text-layers", "1"}),
      narrowWith({"--layers", "1", "--text-layers", "61"}),
      narrowWith({"--layers", "1", "--text-layers", "0"}),
  };
  for (const auto& options : rows) {
    SCOPED_TRACE(options[options.size() - 3] + " " + options.back());
    TempDir folder;
    const Model model = makeModel(folder.file("model.bin"), options);
    const RunResult r = runTovrin(TOVRIN_BINARY, {model.path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "{\"error\":\"model_load_failed\"}\n");
    EXPECT_EQ(r.err.find("whisper_"), std::string::npos) << r.err;
  }
}

// What the library loads whole is taken: it ignores bytes after the last tensor
// too few for a next record's fields, and takes other layer counts.
TEST(TovrinWithWhisper, LoadsEveryWholeModel) {
  TempDir folder;
  const Model model = makeModel(folder.file("model.bin"), {"--ftype", "f16"});
  const std::string whole = readFile(model.path);
  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"one byte more", whole + '\0'},
      {"11 bytes more", whole + std::string(11, '\x7F')},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(folder.file("longer.bin"), row.bytes);
    expectOneFinalResult(runTovrin(TOVRIN_BINARY, {folder.file("longer.bin")}));
  }
  const Model other = makeModel(folder.file("other.bin"), {"--ftype", "f16", "--layers", "2"});
  expectOneFinalResult(runTovrin(TOVRIN_BINARY, {other.path}));
  // As many layers as the library's graphs hold, and no encoder layers: loaded
  // (a width of 1 transcribes no 2 s of audio, hence no audio).
  const std::vector<std::string> narrow = {"--state", "1", "--heads", "1", "--audio-ctx", "4",
                                           "--text-ctx", "4", "--mels", "2", "--words", "0"};
  for (const auto& layers : {std::make_pair("90", "60"), std::make_pair("0", "1")}) {
    SCOPED_TRACE(std::string(layers.first) + " " + layers.second);
    std::vector<std::string> options = narrow;
    options.insert(options.end(), {"--layers", layers.first, "--text-layers", layers.second});
    const Model deep = makeModel(folder.file("deep.bin"), options);
    RunOptions run;
    run.args = {deep.path};
    const RunResult r = runProcess(TOVRIN_BINARY, run);
    EXPECT_EQ(r.out, "{\"error\":\"no_audio_data\"}\n") << r.err;
    EXPECT_NE(r.err.find("[tovrin] Model loaded\n"), std::string::npos);
  }
}

// A model that whisper.cpp 1.9.1 loads and then aborts on while transcribing: in
// f32, an assertion of ggml in the first convolution.
TEST(TovrinWithWhisper, ReportsAnAbortOfTheLibraryAsAnInferenceFailure) {
  const std::vector<std::string> rows[] = {
      {"--ftype", "f32"},
  };
  for (const auto& options : rows) {
    SCOPED_TRACE(options.back());
    TempDir folder;
    const Model model = makeModel(folder.file("model.bin"), options);
    const RunResult r = runTovrin(TOVRIN_BINARY, {model.path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "{\"error\":\"inference_failed\"}\n");
    EXPECT_NE(r.err.find("[tovrin] Model loaded\n"), std::string::npos) << r.err;
  }
}

}  // namespace
