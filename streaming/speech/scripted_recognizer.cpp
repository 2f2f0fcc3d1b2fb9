// A recognizer that plays a script, for the process tests of selvane-scripted.
// The script is the file named by SELVANE_SCRIPT, one JSON directive a line:
//   {"authorization": N}                       status given to the callback (default 3)
//   {"recognizer": "available"|"unavailable"|"missing", "onDevice": true|false}
//   {"recordAudio": "PATH"}                    appended samples go to PATH as float32 LE
//   {"at": TRIGGER, "result": {"text": "...", "isFinal": false},
//    "error": {"code": 216, "description": "...", "cancelled": false}}
// TRIGGER is "samples:N" (N samples appended in all), "end" (endAudio called) or
// "end+MS" (MS milliseconds after endAudio). The calls are made on the main queue,
// in script order, each once.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "dispatch.h"
#include "file_handle.h"
#include "speech/speech_recognizer.h"

namespace speech {
namespace {

struct ScriptedCall {
  enum class Trigger { kSamples, kEnd, kAfterEnd } trigger = Trigger::kEnd;
  uint64_t samples = 0;
  std::chrono::milliseconds delay{0};
  std::optional<RecognitionResult> result;
  std::optional<RecognitionError> error;
};

struct Script {
  int64_t authorization = kAuthorized;
  std::string recognizer = "available";
  bool onDevice = true;
  std::string recordAudio;
  std::vector<ScriptedCall> calls;
};

// A broken script is a fault of the test, not an outcome of the program, hence a
// status the program itself never uses.
[[noreturn]] void badScript(const std::string& why) {
  const std::string line = "[scripted] bad script: " + why + "\n";
  FileHandle(STDERR_FILENO).writeAll(line.data(), line.size());
  std::_Exit(2);
}

ScriptedCall parseCall(const nlohmann::json& directive) {
  ScriptedCall call;
  const std::string at = directive.at("at").get<std::string>();
  if (at == "end") {
    call.trigger = ScriptedCall::Trigger::kEnd;
  } else if (at.rfind("end+", 0) == 0) {
    call.trigger = ScriptedCall::Trigger::kAfterEnd;
    call.delay = std::chrono::milliseconds(std::stoll(at.substr(4)));
  } else if (at.rfind("samples:", 0) == 0) {
    call.trigger = ScriptedCall::Trigger::kSamples;
    call.samples = std::stoull(at.substr(8));
  } else {
    badScript("unknown trigger " + at);
  }
  if (directive.contains("result")) {
    const auto& r = directive.at("result");
    call.result = RecognitionResult{r.at("text").get<std::string>(), r.value("isFinal", false)};
  }
  if (directive.contains("error")) {
    const auto& e = directive.at("error");
    call.error = RecognitionError{e.at("code").get<long>(), e.value("description", std::string()),
                                  e.value("cancelled", false)};
  }
  return call;
}

Script loadScript() {
  Script script;
  const char* path = std::getenv("SELVANE_SCRIPT");
  if (path == nullptr) return script;
  std::ifstream in(path);
  if (!in) badScript(std::string("cannot read ") + path);
  std::string line;
  try {
    while (std::getline(in, line)) {
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      const nlohmann::json directive = nlohmann::json::parse(line);
      if (directive.contains("authorization"))
        script.authorization = directive.at("authorization").get<int64_t>();
      if (directive.contains("recognizer")) {
        script.recognizer = directive.at("recognizer").get<std::string>();
        script.onDevice = directive.value("onDevice", true);
      }
      if (directive.contains("recordAudio"))
        script.recordAudio = directive.at("recordAudio").get<std::string>();
      if (directive.contains("at")) script.calls.push_back(parseCall(directive));
    }
  } catch (const std::exception& e) {
    badScript(line + ": " + e.what());
  }
  return script;
}

const Script& script() {
  static const Script* loaded = new Script(loadScript());  // never destroyed: see exitProcess
  return *loaded;
}

class ScriptedRecognizer : public SpeechRecognizer {
 public:
  ScriptedRecognizer(bool available, bool onDevice) : available_(available), onDevice_(onDevice) {}

  bool isAvailable() const override { return available_; }
  bool supportsOnDeviceRecognition() const override { return onDevice_; }

 protected:
  bool startTask(const RecognitionRequest&, ResultHandler handler) override {
    handler_ = std::move(handler);
    if (!script().recordAudio.empty()) {
      recordFd_ = ::open(script().recordAudio.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (recordFd_ < 0) badScript("cannot create " + script().recordAudio + ": " + std::strerror(errno));
    }
    // The player lives as long as the process, like a platform task.
    std::thread([this] { play(); }).detach();
    return true;
  }

  void appendAudio(const PcmBuffer& buffer) override {
    const uint32_t frames = buffer.frameLength();
    if (recordFd_ >= 0 && frames > 0) {
      // Written at once, unbuffered: the process ends with _Exit.
      static_assert(sizeof(float) == 4, "float32 samples");
      FileHandle(recordFd_).writeAll(buffer.floatChannelData()[0], frames * sizeof(float));
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      samples_ += frames;
    }
    changed_.notify_all();
  }

  void endAudio() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
      endedAt_ = dispatch::Clock::now();
    }
    changed_.notify_all();
  }

 private:
  // Waits for each call's trigger in turn and hands the call to the main queue.
  void play() {
    for (const ScriptedCall& call : script().calls) {
      std::unique_lock<std::mutex> lock(mutex_);
      switch (call.trigger) {
        case ScriptedCall::Trigger::kSamples:
          changed_.wait(lock, [&] { return samples_ >= call.samples; });
          break;
        case ScriptedCall::Trigger::kEnd: changed_.wait(lock, [&] { return ended_; }); break;
        case ScriptedCall::Trigger::kAfterEnd:
          changed_.wait(lock, [&] { return ended_; });
          changed_.wait_until(lock, endedAt_ + call.delay, [] { return false; });
          break;
      }
      lock.unlock();
      dispatch::asyncMain([this, &call] {
        handler_(call.result ? &*call.result : nullptr, call.error ? &*call.error : nullptr);
      });
    }
  }

  const bool available_;
  const bool onDevice_;
  ResultHandler handler_;  // set before the player starts, then only read
  int recordFd_ = -1;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t samples_ = 0;
  bool ended_ = false;
  dispatch::Clock::time_point endedAt_;
};

}  // namespace

void requestAuthorization(std::function<void(int64_t status)> callback) {
  const int64_t status = script().authorization;
  std::thread([callback = std::move(callback), status] { callback(status); }).detach();
}

std::unique_ptr<SpeechRecognizer> makeSpeechRecognizer(const std::string& localeIdentifier) {
  const Script& s = script();
  if (s.recognizer == "missing" || localeIdentifier != "en-US") return nullptr;
  if (s.recognizer != "available" && s.recognizer != "unavailable")
    badScript("unknown recognizer " + s.recognizer);
  return std::make_unique<ScriptedRecognizer>(s.recognizer == "available", s.onDevice);
}

}  // namespace speech
