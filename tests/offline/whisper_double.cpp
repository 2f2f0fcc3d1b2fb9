// A stand-in for libwhisper, built from the real whisper.h, that the process tests
// drop into the lib folder beside a copy of tovrin. It is told what to do by the
// file "script" in the folder named by ORLESSA_WHISPER_DOUBLE, and records every
// call it gets, in order, in the file "calls" there (the samples go to
// "samples.f32"). Script lines:
//   load fail | load empty      no context | a context announced as an empty model
//   load empty-words            the words of that warning inside an ordinary line
//   load FAULT | full FAULT | free FAULT   fail that way while loading, transcribing
//                               or releasing: throw, abort (abort() itself),
//                               ggml-abort (GGML_ABORT), SIGSEGV, SIGBUS, SIGFPE, SIGILL
//   full N                      what whisper_full returns
//   count N                     what whisper_full_n_segments returns
//   segment TEXT | segment-null TEXT may hold \xHH escapes; segment-null gives NULL
//   samples off                 do not write samples.f32 (for the benchmark)
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <whisper.h>

namespace {

struct Script {
  std::string load = "ok";
  std::string full = "0";
  std::string free = "ok";
  bool recordSamples = true;
  bool hasCount = false;  // otherwise the number of segment lines
  int count = 0;
  std::vector<std::string> segments;
  std::vector<bool> nullSegments;
};

struct whisper_context_double {
  int unused = 0;
};

ggml_log_callback logCallback = nullptr;
void* logUserData = nullptr;

std::string folder() {
  const char* dir = std::getenv("ORLESSA_WHISPER_DOUBLE");
  return dir ? dir : ".";
}

void record(const std::string& line) {
  std::ofstream out(folder() + "/calls", std::ios::app);
  out << line << "\n";
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

const Script& script() {
  static Script s = [] {
    Script parsed;
    std::ifstream in(folder() + "/script");
    std::string line;
    while (std::getline(in, line)) {
      const size_t space = line.find(' ');
      const std::string key = line.substr(0, space);
      const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
      if (key == "load") parsed.load = value;
      else if (key == "full") parsed.full = value;
      else if (key == "free") parsed.free = value;
      else if (key == "samples") parsed.recordSamples = value != "off";
      else if (key == "count") {
        parsed.hasCount = true;
        parsed.count = std::stoi(value);
      } else if (key == "segment" || key == "segment-null") {
        parsed.segments.push_back(unescape(value));
        parsed.nullSegments.push_back(key == "segment-null");
      }
    }
    return parsed;
  }();
  return s;
}

// Distinct values, so a test can tell a default passed through from one changed.
whisper_context_params contextDefaults() {
  whisper_context_params p{};
  p.use_gpu = true;
  p.flash_attn = false;
  p.gpu_device = 7;
  p.dtw_token_timestamps = false;
  p.dtw_n_top = 13;
  p.dtw_mem_size = 12345;
  return p;
}

whisper_full_params fullDefaults(whisper_sampling_strategy strategy) {
  whisper_full_params p{};
  p.strategy = strategy;
  p.n_threads = 1;
  p.n_max_text_ctx = 16384;
  p.offset_ms = 11;
  p.duration_ms = 22;
  p.no_context = true;
  p.single_segment = true;
  p.print_special = true;
  p.print_progress = true;
  p.print_realtime = true;
  p.print_timestamps = true;
  p.thold_pt = 0.01f;
  p.max_len = 33;
  p.max_tokens = 44;
  p.audio_ctx = 55;
  p.language = "xx";
  p.suppress_blank = true;
  p.temperature = 0.125f;
  p.max_initial_ts = 1.0f;
  p.length_penalty = -1.0f;
  p.temperature_inc = 0.2f;
  p.entropy_thold = 2.4f;
  p.logprob_thold = -1.0f;
  p.no_speech_thold = 0.6f;
  p.greedy.best_of = 5;
  p.beam_search.beam_size = 66;
  p.beam_search.patience = -1.0f;
  return p;
}

// The fields tovrin must leave as they come, compared with the defaults.
std::string changedOthers(const whisper_full_params& p) {
  const whisper_full_params d = fullDefaults(p.strategy);
  std::string changed;
  auto check = [&](bool same, const char* name) {
    if (!same) changed += std::string(changed.empty() ? "" : ",") + name;
  };
#define SAME(field) check(p.field == d.field, #field)
  SAME(n_max_text_ctx);
  SAME(offset_ms);
  SAME(duration_ms);
  SAME(translate);
  SAME(no_context);
  SAME(no_timestamps);
  SAME(token_timestamps);
  SAME(thold_pt);
  SAME(thold_ptsum);
  SAME(max_len);
  SAME(split_on_word);
  SAME(max_tokens);
  SAME(debug_mode);
  SAME(audio_ctx);
  SAME(tdrz_enable);
  SAME(suppress_regex);
  SAME(initial_prompt);
  SAME(carry_initial_prompt);
  SAME(prompt_tokens);
  SAME(prompt_n_tokens);
  SAME(detect_language);
  SAME(suppress_blank);
  SAME(suppress_nst);
  SAME(temperature);
  SAME(max_initial_ts);
  SAME(length_penalty);
  SAME(temperature_inc);
  SAME(entropy_thold);
  SAME(logprob_thold);
  SAME(no_speech_thold);
  SAME(greedy.best_of);
  SAME(beam_search.beam_size);
  SAME(beam_search.patience);
  SAME(new_segment_callback);
  SAME(progress_callback);
  SAME(encoder_begin_callback);
  SAME(abort_callback);
  SAME(logits_filter_callback);
  SAME(grammar_rules);
  SAME(n_grammar_rules);
  SAME(vad);
  SAME(vad_model_path);
#undef SAME
  return changed.empty() ? "none" : changed;
}

// Fails the way the script says; returns when the kind is not a fault.
void fault(const std::string& kind) {
  if (kind == "throw") throw std::runtime_error("failure inside the library");
  if (kind == "abort") {
    std::fputs("failure inside the library\n", stderr);
    std::abort();
  }
  if (kind == "ggml-abort") GGML_ABORT("failure inside the library");
  const struct {
    const char* name;
    int signal;
  } signals[] = {{"SIGSEGV", SIGSEGV}, {"SIGBUS", SIGBUS}, {"SIGFPE", SIGFPE}, {"SIGILL", SIGILL}};
  for (const auto& s : signals) {
    if (kind == s.name) raise(s.signal);
  }
}

long stdoutBytes() {
  struct stat st {};
  return fstat(STDOUT_FILENO, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace

struct whisper_context_params whisper_context_default_params(void) {
  record("whisper_context_default_params");
  return contextDefaults();
}

struct whisper_full_params whisper_full_default_params(enum whisper_sampling_strategy strategy) {
  record("whisper_full_default_params strategy=" + std::to_string(strategy));
  return fullDefaults(strategy);
}

void whisper_log_set(ggml_log_callback callback, void* userData) {
  record("whisper_log_set");
  logCallback = callback;
  logUserData = userData;
}

struct whisper_context* whisper_init_with_params(struct whisper_model_loader* loader,
                                                 struct whisper_context_params params) {
  const whisper_context_params d = contextDefaults();
  const bool same = params.use_gpu == d.use_gpu && params.flash_attn == d.flash_attn &&
                    params.gpu_device == d.gpu_device && params.dtw_n_top == d.dtw_n_top &&
                    params.dtw_mem_size == d.dtw_mem_size;
  // The words of the file's vocabulary, read through the loader, tell which file
  // was opened. Then three reads and eof(), as the library looks for the end.
  std::string model;
  int32_t header[12 + 2];  // magic, hyperparameters, mel bands and bins
  loader->read(loader->context, header, sizeof header);
  std::vector<float> filters(static_cast<size_t>(header[12]) * static_cast<size_t>(header[13]));
  loader->read(loader->context, filters.data(), filters.size() * sizeof(float));
  int32_t words = 0;
  loader->read(loader->context, &words, sizeof words);
  for (int32_t i = 0; i < words; ++i) {
    uint32_t length = 0;
    loader->read(loader->context, &length, sizeof length);
    std::string word(length, '\0');
    loader->read(loader->context, word.data(), length);
    model += word;
  }
  int32_t probe[3];
  for (int32_t& field : probe) loader->read(loader->context, &field, sizeof field);
  loader->eof(loader->context);
  loader->close(loader->context);
  // Where standard input stands tells whether audio was read before the load.
  record("whisper_init_with_params model=" + model + " params=" + (same ? "default" : "changed") +
         " stdin_offset=" + std::to_string(lseek(STDIN_FILENO, 0, SEEK_CUR)));
  const Script& s = script();
  if (s.load == "fail") return nullptr;
  if (s.load == "empty" && logCallback != nullptr) {
    logCallback(
        GGML_LOG_LEVEL_WARN,
        "whisper_model_load: WARN no tensors loaded from model file - assuming empty model for testing\n",
        logUserData);
  }
  if (s.load == "empty-words" && logCallback != nullptr) {
    logCallback(GGML_LOG_LEVEL_INFO,
                "whisper_init: model 'WARN no tensors loaded from model file - assuming empty model for "
                "testing'\n",
                logUserData);
  }
  fault(s.load);
  return reinterpret_cast<whisper_context*>(new whisper_context_double);
}

int whisper_full(struct whisper_context*, struct whisper_full_params p, const float* samples, int n_samples) {
  std::ostringstream line;
  line << "whisper_full n_samples=" << n_samples << " strategy=" << p.strategy << " n_threads=" << p.n_threads
       << " language=" << (p.language ? p.language : "(null)") << " single_segment=" << p.single_segment
       << " print_special=" << p.print_special << " print_progress=" << p.print_progress
       << " print_realtime=" << p.print_realtime << " print_timestamps=" << p.print_timestamps
       << " others_changed=" << changedOthers(p);
  record(line.str());
  if (script().recordSamples) {
    std::ofstream(folder() + "/samples.f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(samples),
               static_cast<std::streamsize>(n_samples) * sizeof(float));
  }

  const std::string& full = script().full;
  fault(full);
  return std::stoi(full);
}

int whisper_full_n_segments(struct whisper_context*) {
  record("whisper_full_n_segments");
  const Script& s = script();
  return s.hasCount ? s.count : static_cast<int>(s.segments.size());
}

const char* whisper_full_get_segment_text(struct whisper_context*, int i) {
  record("whisper_full_get_segment_text " + std::to_string(i));
  const Script& s = script();
  if (i < 0 || i >= static_cast<int>(s.segments.size())) return nullptr;
  return s.nullSegments[i] ? nullptr : s.segments[i].c_str();
}

void whisper_free(struct whisper_context* context) {
  record("whisper_free stdout_bytes=" + std::to_string(stdoutBytes()));
  fault(script().free);
  delete reinterpret_cast<whisper_context_double*>(context);
}
