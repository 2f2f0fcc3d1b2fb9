#!/usr/bin/env bash
# Fuzzes the model file through tovrin's model load on the real whisper.cpp, with
# clang's libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer, seeded
# with small models from make-test-model. Each input is bounded in time and memory.
#   scripts/fuzz.sh [SECONDS]     (default 300; FUZZ_TIMEOUT, default 2, bounds
#                                  each input in seconds, for a machine under load)
# Inputs that crash, hang or run out of memory land in build-fuzz/findings/;
# copy the ones worth keeping into tests/offline/fuzz_corpus/ as refused-NAME or
# loads-NAME, where make test replays them.
set -euo pipefail

seconds=${1:-300}
timeout=${FUZZ_TIMEOUT:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$root/build-fuzz

# libFuzzer's runtime is Debian's compiler-rt package for clang, not a dependency
# of the build itself.
if [ "$(uname -s)" != Darwin ] && ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed'; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends libclang-rt-14-dev
fi

# Coverage for libFuzzer in all of tovrin's code, not only in the target's file.
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DORLESSA_SANITIZE=address,undefined -DORLESSA_STREAMING=OFF -DORLESSA_FUZZ=ON >/dev/null
cmake --build "$tree" --target model_load_fuzzer make-test-model

# Seeds: the smallest models the check takes (a width of 1, short contexts, the
# library making up the vocabulary), in each weight type and with 1 or 2 layers.
generator=$tree/tests/offline/make-test-model
seeds=$tree/seeds
rm -rf "$seeds" "$tree/findings" && mkdir -p "$seeds" "$tree/corpus" "$tree/findings"
small=(--state 1 --heads 1 --audio-ctx 4 --text-ctx 4 --mels 2 --words 0)
"$generator" "$seeds/f16.bin" "${small[@]}" --ftype f16 >/dev/null
"$generator" "$seeds/f32.bin" "${small[@]}" --ftype f32 >/dev/null
"$generator" "$seeds/two-layers.bin" "${small[@]}" --layers 2 --state 2 --heads 2 --ftype f16 >/dev/null
"$generator" "$seeds/some-words.bin" "${small[@]}" --words 300 --ftype f16 >/dev/null

echo "Fuzzing for $seconds s"
# Leaks are the library's own on its failure paths; tovrin is one load per process.
# A smaller quarantine: recycling the library's freed buffers costs each input time.
# The target silences standard error while it loads, so the sanitizers' reports
# go to files of their own.
status=0
ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=16:log_path="$tree/findings/asan" UBSAN_OPTIONS=log_path="$tree/findings/ubsan" \
  "$tree/bin/model_load_fuzzer" \
  -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$tree/findings/" \
  "$tree/corpus" "$seeds" "$root/tests/offline/fuzz_corpus" || status=$?
echo "Fuzzer ended with status $status; findings (crash-, timeout-, oom-, and sanitizer logs):"
ls -la "$tree/findings/"
exit "$status"
