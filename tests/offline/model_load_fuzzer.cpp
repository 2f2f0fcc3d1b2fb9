// libFuzzer target: mutated model files through tovrin's model load on the real
// library. Run by scripts/fuzz.sh (make fuzz).
#include <cstddef>
#include <cstdint>

#include "model_load_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loadModelFromBytes(data, size);
  return 0;
}
