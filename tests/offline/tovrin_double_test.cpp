// tovrin as a process, against the stand-in for libwhisper in the lib folder
// beside a copy of the binary.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "host_channels.h"
#include "run_process.h"
#include "tovrin_beside_double.h"

namespace fs = std::filesystem;
using test_support::modelFileNamed;
using test_support::placeTovrinBesideDouble;
using test_support::readFile;
using test_support::splitLines;
using test_support::TempDir;
using test_support::writeFile;

namespace {

std::string pcm(const std::vector<int16_t>& samples) {
  std::string bytes;
  for (int16_t s : samples) {
    bytes += static_cast<char>(static_cast<uint16_t>(s) & 0xFF);
    bytes += static_cast<char>(static_cast<uint16_t>(s) >> 8);
  }
  return bytes;
}

// Samples whose every byte differs from its neighbours', so a mispaired byte shows.
std::vector<int16_t> rampSamples(size_t n) {
  std::vector<int16_t> samples(n);
  for (size_t i = 0; i < n; ++i)
    samples[i] = static_cast<int16_t>(static_cast<uint16_t>(i * 2654435761u >> 7));
  return samples;
}

class TovrinWithDouble : public testing::Test {
 protected:
  void SetUp() override {
    placeTovrinBesideDouble(folder.path());
    fs::create_directories(control());
    // The stand-in records what it reads through the loader: here the file's own name.
    writeFile(folder.file("model.bin"), modelFileNamed("model.bin"));
  }

  std::string control() const { return folder.file("control"); }

  void script(const std::string& text) { writeFile(folder.file("control/script"), text); }

  RunResult run(const std::string& input, std::vector<std::string> args = {"model.bin"},
                Feed feed = Feed::File) {
    RunOptions options;
    options.args = std::move(args);
    options.input = input;
    options.feed = feed;
    options.workingDirectory = folder.path();
    options.environment = {"ORLESSA_WHISPER_DOUBLE=" + control()};
    return runProcess(folder.file("bin/tovrin"), options);
  }

  std::vector<std::string> calls() const { return splitLines(readFile(folder.file("control/calls"))); }

  std::vector<float> samples() const {
    const std::string bytes = readFile(folder.file("control/samples.f32"));
    std::vector<float> values(bytes.size() / sizeof(float));
    if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
  }

  std::string callStarting(const std::string& prefix) const {
    for (const auto& c : calls()) {
      if (c.rfind(prefix, 0) == 0) return c;
    }
    return "";
  }

