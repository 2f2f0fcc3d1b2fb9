#pragma once
// ggml aborts the process on a failed internal assertion (a model whose weights
// it cannot compute with, for one). Such an abort is turned into the error event
// of the stage the run is in, so the host still gets an event line and status 1.

// The error code to report when the library aborts from now on; nullptr lets an
// abort happen as the library would have it (after the event line is out).
void reportLibraryAbortAs(const char* code);
