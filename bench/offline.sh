#!/usr/bin/env bash
# Times tovrin against whisper-cli from the same whisper.cpp build, on the same
# audio and the same model, with the same decoding settings (greedy, best of 5,
# 4 threads, English), and measures what tovrin costs on its own and its peak
# memory. On 30 s of audio it also times the same tovrin beside a whisper.cpp
# built for this processor only (ORLESSA_WHISPER_NATIVE=1 scripts/build-whisper.sh,
# built on first use into a cache prefix of its own), against the portable build
# that picks its CPU variant at run time. A benchmark: it prints figures and
# asserts nothing.
# usage: bench/offline.sh [BUILD]     (RUNS_30S, RUNS_5MIN, RUNS_OWN override the run counts)
# A model with random weights decodes garbage and falls back through every
# temperature in each 30-second window, the same on both sides; that makes a run
# slow, hence few runs: about 20 minutes in all on 2 shared cores.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
runs_30s=${RUNS_30S:-3}
runs_5min=${RUNS_5MIN:-1}
runs_own=${RUNS_OWN:-3}

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache_value WHISPER_PREFIX)
cli=$prefix/bin/whisper-cli
tovrin=$build/bin/tovrin
generator=$build/tests/offline/make-test-model
double=$build/tests/offline/double/libwhisper_double.so
for f in "$tovrin" "$cli" "$generator" "$double"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f: build the tree first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same tovrin beside the native libraries: only the libraries differ.
native_prefix=$(ORLESSA_WHISPER_NATIVE=1 bash "$root/scripts/build-whisper.sh")
mkdir -p "$work/native/bin/lib"
cp "$tovrin" "$work/native/bin/tovrin"
cp -P "$native_prefix"/lib/lib*.so* "$work/native/bin/lib/"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command with stdin from $1, appending "seconds peak_kB" to $2.
measure() {
  local input=$1 log=$2
  shift 2
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$work/rss" "$@" <"$input" >"$work/out" 2>"$work/err" || true
  end=$(date +%s%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') $(tail -1 "$work/rss")" >>"$log"
}

echo "== Machine"
echo "  $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(awk '/MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo), $(uname -sr)"
echo "  load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== Build"
echo "  $build, CMAKE_BUILD_TYPE='$(cache_value CMAKE_BUILD_TYPE)' (empty means RelWithDebInfo), $("$(cache_value CMAKE_CXX_COMPILER)" --version | head -1)"
echo "  whisper.cpp $(basename "$prefix" | sed 's/^whisper-//; s/-r[0-9]*$//') shared libraries (Release, CPU backend, no BLAS), whisper-cli from the same build"
echo "  portable: $(cd "$build/bin/lib" && ls libggml-cpu-*.so | sed 's/^libggml-cpu-//; s/\.so$//' | tr '\n' ' ')(chosen at run time)"
echo "  native:   $native_prefix (-march=native, one CPU backend)"

echo "== Model"
"$generator" "$work/model.bin" --layers 4 --state 384 --heads 6 --vocab 51864 --mels 80 --ftype f16 \
>/dev/null
model_bytes=$(stat -c %s "$work/model.bin")
echo "  generated, tiny.en shape: 4+4 layers, width 384, 6 heads, vocab 51864, 80 mels, f16, $model_bytes bytes"
echo "  random weights: both programs decode the same garbage, with the library's temperature fallbacks"

echo "== Audio"
bash "$root/scripts/make-note.sh" "$work/note.raw" "Please remember to call the office tomorrow morning about the quarterly report. \
Bring the slides for the design review, and ask whether the meeting with the new client moves to Thursday at ten."
raw() { sox -t raw -r 16000 -c 1 -b 16 -e signed-integer -L "$work/note.raw" -t raw "$2" repeat "$(( $1 / 5 ))" trim 0 "$1"; }
raw 30 "$work/a30.raw"
raw 300 "$work/a300.raw"
raw 3600 "$work/a3600.raw"
for n in 30 300; do
  sox -t raw -r 16000 -c 1 -b 16 -e signed-integer -L "$work/a$n.raw" "$work/a$n.wav"
done
echo "  espeak-ng speech (en-us), looped to 30 s, 5 min and 1 h of 16 kHz mono s16le; WAV of the same samples for whisper-cli"

cli_args=(-m "$work/model.bin" -t 4 -l en -bs 1 -bo 5 -np)
echo "== Runs (alternating tovrin, whisper-cli and, on 30 s, tovrin with the native build)"
echo "  tovrin MODEL < audio.raw"
echo "  whisper-cli ${cli_args[*]/#$work\//} -f audio.wav   (-bs 1: greedy like tovrin)"
declare -A med
for n in 30 300; do
  runs=$runs_30s
  [ "$n" = 300 ] && runs=$runs_5min
  for ((i = 0; i < runs; i++)); do
    measure "$work/a$n.raw" "$work/tovrin$n" "$tovrin" "$work/model.bin"
    cp "$work/out" "$work/tovrin$n.out"
    measure /dev/null "$work/cli$n" "$cli" "${cli_args[@]}" -f "$work/a$n.wav"
    cp "$work/out" "$work/cli$n.out"
    if [ "$n" = 30 ]; then
      measure "$work/a$n.raw" "$work/native$n" "$work/native/bin/tovrin" "$work/model.bin"
      cp "$work/out" "$work/native$n.out"
    fi
  done
  [ "$runs" -gt 0 ] || continue
  med[t$n]=$(cut -d' ' -f1 "$work/tovrin$n" | median)
  med[c$n]=$(cut -d' ' -f1 "$work/cli$n" | median)
  med[tm$n]=$(cut -d' ' -f2 "$work/tovrin$n" | median)
  med[cm$n]=$(cut -d' ' -f2 "$work/cli$n" | median)
  label=$([ "$n" = 30 ] && echo "30 s " || echo "5 min")
  echo "  $label  runs in order: tovrin $(cut -d' ' -f1 "$work/tovrin$n" | tr '\n' ' ')| whisper-cli $(cut -d' ' -f1 "$work/cli$n" | tr '\n' ' ')"
  [ "$n" = 30 ] && echo "         tovrin with the native build $(cut -d' ' -f1 "$work/native30" | tr '\n' ' ')"
  printf '  %s  %d runs each: tovrin median %7.3f s, whisper-cli median %7.3f s, ratio tovrin/whisper-cli %.3f\n' \
    "$label" "$runs" "${med[t$n]}" "${med[c$n]}" "$(awk -v a="${med[t$n]}" -v b="${med[c$n]}" 'BEGIN { print a / b }')"
  echo "          tovrin: $(cat "$work/tovrin$n.out")"
  echo "          whisper-cli: $(tr '\n' ' ' <"$work/cli$n.out" | sed 's/  */ /g')"
  if [ "$n" = 30 ]; then
    med[n30]=$(cut -d' ' -f1 "$work/native30" | median)
    printf '  30 s   %d runs each: tovrin with the native build median %7.3f s; portable/native %.3f\n' \
      "$runs" "${med[n30]}" "$(awk -v a="${med[t30]}" -v b="${med[n30]}" 'BEGIN { print a / b }')"
    echo "          tovrin native: $(cat "$work/native30.out")"
  fi
done

echo "== tovrin's own cost (reading, conversion, joining, clean-up, writing)"
# The same binary beside a libwhisper that returns at once with a transcript of
# 1 hour's length, so that everything measured is tovrin's own work.
mkdir -p "$work/own/bin/lib" "$work/own/control"
# An empty header, no mel filters, no words: a file the stand-in loads.
head -c 60 /dev/zero >"$work/own/model.bin"
cp "$tovrin" "$work/own/bin/tovrin"
cp "$double" "$work/own/bin/lib/libwhisper.so.1"
cp -L "$build/bin/lib/libggml-base.so.0" "$build/bin/lib/libggml.so.0" "$work/own/bin/lib/"
{
  echo "samples off"
  for ((i = 0; i < 600; i++)); do echo "segment  [MUSIC] Segment $i of the hour, about as long as a whisper segment is (roughly)."; done
} >"$work/own/control/script"
for n in 300 3600; do
  for ((i = 0; i < runs_own; i++)); do
    ORLESSA_WHISPER_DOUBLE=$work/own/control measure "$work/a$n.raw" "$work/own$n" "$work/own/bin/tovrin" "$work/own/model.bin"
  done
  med[o$n]=$(cut -d' ' -f1 "$work/own$n" | median)
  med[om$n]=$(cut -d' ' -f2 "$work/own$n" | median)
done
if [ -n "${med[t300]:-}" ]; then
  estimate_hour=$(awk -v t="${med[t300]}" 'BEGIN { print t * 12 }')
  printf '  5 min: %.3f s, %.2f%% of the 5-min run (%.3f s)\n' "${med[o300]}" \
    "$(awk -v o="${med[o300]}" -v t="${med[t300]}" 'BEGIN { print 100 * o / t }')" "${med[t300]}"
  printf '  1 h:   %.3f s, %.2f%% of a 1-hour run estimated as 12 x the 5-min run (%.1f s); %d runs, median\n' \
    "${med[o3600]}" "$(awk -v o="${med[o3600]}" -v t="$estimate_hour" 'BEGIN { print 100 * o / t }')" "$estimate_hour" "$runs_own"
else
  printf '  5 min: %.3f s; 1 h: %.3f s; %d runs, median (no 5-min run to compare with)\n' \
    "${med[o300]}" "${med[o3600]}" "$runs_own"
fi

echo "== Peak memory (maximum resident set size)"
samples300=$(( $(stat -c %s "$work/a300.raw") / 2 ))
samples3600=$(( $(stat -c %s "$work/a3600.raw") / 2 ))
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
expect300=$(( (model_bytes + 6 * samples300) / 1024 ))
if [ -n "${med[tm300]:-}" ]; then
  echo "  5 min, real library: tovrin $(mb "${med[tm300]}"), whisper-cli $(mb "${med[cm300]}");" \
    "model + 6 bytes/sample = $(mb "$expect300"), tovrin exceeds it by $(mb $(( ${med[tm300]} - expect300 )))"
fi
echo "  30 s, real library:  tovrin $(mb "${med[tm30]}"), whisper-cli $(mb "${med[cm30]}")"
expect3600=$(( 6 * samples3600 / 1024 ))
echo "  1 h, tovrin's own buffers (no model): $(mb "${med[om3600]}"); 6 bytes/sample = $(mb "$expect3600")," \
  "difference $(mb $(( ${med[om3600]} - expect3600 )))"
echo "  load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
