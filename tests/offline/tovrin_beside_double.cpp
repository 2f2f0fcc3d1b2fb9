#include "tovrin_beside_double.h"

#include <cstdint>
#include <filesystem>

#include "model_shape.h"

namespace fs = std::filesystem;

namespace test_support {

void placeTovrinBesideDouble(const std::string& folder) {
  fs::create_directories(folder + "/bin/lib");
  fs::copy_file(TOVRIN_BINARY, folder + "/bin/tovrin");
  fs::copy_file(WHISPER_DOUBLE, folder + "/bin/lib/" WHISPER_LIBRARY_FILE);
  // ggml's own libraries, by their sonames; not the CPU variants it loads at run time.
  const std::string sonameEnd = GGML_SONAME_END;
  for (const auto& entry : fs::directory_iterator(fs::path(TOVRIN_BINARY).parent_path() / "lib")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("libggml", 0) == 0 && name.size() > sonameEnd.size() &&
        name.compare(name.size() - sonameEnd.size(), sonameEnd.size(), sonameEnd) == 0) {
      fs::copy_file(entry.path(), folder + "/bin/lib/" + name);
    }
  }
}

std::string modelFileNamed(const std::string& word) {
  std::string bytes;
  auto int32 = [&bytes](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v >> (8 * i));
  };
  // The narrowest model tovrin's check takes: width 1, one decoder layer, f16.
  ModelHeader header;
  header.vocab = 51864;
  header.audioCtx = header.textCtx = 1;
  header.audioState = header.textState = 1;
  header.audioHeads = header.textHeads = 1;
  header.audioLayers = 0;
  header.textLayers = 1;
  header.mels = 1;
  header.ftype = 1;
  ModelShape shape;
  describeModel(header, shape);
  int32(0x67676d6c);  // "ggml"
  for (int32_t v : {header.vocab, header.audioCtx, header.audioState, header.audioHeads, header.audioLayers,
                    header.textCtx, header.textState, header.textHeads, header.textLayers, header.mels,
                    header.ftype}) {
    int32(static_cast<uint32_t>(v));
  }
  int32(1);
  int32(kMelFilterBins);
  bytes += std::string(kMelFilterBins * sizeof(float), '\0');
  int32(1);
  int32(static_cast<uint32_t>(word.size()));
  bytes += word;
  auto tensor = [&](const std::string& name, const TensorShape& t) {
    int32(3);
    int32(static_cast<uint32_t>(name.size()));
    int32(static_cast<uint32_t>(t.type));
    for (int64_t extent : t.extent) int32(static_cast<uint32_t>(extent));
    bytes += name;
    bytes += std::string(tensorBytes(t), '\0');
  };
  for (const NamedTensor& t : shape.model) tensor(t.name, t.shape);
  for (const NamedTensor& t : shape.decoderLayer) tensor("decoder.blocks.0." + t.name, t.shape);
  return bytes;
}

}  // namespace test_support
