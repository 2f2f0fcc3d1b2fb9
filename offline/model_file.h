#pragma once
// The model file as the speech library reads it, through a whisper_model_loader,
// noticing a file that ends early. The library's own file loader counts a tensor
// whose data the file cuts short as loaded, and would transcribe with it.
#include <cstdio>
#include <string>

#include <whisper.h>

struct ModelFile {
  std::FILE* file = nullptr;
  bool endedEarly = false;  // some read found fewer bytes than the library asked for
  int readsAtEnd = 0;       // reads in a row that found the file already at its end
};

// Opens the file at the path, taken verbatim; false when it cannot be opened.
bool openModelFile(const std::string& path, ModelFile& model);

// Walks the file's layout before the library reads it: every size the file
// declares (mel filters, vocabulary words, tensor names and data) must fit in
// what is left of it, and a tensor record has at most 4 dimensions of a known
// type. The library sizes its buffers by these fields before it reads into them,
// so a crafted one would have it allocate and zero gigabytes (or be killed for
// it), and it reads the dimensions into an array of 4. Leaves the file at its start.
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
