#pragma once
// ggml's compute backends are libraries of their own (libggml-cpu-VARIANT.so, one
// per x86-64 instruction-set level) that it loads at run time, taking the best
// variant the processor supports. They are looked for in lib beside the
// executable only, like the other libraries, wherever the folder is copied to
// and whatever the working directory or the environment (GGML_BACKEND_PATH,
// which tovrin removes from its own) holds.

// Loads the backends from that folder, the first time it is called; without
// them no model can load. On Apple, where the backends are part of libggml,
// it does nothing.
void loadComputeBackends();
