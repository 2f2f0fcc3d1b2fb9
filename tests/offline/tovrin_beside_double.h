// A copy of tovrin that runs against the stand-in for libwhisper: the binary in
// FOLDER/bin, the stand-in and ggml's own libraries in FOLDER/bin/lib.
#pragma once

#include <string>

namespace test_support {

void placeTovrinBesideDouble(const std::string& folder);

// A model file that tovrin's check takes (the narrowest model, with zeros for
// weights) and whose vocabulary is one word, the text given, which the stand-in
// records.
std::string modelFileNamed(const std::string& word);

}  // namespace test_support
