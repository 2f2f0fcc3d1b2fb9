#pragma once
// tovrin's model load on the real library, over the bytes of a model file: the
// entry point of the model file fuzzer and of its replay in the tests.
#include <cstddef>
#include <cstdint>

// Writes the bytes to a file of this process and loads it as tovrin does;
// true when the model is usable. The library's log lines are dropped.
bool loadModelFromBytes(const uint8_t* data, size_t size);