  TempDir folder;
};

struct StageRow {
  const char* name;
  const char* script;
  std::string input;
  std::string out;
  int status;
  std::string err;  // the whole of standard error
  bool freed;
};

TEST_F(TovrinWithDouble, EveryStageEndsWithItsEventStatusAndRelease) {
  const std::string audio = pcm(rampSamples(16000));
  const std::string loading = "[tovrin] Loading model: model.bin\n";
  const std::string upToInference = loading +
                                    "[tovrin] Model loaded\n[tovrin] Read 16000 samples (1.0s)\n"
                                    "[tovrin] Running inference...\n";
  const StageRow rows[] = {
      {"load fails", "load fail\n", audio, "{\"error\":\"model_load_failed\"}\n", 1, loading, false},
      {"model file missing", "", audio, "{\"error\":\"model_load_failed\"}\n", 1,
       "[tovrin] Loading model: missing.bin\n", false},
      {"model without tensors", "load empty\n", audio, "{\"error\":\"model_load_failed\"}\n", 1,
       loading +
           "whisper_model_load: WARN no tensors loaded from model file - assuming empty model for testing\n",
       true},
      {"no audio", "", "", "{\"error\":\"no_audio_data\"}\n", 1, loading + "[tovrin] Model loaded\n", true},
      {"inference returns 3", "full 3\n", audio, "{\"error\":\"inference_failed\"}\n", 1, upToInference,
       true},
      {"inference returns -1", "full -1\n", audio, "{\"error\":\"inference_failed\"}\n", 1, upToInference,
       true},
      {"inference throws", "full throw\n", audio, "{\"error\":\"inference_failed\"}\n", 1, upToInference,
       true},
      {"success", "segment  Hello [noise]\nsegment  world.\n", audio,
       "{\"text\":\"Hello  world.\",\"isFinal\":true}\n", 0, upToInference + "[tovrin] Result: 13 chars\n",
       true},
  };
  for (const StageRow& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(control() + "/calls");
    script(row.script);
    const bool missing = row.err.find("missing.bin") != std::string::npos;
    const RunResult r = run(row.input, {missing ? "missing.bin" : "model.bin"});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
    // The event line was whole on standard output when the context was freed.
    const std::string freed = "whisper_free stdout_bytes=" + std::to_string(row.out.size());
    if (row.freed) {
      EXPECT_EQ(calls().back(), freed);
    } else {
      EXPECT_EQ(callStarting("whisper_free"), "");
      EXPECT_EQ(r.inputConsumed, 0) << "audio was read although the model did not load";
      if (missing) {
        EXPECT_EQ(callStarting("whisper_init"), "");
      }
    }
  }
}

// Whatever way the library fails, the run ends with the event of its stage and
// one line; after the final result, a fault while releasing leaves it alone.
TEST_F(TovrinWithDouble, EveryFaultOfTheLibraryEndsInTheEventOfItsStage) {
  const std::string faults[] = {"throw", "abort", "ggml-abort", "SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL"};
  const struct {
    const char* stage;
    std::string out;
    int status;
  } stages[] = {
      {"load", "{\"error\":\"model_load_failed\"}\n", 1},
      {"full", "{\"error\":\"inference_failed\"}\n", 1},
      {"free", "{\"text\":\"fine\",\"isFinal\":true}\n", 0},
  };
  for (const auto& stage : stages) {
    for (const std::string& fault : faults) {
      SCOPED_TRACE(std::string(stage.stage) + " " + fault);
      script(std::string(stage.stage) + " " + fault + "\nsegment fine\n");
      const RunResult r = run(pcm(rampSamples(100)));
      EXPECT_EQ(r.status, stage.status) << r.err;
      EXPECT_EQ(r.out, stage.out);
      if (fault == "abort" || fault == "ggml-abort") {
        EXPECT_NE(r.err.find("failure inside the library"), std::string::npos) << r.err;
      }
    }
  }
}

// An error event is already out when the release fails.
TEST_F(TovrinWithDouble, AFaultWhileReleasingAfterAnErrorAddsNoLine) {
  script("full 3\nfree SIGSEGV\n");
  const RunResult r = run(pcm(rampSamples(100)));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "{\"error\":\"inference_failed\"}\n");
}

// The empty-model check takes the library's own warning, not its words anywhere.
TEST_F(TovrinWithDouble, LoadsAModelWhoseLogLineHoldsTheWordsOfTheEmptyModelWarning) {
  script("load empty-words\nsegment fine\n");
  const RunResult r = run(pcm(rampSamples(100)));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"text\":\"fine\",\"isFinal\":true}\n");
}

TEST_F(TovrinWithDouble, CallsTheLibraryInOrderWithTheSevenFieldsSet) {
  script("segment  one\nsegment  two\n");
  const RunResult r = run(pcm(rampSamples(5000)));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> expected = {
      "whisper_log_set",
      "whisper_context_default_params",
      "whisper_init_with_params model=model.bin params=default stdin_offset=0",
      "whisper_full_default_params strategy=0",
      "whisper_full n_samples=5000 strategy=0 n_threads=4 language=en single_segment=0 print_special=0 "
      "print_progress=0 print_realtime=0 print_timestamps=0 others_changed=none",
      "whisper_full_n_segments",
      "whisper_full_get_segment_text 0",
      "whisper_full_get_segment_text 1",
      "whisper_free stdout_bytes=" + std::to_string(r.out.size()),
  };
  EXPECT_EQ(calls(), expected);
  EXPECT_EQ(r.out, "{\"text\":\"one two\",\"isFinal\":true}\n");
}

TEST_F(TovrinWithDouble, HandsOverEverySampleDividedBy32768) {
  const std::string bytes("\x00\x80\xFF\x7F\x01\x00\x00\x01\xFF\xFF", 10);
  ASSERT_EQ(run(bytes).status, 0);
  EXPECT_EQ(samples(), (std::vector<float>{-1.0f, 0.999969482421875f, 0.000030517578125f, 0.0078125f,
                                           -0.000030517578125f}));
}

struct InputRow {
  const char* name;
  std::string input;
  Feed feed;
  size_t samples;  // 0: no audio
  std::string readLine;
};

