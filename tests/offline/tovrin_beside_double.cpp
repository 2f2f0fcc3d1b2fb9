#include "tovrin_beside_double.h"

#include <cstdint>
#include <filesystem>

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
  std::string bytes(14 * 4, '\0');
  auto int32 = [&bytes](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v >> (8 * i));
  };
  int32(1);
  int32(static_cast<uint32_t>(word.size()));
  return bytes + word;
}

}  // namespace test_support
