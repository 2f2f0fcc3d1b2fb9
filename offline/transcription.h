#pragma once
// One whisper_full call over the whole recording, and the joined segment texts.
#include <string>
#include <vector>

struct whisper_context;

// Greedy decoding of English with 4 threads, whatever the number of processors,
// and nothing printed by the library. Returns true when whisper_full gave 0; an
// exception escaping the library counts as a failure.
bool transcribe(whisper_context* context, const std::vector<float>& audio);

// The texts of all segments of the last transcription, end to end, unchanged;
// a segment without text is skipped.
std::string joinSegments(whisper_context* context);
