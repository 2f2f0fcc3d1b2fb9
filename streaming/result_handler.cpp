#include "result_handler.h"

#include "event_writer.h"
#include "state.h"

void resultHandler(const speech::RecognitionResult* result, const speech::RecognitionError* error) {
  if (result != nullptr) {
    const std::string& text = result->formattedString;
    if (result->isFinal) {
      finalReceived = true;
      writeResult(text, true);
      if (auto timeout = loadEofTimeout()) timeout->cancel();
      debug("Final result received, exiting");
      exitProcess(0);
    }
    lastPartialText = text;
    writeResult(text, false);
  }
  if (error == nullptr) return;

  if (error->code != 1 && error->code != 216) {
    debug("Recognition error: " + error->localizedDescription);
    writeError("recognition_error: " + error->localizedDescription);
  }
  if (!finalReceived && !lastPartialText.empty()) writeResult(lastPartialText, true);
  exitProcess(error->isTaskCancellation ? 0 : 1);
}
