// libFuzzer target: mutated model files through tovrin's model load on the real
// library. Run by scripts/fuzz.sh (make fuzz).
#include <cstddef>
#include <cstdint>

#include "compute_backends.h"
#include "model_load_entry.h"

// Once, before the first input: ggml opens every CPU variant to pick the best,
// which would count against the first input's time.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  loadComputeBackends();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loadModelFromBytes(data, size);
  return 0;
}
