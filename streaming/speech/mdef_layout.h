// The size check of a binary model definition (the acoustic model's mdef) that
// the library leaves out: it takes the counts in the file's header and reads
// the tables they imply, past the end of a file cut short, which crashes or
// not depending on the memory layout.
#pragma once

#include <string>

namespace speech {

// Why the mdef at path is too short for the tables its header declares; empty
// when it is long enough, or when it is not in the binary form (the library
// parses the text form itself and reports its faults). Reads only the header
// and the phone names. Safe from any thread.
std::string binaryMdefProblem(const std::string& path);

}  // namespace speech
