#!/usr/bin/env bash
# Streaming benchmark of selvane (PocketSphinx recognizer) through its named pipes.
#   1. latency: 5 minutes of spoken dictation written at real-time pace;
#   2. memory: 10 minutes written at 2x real-time pace (about 5 minutes of wall time;
#      --real-time-memory writes them at real-time pace), peak memory sampled after
#      1 minute of audio and at the end.
# usage: bench/streaming.sh BUILD_DIR [--real-time-memory]
set -euo pipefail
build=${1:?usage: bench/streaming.sh BUILD_DIR [--real-time-memory]}
memory_pace=2
[[ ${2:-} == --real-time-memory ]] && memory_pace=1
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "$build" && pwd)
selvane=$build/bin/selvane
[ -x "$selvane" ] || { echo "no $selvane: build first" >&2; exit 1; }
work=$build/bench-streaming
mkdir -p "$work"

host=$build/bench/stream_host
[ -x "$host" ] || { echo "no $host: build first" >&2; exit 1; }

# Ten minutes of dictation: paragraphs spoken by espeak-ng, a second of silence
# after each, repeated until the recording is long enough.
recording=$work/dictation-600s.raw
if [ ! -s "$recording" ]; then
  echo "speaking the recording"
  paragraphs=(
    "Remember to buy milk and eggs on the way home. The meeting with the design team moves to Thursday at ten."
    "Call the dentist about the appointment next week. Ask whether the afternoon slot is still free."
    "Notes for the quarterly report. Sales in the north grew by twelve percent, while the south stayed flat."
    "The new office opens in March. We need desks, chairs and a second printer before then."
    "Idea for the weekend. Take the train to the coast, walk along the cliffs and have lunch at the harbour."
    "Send the invoice to the client by Friday. Include the hours for the extra testing we did in May."
    "Book a table for six on Saturday evening. Somewhere quiet, with a view of the river if possible."
    "The garden needs water every other day in this heat. Move the tomatoes into the shade after noon."
    "Questions for the interview tomorrow. What did you learn from your last project, and what would you change?"
    "Pick up the parcel from the post office before it closes at five. Bring the card with the tracking number."
  )
  silence=$work/silence-1s.raw
  head -c 32000 /dev/zero > "$silence"
  : > "$recording.part"
  i=0
  for p in "${paragraphs[@]}"; do
    bash "$root/scripts/make-note.sh" "$work/paragraph-$i.raw" "$p"
    i=$((i + 1))
  done
  while [ "$(stat -c %s "$recording.part")" -lt $((600 * 32000)) ]; do
    for ((j = 0; j < i; j++)); do cat "$work/paragraph-$j.raw" "$silence" >> "$recording.part"; done
  done
  head -c $((600 * 32000)) "$recording.part" > "$recording"
  rm -f "$recording.part" "$work"/paragraph-*.raw "$silence"
fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load $(cut -d' ' -f1-3 /proc/loadavg)"
build_type=$(grep -m1 '^CMAKE_BUILD_TYPE' "$build/CMakeCache.txt" | cut -d= -f2)
echo "build: $build (${build_type:-RelWithDebInfo}); model: en-us (PocketSphinx $(pkg-config --modversion pocketsphinx)); one run each"
echo
echo "== latency: 300 s of dictation at real-time pace =="
status=0
"$host" --selvane="$selvane" --audio="$recording" --seconds=300 --pace=1 --reference || status=1
echo
echo "== memory: 600 s of dictation at ${memory_pace}x real-time pace =="
"$host" --selvane="$selvane" --audio="$recording" --seconds=600 --pace="$memory_pace" --memory-at=60 || status=1
exit $status
