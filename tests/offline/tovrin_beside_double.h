// A copy of tovrin that runs against the stand-in for libwhisper: the binary in
// FOLDER/bin, the stand-in and ggml's own libraries in FOLDER/bin/lib.
#pragma once

#include <string>

namespace test_support {

void placeTovrinBesideDouble(const std::string& folder);

// A model file that the stand-in reads: an empty header, no mel filters, and a
// vocabulary of one word, the text given, which it records.
std::string modelFileNamed(const std::string& word);

}  // namespace test_support
