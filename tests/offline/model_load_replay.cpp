// Replays the model files the fuzzer found something with, through the same model
// load, without libFuzzer: each file's name says what tovrin must make of it
// ("loads-..." usable, "refused-..." not). The faults they found (a crash, a hang,
// memory errors under the sanitizers) would end this run.
//
// usage: model_load_replay FOLDER
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model_load_entry.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: model_load_replay FOLDER\n");
    return 2;
  }
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(argv[1])) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());  // the same order on every run
  int failures = 0, replayed = 0;
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    const bool loads = name.rfind("loads-", 0) == 0;
    if (!loads && name.rfind("refused-", 0) != 0) continue;  // a note, not an input
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool usable = loadModelFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
    if (usable != loads) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), usable ? "loaded, should be refused" : "refused, should load");
      ++failures;
    }
  }
  std::printf("replayed %d model files, %d with the wrong outcome\n", replayed, failures);
  return failures == 0 && replayed > 0 ? 0 : 1;
}
