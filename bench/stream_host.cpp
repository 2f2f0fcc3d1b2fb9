// A host for measuring selvane: writes a recording into its input pipe at a fixed
// pace in chunks of 100 ms, reads its events from the output pipe with their arrival
// times, and prints latency, CPU and memory figures.
//
// "Reflects": with --reference, the recording is first decoded here by the same
// segmenting decoder, one chunk at a time, noting the transcript after each chunk.
// A partial event whose text first appeared in that reference after chunk c reflects
// the audio up to the end of chunk c; its latency is its arrival time minus the
// moment chunk c had been written into the pipe.
//
// "Settle" of a phrase (a segment of the reference decoding): from writing the
// chunk that holds the phrase's last voiced audio (the last chunk before the
// segment closed whose level is above -30 dBFS) to the arrival of the event from
// which on every event begins with the text of all phrases up to this one.
//
// "Settle" of a prompt (with --prompts, whose FILE holds for each prompt joined
// into the recording the sample where its audio ends): from writing the chunk that
// holds the prompt's last voiced audio to the arrival of the event from which on
// every event begins with the reference's text of the first segment that closed
// after that chunk, the prompt's text and everything before it. A prompt whose
// last segment the reference never closed (the input ended in it) is left out.
//
// usage: stream_host --selvane=PATH --audio=FILE.raw [--seconds=N] [--pace=X | --at-once]
//                    [--reference [--prompts=FILE]] [--memory-at=SECONDS] [--final-text=FILE]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "speech/pocketsphinx_session.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kChunkSamples = 1600;  // 100 ms

struct Options {
  std::string selvane;
  std::string audio;
  double seconds = 0;  // 0: the whole recording
  double pace = 1.0;
  bool atOnce = false;  // every chunk written as soon as the pipe takes it
  bool reference = false;
  double memoryAt = 0;     // 0: no sample during the run
  std::string finalText;  // where the text of the final event goes
  std::string prompts;    // where each prompt of the recording ends, in samples
};

// What the reference decoding has after each chunk.
struct Reference {
  std::vector<std::string> transcript;
  std::vector<size_t> finishedSegments;
  std::vector<std::string> finishedTranscript;
};

struct Event {
  std::string text;
  bool isFinal = false;
  Clock::time_point at;
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) { return arg.substr(std::strlen(name)); };
    if (arg.rfind("--selvane=", 0) == 0) options.selvane = value("--selvane=");
    else if (arg.rfind("--audio=", 0) == 0) options.audio = value("--audio=");
    else if (arg.rfind("--seconds=", 0) == 0) options.seconds = std::stod(value("--seconds="));
    else if (arg.rfind("--pace=", 0) == 0) options.pace = std::stod(value("--pace="));
    else if (arg == "--at-once") options.atOnce = true;
    else if (arg == "--reference") options.reference = true;
    else if (arg.rfind("--final-text=", 0) == 0) options.finalText = value("--final-text=");
    else if (arg.rfind("--prompts=", 0) == 0) options.prompts = value("--prompts=");
    else if (arg.rfind("--memory-at=", 0) == 0) options.memoryAt = std::stod(value("--memory-at="));
    else return false;
  }
  return !options.selvane.empty() && !options.audio.empty() && options.pace > 0 &&
         (options.prompts.empty() || options.reference);
}