TEST_F(TovrinWithDouble, PairsTheInputWhateverPiecesItComesIn) {
  const std::string ramp = pcm(rampSamples(20000));
  const InputRow rows[] = {
      {"1 byte", "\x7F", Feed::File, 0, ""},
      {"3 bytes", ramp.substr(0, 3), Feed::File, 1, "Read 1 samples (0.0s)"},
      {"8193 bytes", ramp.substr(0, 8193), Feed::Pipe, 4096, "Read 4096 samples (0.3s)"},
      {"16000 samples", ramp.substr(0, 32000), Feed::Pipe, 16000, "Read 16000 samples (1.0s)"},
      {"8000 samples", ramp.substr(0, 16000), Feed::File, 8000, "Read 8000 samples (0.5s)"},
      {"one byte per write", ramp.substr(0, 20001), Feed::ByteAtATime, 10000, "Read 10000 samples (0.6s)"},
      {"a long pipe", ramp, Feed::Pipe, 20000, "Read 20000 samples (1.2s)"},
  };
  const std::vector<int16_t> expected = rampSamples(20000);
  for (const InputRow& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(control() + "/samples.f32");
    const RunResult r = run(row.input, {"model.bin"}, row.feed);
    if (row.samples == 0) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "{\"error\":\"no_audio_data\"}\n");
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("[tovrin] " + row.readLine + "\n"), std::string::npos) << r.err;
    const std::vector<float> got = samples();
    ASSERT_EQ(got.size(), row.samples);
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i], expected[i] / 32768.0f) << "sample " << i;
    }
  }
}

struct ChannelRow {
  const char* name;
  test_support::HostChannels channels;
  std::vector<std::string> args;
  std::string transcript;  // the stand-in's one segment
  size_t samples;
  int status;
  std::string out;
  std::string err;  // the whole of standard error
};

std::vector<std::string> piecesOf(const std::string& bytes, size_t size) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < bytes.size(); at += size) pieces.push_back(bytes.substr(at, size));
  return pieces;
}

// A host may hand over non-blocking channels. The input is still read in full
// reads to its end, and the one event line and every diagnostic arrive whole,
// however small the pipe and however long the host leaves it unread.
TEST_F(TovrinWithDouble, LosesNothingOnNonBlockingChannels) {
  using std::chrono::milliseconds;
  const std::string twoSeconds = pcm(rampSamples(32000));
  const std::string oddBytes = pcm(rampSamples(10000)) + "\x55";
  const std::string longText(20000, 'w');
  const std::string longPath = "models/" + std::string(9000, 'm') + ".bin";
  const std::string upToResult = "[tovrin] Loading model: model.bin\n[tovrin] Model loaded\n";
  auto channels = [](bool in, bool out, bool err, std::vector<std::string> pieces, int pauseMs, int readerPauseMs) {
    test_support::HostChannels c;
    c.nonBlockingInput = in;
    c.nonBlockingOutput = out;
    c.nonBlockingErrors = err;
    c.pieces = std::move(pieces);
    c.pauseBetweenPieces = milliseconds(pauseMs);
    c.readerPause = milliseconds(readerPauseMs);
    return c;
  };
  const ChannelRow rows[] = {
      {"input: 2 s in pieces of 100 ms", channels(true, false, false, piecesOf(twoSeconds, 3200), 20, 0),
       {"model.bin"}, "fine", 32000, 0, "{\"text\":\"fine\",\"isFinal\":true}\n",
       upToResult + "[tovrin] Read 32000 samples (2.0s)\n[tovrin] Running inference...\n[tovrin] Result: 4 chars\n"},
      {"input: odd-sized pieces", channels(true, false, false, piecesOf(oddBytes, 777), 5, 0), {"model.bin"},
       "fine", 10000, 0, "{\"text\":\"fine\",\"isFinal\":true}\n",
       upToResult + "[tovrin] Read 10000 samples (0.6s)\n[tovrin] Running inference...\n[tovrin] Result: 4 chars\n"},
      {"output: an event line five pipes long, read late",
       channels(false, true, false, {pcm(rampSamples(100))}, 0, 500), {"model.bin"}, longText, 100, 0,
       "{\"text\":\"" + longText + "\",\"isFinal\":true}\n",
       upToResult + "[tovrin] Read 100 samples (0.0s)\n[tovrin] Running inference...\n[tovrin] Result: 20000 chars\n"},
      {"standard error: a diagnostic longer than the pipe, read late",
       channels(false, false, true, {pcm(rampSamples(100))}, 0, 500), {longPath}, "", 0, 1,
       "{\"error\":\"model_load_failed\"}\n", "[tovrin] Loading model: " + longPath + "\n"},
      {"all three", channels(true, true, true, piecesOf(twoSeconds, 3201), 10, 300), {"model.bin"}, longText,
       32000, 0, "{\"text\":\"" + longText + "\",\"isFinal\":true}\n",
       upToResult + "[tovrin] Read 32000 samples (2.0s)\n[tovrin] Running inference...\n[tovrin] Result: 20000 chars\n"},
  };
  const std::vector<int16_t> expected = rampSamples(32000);
  for (const ChannelRow& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(control() + "/samples.f32");
    script("segment " + row.transcript + "\n");
    const test_support::HostRunResult r = test_support::runAsHost(
        folder.file("bin/tovrin"), row.args, {"ORLESSA_WHISPER_DOUBLE=" + control()}, folder.path(), row.channels);
    EXPECT_EQ(r.status, row.status);
    EXPECT_TRUE(r.out == row.out) << r.out.size() << " bytes: " << r.out.substr(0, 100);
    EXPECT_TRUE(r.err == row.err) << r.err.size() << " bytes: " << r.err.substr(0, 300);
    const std::vector<float> got = samples();
    EXPECT_EQ(got.size(), row.samples);
    if (got.size() != row.samples) continue;
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i] / 32768.0f) << "sample " << i;
  }
}

