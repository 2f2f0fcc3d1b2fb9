#pragma once
// The model file as the speech library reads it, through a whisper_model_loader,
// noticing a file that ends early. The library's own file loader counts a tensor
// whose data the file cuts short as loaded, and would transcribe with it.
#include <cstdint>
#include <cstdio>
#include <string>

#include <whisper.h>

struct ModelFile {
  std::FILE* file = nullptr;
  bool endedEarly = false;  // some read found fewer bytes than the library asked for
  int readsAtEnd = 0;       // reads in a row that found the file already at its end
  uint64_t position = 0;    // bytes the library has read
  uint64_t end = UINT64_MAX;  // where the model ends: the library reads nothing beyond
};

// Opens the file at the path, taken verbatim; false when it cannot be opened.
bool openModelFile(const std::string& path, ModelFile& model);

// Walks the file before the library reads it, and keeps it only if it holds the
// model its header describes (model_shape.h): the mel filters for the header's
// bands, no more vocabulary words than its vocabulary, and every tensor the
// header implies, once, with its shape and type. So the library never builds or
// allocates more than the file holds: it sizes its tables and buffers by these
// fields, and a crafted header (a million layers, 2^31 words) would keep it busy
// for minutes and have it ask for gigabytes. Every size the file declares must
// fit in what is left of it, and a tensor record has at most 4 dimensions of a
// known type, since the library reads the dimensions into an array of 4.
// After the last tensor there may be fewer bytes than the fields of a next
// record, which the library's own file loader ignores; they are not handed to the
// library. Leaves the file at its start.
bool modelLayoutFits(ModelFile& model);

// The loader over the open file. Every read fills the whole output: what the file
// does not hold is zeros, so the library never sees stale memory. A read that
// shows that the file has ended early throws (std::runtime_error), which stops
// the library's load at once; only its own load may call the loader.
whisper_model_loader modelFileLoader(ModelFile& model);

// True when the library has read the file to its end and no further, once it has
// returned. The library finds the end by reading the three fields of a next
// tensor record and asking eof(); every other read past the end (a read that
// comes up short, or more or fewer reads at the end before eof()) means that the
// file was cut short.
bool modelFileReadWhole(const ModelFile& model);

void closeModelFile(ModelFile& model);
