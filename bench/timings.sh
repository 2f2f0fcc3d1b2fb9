#!/usr/bin/env bash
# The times a host needs for a watchdog: how long each program takes to start,
# to load its model, and to work through a second of audio. Each run's standard
# error is time-stamped line by line as it arrives; the audio is written at once
# and the input closed, so the time from the close to the final line is the
# program's own pace. A benchmark: it prints medians and asserts nothing.
# usage: bench/timings.sh [BUILD]     (RUNS overrides the number of runs, default 3)
# tovrin runs on a generated model of the tiny.en shape with random weights,
# which decodes garbage through every temperature fallback: an upper bound for
# the tiny model, not its typical pace on speech.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache_value WHISPER_PREFIX)
tovrin=$build/bin/tovrin
selvane=$build/bin/selvane
generator=$build/tests/offline/make-test-model
for f in "$tovrin" "$selvane" "$generator" "$prefix/samples/jfk.wav"; do
  [ -e "$f" ] || { echo "missing $f: build the tree first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Seconds from the start of the run to the first stamped line holding $2, in log $1.
at() { awk -v s="$(head -1 "$1")" -v m="$2" 'NR > 1 && index($0, m) { printf "%.3f\n", $1 - s; exit }' "$1"; }

# Runs "$@" with standard input from $input, logging the start, every line of
# standard error and the event lines, each with the time it arrived, and the
# moment the input was closed.
stamped_run() {
  local log=$1 input=$2
  shift 2
  now >"$log"
  {
    cat "$input"
    echo "$(now) [host] input closed" >>"$log"
  } | "$@" 2> >(while IFS= read -r line; do echo "$(now) $line"; done >>"$log") |
    while IFS= read -r line; do echo "$(now) [event] $line"; done >>"$log"
  sleep 0.2  # the stamping of standard error ends after the process
}

echo "== Machine"
echo "  $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(uname -sr); load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== Build: $build ($(cache_value CMAKE_BUILD_TYPE))"

"$generator" "$work/model.bin" --layers 4 --state 384 --heads 6 --vocab 51864 --mels 80 --ftype f16 >/dev/null
sox "$prefix/samples/jfk.wav" -t raw -r 16000 -c 1 -b 16 -e signed-integer -L "$work/jfk.raw"
sox -t raw -r 16000 -c 1 -b 16 -e signed-integer -L "$work/jfk.raw" -t raw "$work/jfk3.raw" repeat 2
seconds_of() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.2f", b / 32000 }'; }

echo "== tovrin: generated tiny.en-shaped model ($(stat -c %s "$work/model.bin") bytes), $runs runs each"
for audio in jfk jfk3; do
  secs=$(seconds_of "$work/$audio.raw")
  : >"$work/start" && : >"$work/load" && : >"$work/pace"
  for _ in $(seq "$runs"); do
    stamped_run "$work/log" "$work/$audio.raw" "$tovrin" "$work/model.bin"
    at "$work/log" "Loading model" >>"$work/start"
    awk -v a="$(at "$work/log" "Loading model")" -v b="$(at "$work/log" "Model loaded")" 'BEGIN { printf "%.3f\n", b - a }' >>"$work/load"
    awk -v a="$(at "$work/log" "[host] input closed")" -v b="$(at "$work/log" "[event]")" -v s="$secs" \
      'BEGIN { printf "%.3f\n", (b - a) / s }' >>"$work/pace"
  done
  echo "  ${secs} s of audio: start $(median <"$work/start") s, model load $(median <"$work/load") s, \
from the close of the input to the event line $(median <"$work/pace") s per second of audio"
done

echo "== selvane: PocketSphinx en-us, audio written at once, $runs runs each"
for audio in jfk jfk3; do
  secs=$(seconds_of "$work/$audio.raw")
  : >"$work/start" && : >"$work/pace"
  for _ in $(seq "$runs"); do
    stamped_run "$work/log" "$work/$audio.raw" "$selvane"
    at "$work/log" "Recognition task started" >>"$work/start"
    awk -v a="$(at "$work/log" "Recognition task started")" -v b="$(at "$work/log" '"isFinal":true')" -v s="$secs" \
      'BEGIN { printf "%.3f\n", (b - a) / s }' >>"$work/pace"
  done
  echo "  ${secs} s of audio: start-up with the model load $(median <"$work/start") s, \
from the start of the task to the final line $(median <"$work/pace") s per second of audio"
done
echo "  load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
