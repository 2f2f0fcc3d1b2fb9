// A trial load of the PocketSphinx model in a child process. On a damaged model
// the library may return an error, call exit() from its fatal-error path, abort,
// or crash while it parses a malformed file; in the child none of these can take
// selvane down, and the parent learns which it was.
#pragma once

#include <string>

namespace speech {

struct ModelProbe {
  bool loads = true;
  std::string reason;  // why it does not load: the library's message where it gave one
};

// Loads the model from modelDir as PocketsphinxSession::make does (but reading its
// files rather than mapping them, which checks their sizes), checks its dictionary
// and decodes a quarter of a second of faint noise with it, in a child process;
// blocks until the child ends.
// Called on the main thread while selvane has no other thread running. When no
// child can be started, says the model loads: the caller's own load decides.
ModelProbe probeModel(const std::string& modelDir);

}  // namespace speech