TEST_F(TovrinWithDouble, TakesTheModelPathFromTheFirstArgumentOnly) {
  const std::string audio = pcm(rampSamples(10));
  const struct {
    std::vector<std::string> args;
    std::string path;
  } rows[] = {
      {{}, "./models/ggml-tiny.en.bin"},
      {{"first.bin", "second.bin"}, "first.bin"},
      {{"--help"}, "--help"},
      {{"a\nb"}, "a\nb"},
  };
  fs::create_directories(folder.file("models"));
  for (const auto& row : rows) writeFile(folder.file(row.path), modelFileNamed(row.path));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    fs::remove(control() + "/calls");
    const RunResult r = run(audio, row.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("[tovrin] Loading model: " + row.path + "\n[tovrin] Model loaded\n", 0), 0u)
        << r.err;
    const std::string init = "whisper_init_with_params model=" + row.path + " params=default";
    EXPECT_NE(readFile(control() + "/calls").find(init), std::string::npos);
  }
}

struct TranscriptRow {
  const char* script;
  std::string out;
  size_t resultBytes;
};

TEST_F(TovrinWithDouble, JoinsCleansAndEscapesTheSegments) {
  const TranscriptRow rows[] = {
      {"count 0\n", "{\"text\":\"\",\"isFinal\":true}\n", 0},
      {"count -1\nsegment x\n", "{\"text\":\"\",\"isFinal\":true}\n", 0},
      {"segment  [BLANK_AUDIO]\nsegment  (music) \n", "{\"text\":\"\",\"isFinal\":true}\n", 0},
      {"segment a\nsegment-null b\nsegment c\n", "{\"text\":\"ac\",\"isFinal\":true}\n", 2},
      {"count 3\nsegment x\n", "{\"text\":\"x\",\"isFinal\":true}\n", 1},
      {"segment \\xC3\\xA9\n", "{\"text\":\"\xC3\xA9\",\"isFinal\":true}\n", 2},
      {"segment say \"hi\"\\x09back\\x5Cslash/\\x0C\n",
       "{\"text\":\"say \\\"hi\\\"\\tback\\\\slash/\\u000c\",\"isFinal\":true}\n", 21},
      // A character split between two segments joins up again; a cut one becomes U+FFFD.
      {"segment caf\\xC3\nsegment \\xA9 ok\nsegment  \\xE2\\x82 [x]\n",
       "{\"text\":\"caf\xC3\xA9 ok \xEF\xBF\xBD\",\"isFinal\":true}\n", 11},
      {"segment line one\\x0Aline two\\x0D\n", "{\"text\":\"line one\\nline two\",\"isFinal\":true}\n", 17},
  };
  for (const TranscriptRow& row : rows) {
    SCOPED_TRACE(row.script);
    script(row.script);
    const RunResult r = run(pcm(rampSamples(10)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, row.out);
    EXPECT_NE(r.err.find("[tovrin] Result: " + std::to_string(row.resultBytes) + " chars\n"),
              std::string::npos)
        << r.err;
  }
}

}  // namespace