std::vector<int16_t> readRecording(const Options& options) {
  std::ifstream in(options.audio, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t count = bytes.size() / 2;
  if (options.seconds > 0) count = std::min(count, static_cast<size_t>(options.seconds * 16000));
  std::vector<int16_t> samples(count);
  std::memcpy(samples.data(), bytes.data(), count * 2);  // little-endian host
  return samples;
}

Reference referenceDecoding(const std::vector<int16_t>& samples) {
  Reference after;
  auto session = speech::PocketsphinxSession::make(POCKETSPHINX_MODELDIR);
  if (!session) return after;
  for (size_t at = 0; at < samples.size(); at += kChunkSamples) {
    session->process(samples.data() + at, std::min(kChunkSamples, samples.size() - at));
    after.transcript.push_back(session->transcript());
    after.finishedSegments.push_back(session->finishedSegments());
    after.finishedTranscript.push_back(session->finishedTranscript());
  }
  return after;
}

std::vector<size_t> readPromptEnds(const std::string& path) {
  std::vector<size_t> ends;
  std::ifstream in(path);
  for (size_t end; in >> end;) ends.push_back(end);
  return ends;
}

bool voiced(const std::vector<int16_t>& samples, size_t chunk) {
  const size_t from = chunk * kChunkSamples, to = std::min(samples.size(), from + kChunkSamples);
  double energy = 0;
  for (size_t i = from; i < to; ++i) energy += static_cast<double>(samples[i]) * samples[i];
  const double rms = to > from ? std::sqrt(energy / (to - from)) : 0;
  return rms > 32768 * 0.0316;  // -30 dBFS: above the room noise of the recording of human speech
}

long kilobytesOf(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(p * (values.size() - 1) + 0.5);
  return values[index];
}

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: stream_host --selvane=PATH --audio=FILE.raw [--seconds=N] [--pace=X | --at-once] "
                 "[--reference [--prompts=FILE]] [--memory-at=SECONDS] [--final-text=FILE]\n");
    return 2;
  }
  const std::vector<int16_t> samples = readRecording(options);
  const size_t chunks = (samples.size() + kChunkSamples - 1) / kChunkSamples;
  const double audioSeconds = samples.size() / 16000.0;
  char dirPattern[] = "/tmp/stream-host.XXXXXX";
  if (mkdtemp(dirPattern) == nullptr) return 1;
  const std::string dir = dirPattern;
  const std::string in = dir + "/in.fifo", out = dir + "/out.fifo", err = dir + "/stderr";
  if (mkfifo(in.c_str(), 0600) != 0 || mkfifo(out.c_str(), 0600) != 0) return 1;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string inArg = "--input-pipe=" + in, outArg = "--output-pipe=" + out;
  char* childArgv[] = {const_cast<char*>(options.selvane.c_str()), const_cast<char*>(inArg.c_str()),
                       const_cast<char*>(outArg.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, options.selvane.c_str(), &actions, nullptr, childArgv, environ) != 0) return 1;
  posix_spawn_file_actions_destroy(&actions);

  // Only now, with selvane started and waiting for its pipes: a child started after
  // the reference decoder had grown this process would report this process's peak
  // memory as its own (the kernel carries it across exec).
  Reference decoded;
  if (options.reference) decoded = referenceDecoding(samples);
  const std::vector<std::string>& reference = decoded.transcript;

  const int events = open(out.c_str(), O_RDONLY);
  const int audio = open(in.c_str(), O_WRONLY);
  if (events < 0 || audio < 0) return 1;

  std::vector<Clock::time_point> written(chunks);
  Clock::time_point inputClosed;
  const auto start = Clock::now();
  std::atomic<long> hwmAtMark{-1};
  std::thread feeder([&] {
    const auto interval = std::chrono::duration<double>(kChunkSamples / 16000.0 / options.pace);
    const size_t markChunk = static_cast<size_t>(options.memoryAt * 16000 / kChunkSamples);
    for (size_t c = 0; c < chunks; ++c) {
      if (!options.atOnce) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(interval * c));
      }
      const size_t at = c * kChunkSamples;
      const size_t bytes = std::min(kChunkSamples, samples.size() - at) * 2;
      if (write(audio, samples.data() + at, bytes) != static_cast<ssize_t>(bytes)) break;
      written[c] = Clock::now();
      if (options.memoryAt > 0 && c == markChunk) hwmAtMark = kilobytesOf(pid, "VmHWM:");
    }
    inputClosed = Clock::now();
    close(audio);
  });

  std::vector<Event> received;
  std::string pending;
  char buffer[65536];
  for (ssize_t n; (n = read(events, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const auto now = Clock::now();
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const auto json = nlohmann::json::parse(pending.substr(0, end), nullptr, false);
      if (!json.is_object() || !json.contains("text")) continue;
      received.push_back(Event{json["text"].get<std::string>(), json.value("isFinal", false), now});
    }
  }
  feeder.join();
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);

  // Partial latency against the reference (see the top of the file).
  std::vector<double> reflectLatency;
  size_t unmatched = 0, next = 0;
  // Simple latency: from each chunk's write to the next partial event.
  std::vector<double> nextEventLatency;
  std::vector<Clock::time_point> partialTimes;
  size_t partials = 0;
  for (const Event& e : received) {
    if (e.isFinal) continue;
    ++partials;
    partialTimes.push_back(e.at);
    if (reference.empty()) continue;
    size_t c = next;
    while (c < reference.size() && reference[c] != e.text) ++c;
    if (c == reference.size() || written[c] == Clock::time_point{}) {
      ++unmatched;
      continue;
    }
    while (c > next && reference[c - 1] == e.text) --c;  // where the text first appeared
    reflectLatency.push_back(millis(e.at - written[c]));
    next = c;
  }
  for (size_t c = 0; c < chunks; ++c) {
    auto it = std::lower_bound(partialTimes.begin(), partialTimes.end(), written[c]);
    if (it != partialTimes.end()) nextEventLatency.push_back(millis(*it - written[c]));
  }

  // Settle of each phrase (see the top of the file).
  auto firstEventFromWhichAllBeginWith = [&](const std::string& text) {
    size_t from = received.size();
    for (size_t e = received.size(); e-- > 0;) {
      if (received[e].text.compare(0, text.size(), text) != 0) break;
      from = e;
    }
    return from;
  };
  std::vector<double> settle;
  for (size_t c = 0; c < decoded.finishedSegments.size(); ++c) {
    if (decoded.finishedSegments[c] == (c > 0 ? decoded.finishedSegments[c - 1] : 0)) continue;
    const std::string& text = decoded.finishedTranscript[c];
    size_t lastVoiced = c + 1;
    for (size_t v = c + 1; v-- > 0;) {
      if (voiced(samples, v)) {
        lastVoiced = v;
        break;
      }
    }
    if (text.empty() || lastVoiced > c || written[lastVoiced] == Clock::time_point{}) continue;
    const size_t settledAt = firstEventFromWhichAllBeginWith(text);
    if (settledAt < received.size()) settle.push_back(millis(received[settledAt].at - written[lastVoiced]));
  }

  // Settle of each prompt (see the top of the file).
  std::vector<double> promptSettle;
  size_t promptsUnsettled = 0;
  const std::vector<size_t> promptEnds = options.prompts.empty() ? std::vector<size_t>{}
                                                                  : readPromptEnds(options.prompts);
  size_t promptStart = 0;
  for (const size_t end : promptEnds) {
    const size_t firstChunk = promptStart / kChunkSamples;
    const size_t endChunk = std::min(chunks, (end + kChunkSamples - 1) / kChunkSamples);
    promptStart = end;
    size_t lastVoiced = endChunk;
    for (size_t v = endChunk; v-- > firstChunk;) {
      if (voiced(samples, v)) {
        lastVoiced = v;
        break;
      }
    }
    if (lastVoiced == endChunk || written[lastVoiced] == Clock::time_point{}) continue;
    size_t closed = lastVoiced + 1;
    while (closed < decoded.finishedSegments.size() &&
           decoded.finishedSegments[closed] == decoded.finishedSegments[closed - 1]) {
      ++closed;
    }
    if (closed >= decoded.finishedSegments.size()) {
      ++promptsUnsettled;
      continue;
    }
    const size_t settledAt = firstEventFromWhichAllBeginWith(decoded.finishedTranscript[closed]);
    // An event before the prompt's audio means the prompt added no text: nothing to settle.
    if (settledAt < received.size() && received[settledAt].at >= written[lastVoiced]) {
      promptSettle.push_back(millis(received[settledAt].at - written[lastVoiced]));
    }
  }

  const bool gotFinal = !received.empty() && received.back().isFinal;
  if (gotFinal && !options.finalText.empty()) std::ofstream(options.finalText) << received.back().text << "\n";
  const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
  if (options.atOnce) {
    std::printf("audio: %.1f s in %zu chunks of 100 ms, written at once\n", audioSeconds, chunks);
  } else {
    std::printf("audio: %.1f s in %zu chunks of 100 ms, written at %.2fx real time\n", audioSeconds, chunks,
                options.pace);
  }
  std::printf("writing took %.1f s\n", std::chrono::duration<double>(inputClosed - start).count());
  std::printf("exit status: %d; partial events: %zu; final event: %s\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, partials, gotFinal ? "yes" : "NO");
  if (!reference.empty()) {
    std::printf(
        "partial latency (from writing the chunk that completes the audio a partial reflects): "
        "median %.0f ms, p95 %.0f ms, max %.0f ms (%zu matched, %zu not found in the reference)\n",
        percentile(reflectLatency, 0.5), percentile(reflectLatency, 0.95), percentile(reflectLatency, 1.0),
        reflectLatency.size(), unmatched);
  }
  if (!options.atOnce) {
    std::printf("time from writing a chunk to the next partial event: median %.0f ms, p95 %.0f ms\n",
                percentile(nextEventLatency, 0.5), percentile(nextEventLatency, 0.95));
    if (!settle.empty()) {
      std::printf("settle of a phrase (from its last voiced audio to the last revision of its text): "
                  "median %.0f ms, p95 %.0f ms, max %.0f ms (%zu phrases)\n",
                  percentile(settle, 0.5), percentile(settle, 0.95), percentile(settle, 1.0), settle.size());
    }
    if (!promptEnds.empty()) {
      std::printf("settle of a prompt (from its last voiced audio to the event from which its text no longer "
                  "changes): median %.0f ms, p95 %.0f ms, max %.0f ms (%zu of %zu prompts; %zu ended in the "
                  "segment the input ended in)\n",
                  percentile(promptSettle, 0.5), percentile(promptSettle, 0.95), percentile(promptSettle, 1.0),
                  promptSettle.size(), promptEnds.size(), promptsUnsettled);
    }
  }
  const std::string diagnostics = [&] {
    std::ifstream in(err);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  const bool timedOut = diagnostics.find("Timeout waiting for final result") != std::string::npos;
  if (gotFinal) {
    std::printf(
        "final result after the end of input: %.0f ms (%s)\n", millis(received.back().at - inputClosed),
        timedOut ? "the fallback of the end-of-input timeout, not the recognizer's" : "from the recognizer");
  }
  std::printf("CPU time of selvane: %.1f s, %.3f s per second of audio (start-up included)\n", cpu,
              cpu / audioSeconds);
  if (options.memoryAt > 0) {
    std::printf("peak memory (VmHWM) after %.0f s of audio: %.1f MB\n", options.memoryAt, hwmAtMark / 1024.0);
  }
  std::printf("peak memory (maxrss) at the end, %.0f s of audio: %.1f MB\n", audioSeconds,
              usage.ru_maxrss / 1024.0);

  unlink(in.c_str());
  unlink(out.c_str());
  unlink(err.c_str());
  rmdir(dir.c_str());
  return gotFinal && !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
