// Audio ingestion and the end-of-input timeout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "speech/pcm_buffer.h"

// Runs once on inputQueue: reads inputHandle chunk by chunk, appends one buffer
// per chunk to request, and at the end of the input ends the audio and arms the
// 5-second timeout on the main queue.
void inputReader();

// One buffer in audioFormat holding the size / 2 whole samples of bytes (signed
// 16-bit little-endian, each s becoming s / 32768), or nullptr when size < 2 or
// no buffer can be made.
std::unique_ptr<speech::PcmBuffer> pcmBufferFromInt16Data(const uint8_t* bytes, size_t size);

// Runs on the main queue when the timeout fires: the fallback final result, then
// exit with status 0.
void timeoutHandler();
