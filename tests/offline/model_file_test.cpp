// The loader over a model file: which read patterns mean a file cut short.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "files.h"
#include "model_file.h"

using test_support::TempDir;
using test_support::writeFile;

namespace {

constexpr int kAskEnd = 0;  // a step that asks eof() instead of reading

struct LoaderRow {
  const char* name;
  size_t fileSize;
  std::vector<int> steps;  // bytes to read, or kAskEnd
  bool whole;
  int stopsAt;  // the step whose read throws to stop the load, or -1
};

TEST(ModelFile, TellsTheLibrarysEndOfFileProbeFromAFileCutShort) {
  const LoaderRow rows[] = {
      {"read to the end, then the probe of a next record", 20, {12, 8, 4, 4, 4, kAskEnd}, true, -1},
      {"eof asked before the end", 20, {12, kAskEnd, 8, 4, 4, 4, kAskEnd}, true, -1},
      {"last read comes up short", 20, {12, 10}, false, 1},
      {"data read right at the end", 20, {12, 8, 8, 4, 4, 4, kAskEnd}, false, 5},
      {"end inside the record's fields", 24, {12, 8, 4, 4, 4, kAskEnd}, false, -1},
      {"reads past the end without asking", 20, {20, 4, 4, 4}, false, -1},
      {"a count that reads on past the end", 8, {4, 4, 4, 4, 4, 4, 4, 4}, false, 5},
      {"empty file probed", 0, {4, 4, 4, kAskEnd}, true, -1},
  };
  TempDir folder;
  for (const LoaderRow& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(folder.file("model.bin"), std::string(row.fileSize, '\x7F'));
    ModelFile file;
    ASSERT_TRUE(openModelFile(folder.file("model.bin"), file));
    whisper_model_loader loader = modelFileLoader(file);
    int stoppedAt = -1;
    for (int i = 0; i < static_cast<int>(row.steps.size()) && stoppedAt < 0; ++i) {
      const int step = row.steps[i];
      if (step == kAskEnd) {
        loader.eof(loader.context);
        continue;
      }
      std::vector<char> output(static_cast<size_t>(step), '\x55');
      size_t got = 0;
      try {
        got = loader.read(loader.context, output.data(), output.size());
      } catch (const std::runtime_error&) {
        stoppedAt = i;
        got = 0;
        while (got < output.size() && output[got] == '\x7F') ++got;
      }
      ASSERT_LE(got, output.size());
      // What the file did not hold reads as zeros, never as what was in memory.
      for (size_t i = 0; i < output.size(); ++i) {
        ASSERT_EQ(output[i], i < got ? '\x7F' : '\0') << "byte " << i;
      }
    }
    loader.close(loader.context);
    EXPECT_EQ(stoppedAt, row.stopsAt);
    EXPECT_EQ(modelFileReadWhole(file), row.whole);
  }
}

TEST(ModelFile, CannotOpenWhatIsNotThere) {
  TempDir folder;
  ModelFile file;
  EXPECT_FALSE(openModelFile(folder.file("missing.bin"), file));
}

}  // namespace
