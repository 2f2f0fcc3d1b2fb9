#!/usr/bin/env bash
# Times tovrin on crafted model files that it must refuse: copies of a model of
# the tiny.en shape (77 MB, random weights) with a header that promises more than
# the tensors hold, counts of 2^31 - 1, a file cut short, a stray record after the
# last tensor, padded up to 100 MB. Each run's standard input is empty, so the run
# ends with the model's event line; its wall time is the time to that line, plus
# the exit. A benchmark: it prints figures and asserts nothing.
# usage: bench/model_files.sh [BUILD]     (RUNS overrides the 3 runs per file)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${RUNS:-3}
tovrin=$build/bin/tovrin
generator=$build/tests/offline/make-test-model
for f in "$tovrin" "$generator"; do
  [ -x "$f" ] || { echo "missing $f: build the tree first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
model=$work/model.bin
layout=$("$generator" "$model" --layers 4 --state 384 --heads 6 --vocab 51864 --mels 80 --ftype f16)
mels_end=$(sed -n 's/^mels_end //p' <<<"$layout")
size=$(sed -n 's/^size //p' <<<"$layout")

# Copies the model to $1 with the little-endian int32 $3 at byte offset $2.
with_int32() {
  cp "$model" "$1"
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# The header's fields after the magic: vocab, audio ctx, state, heads, layers,
# text ctx, state, heads, layers, mels, ftype.
header() { with_int32 "$1" $((4 + 4 * $2)) "$3"; }

files=()
craft() { files+=("$1"); }
header "$work/audio-layers-1000000.bin" 4 1000000 && craft audio-layers-1000000
header "$work/text-layers-1000000.bin" 8 1000000 && craft text-layers-1000000
header "$work/audio-layers-90.bin" 4 90 && craft audio-layers-90
header "$work/audio-layers-5.bin" 4 5 && craft audio-layers-5
header "$work/text-layers-5.bin" 8 5 && craft text-layers-5
header "$work/vocab-2147483647.bin" 0 2147483647 && craft vocab-2147483647
header "$work/audio-ctx-2147483647.bin" 1 2147483647 && craft audio-ctx-2147483647
header "$work/text-ctx-2147483647.bin" 5 2147483647 && craft text-ctx-2147483647
header "$work/text-ctx-449.bin" 5 449 && craft text-ctx-449
header "$work/mels-2147483647.bin" 9 2147483647 && craft mels-2147483647
header "$work/width-768.bin" 2 768 && craft width-768
with_int32 "$work/words-2147483647.bin" "$mels_end" 2147483647 && craft words-2147483647
head -c $((size - 1)) "$model" >"$work/cut-1-byte-short.bin" && craft cut-1-byte-short
head -c $((size / 2)) "$model" >"$work/cut-at-half.bin" && craft cut-at-half
# The last tensor's name, decoder.blocks.3.cross_attn.out.bias, made unknown.
last_name=$(grep -abo 'decoder.blocks.3.cross_attn.out.bias' "$model" | tail -1 | cut -d: -f1)
cp "$model" "$work/last-tensor-unknown.bin"
printf 'X' | dd of="$work/last-tensor-unknown.bin" bs=1 seek="$last_name" conv=notrunc status=none
craft last-tensor-unknown
{ cat "$model"; head -c $((100 * 1000 * 1000 - size)) /dev/zero; } >"$work/padded-to-100-MB.bin" && craft padded-to-100-MB

echo "== Machine"
echo "  $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== Build"
echo "  $build, $(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")"
echo "== Files: the tiny.en shape, $size bytes, crafted as named; $runs runs each"
printf '  %-24s %10s %10s  %s\n' file bytes "slowest s" "event line"
slowest=0
slowest_file=
for name in "${files[@]}"; do
  file=$work/$name.bin
  worst=0
  line=
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    line=$("$tovrin" "$file" </dev/null 2>/dev/null || true)
    end=$(date +%s%N)
    worst=$(awk -v a="$start" -v b="$end" -v w="$worst" 'BEGIN { t = (b - a) / 1e9; printf "%.3f", (t > w) ? t : w }')
  done
  printf '  %-24s %10s %10s  %s\n' "$name" "$(stat -c %s "$file")" "$worst" "$line"
  if awk -v a="$worst" -v b="$slowest" 'BEGIN { exit !(a > b) }'; then
    slowest=$worst
    slowest_file=$name
  fi
done
echo "== Slowest refused file: $slowest_file, $slowest s (the goal: the event line within 2 s)"
