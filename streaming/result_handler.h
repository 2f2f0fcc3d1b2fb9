// The handler of recognition results and errors, on the main queue.
#pragma once

#include "speech/speech_recognizer.h"

// Writes partial and final results, reports errors (those with code 1 or 216
// silently), and ends the process after a final result or any error.
void resultHandler(const speech::RecognitionResult* result, const speech::RecognitionError* error);
