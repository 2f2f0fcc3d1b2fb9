// selvane: streams audio from the input channel to the speech recognizer and writes
// its results as event lines until the final result, an error or the end-of-input
// timeout ends the process.
#include <csignal>

#include "dispatch.h"
#include "named_pipes.h"
#include "startup.h"

int main(int argc, char** argv) {
  // A host that has stopped reading must not kill us mid-line; the writers go on.
  std::signal(SIGPIPE, SIG_IGN);
  bindStandardStreams();
  fixAudioFormat();
  parseArgs(argc, argv);
  passPermissionGate();
  createRecognizer();
  createRequest();
  resetRunState();
  startRecognitionTask();
  startInputReader();
  dispatch::dispatchMain();
}
