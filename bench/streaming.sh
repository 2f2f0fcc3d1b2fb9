#!/usr/bin/env bash
# Streaming benchmark of selvane (PocketSphinx recognizer) through its named pipes.
#   1. accuracy: word error rate of selvane's final text and of pocketsphinx_continuous
#      (the library's own decoder, default settings) on the same raw audio: the 11 s
#      recording of human speech that the whisper.cpp build keeps, at real-time pace;
#      three variants of it that no setting was tuned on (quieter, with noise, faster;
#      written at once, since the text does not depend on the pace); one pass of the
#      spoken dictation at real-time pace, and dictation of other words in another
#      voice (at once);
#   2. real speech: the recorded prompts of one professional speaker (bench/prompt-set.sh,
#      which installs them and ffmpeg when missing), joined into dictations of about
#      2 minutes; every dictation written at once, for the WER summed over the set and
#      the time to the final result, and the first one again at real-time pace, for
#      latency, the settle of each prompt, CPU and memory;
#   3. burst: the recording six times over (66 s) written at once;
#   4. latency: 5 minutes of spoken dictation written at real-time pace;
#   5. memory: 10 minutes written at 2x real-time pace (about 5 minutes of wall time;
#      --real-time-memory writes them at real-time pace), peak memory sampled after
#      1 minute of audio and at the end.
#   --real-speech runs only 2, after the one pass of spoken dictation at real-time
#   pace, whose figures it is read beside (about 25 minutes on a quiet machine).
# usage: bench/streaming.sh BUILD_DIR [--real-time-memory | --real-speech]
set -euo pipefail
usage="usage: bench/streaming.sh BUILD_DIR [--real-time-memory | --real-speech]"
build=${1:?$usage}
memory_pace=2 only_real_speech=0
case ${2:-} in
  "") ;;
  --real-time-memory) memory_pace=1 ;;
  --real-speech) only_real_speech=1 ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "$build" && pwd)
selvane=$build/bin/selvane
[ -x "$selvane" ] || { echo "no $selvane: build first" >&2; exit 1; }
work=$build/bench-streaming
mkdir -p "$work"

host=$build/bench/stream_host
wer=$build/bench/wer
for tool in "$host" "$wer"; do [ -x "$tool" ] || { echo "no $tool: build first" >&2; exit 1; }; done
command -v pocketsphinx_continuous >/dev/null || { echo "no pocketsphinx_continuous: run scripts/install-deps.sh" >&2; exit 1; }

# Ten minutes of dictation: paragraphs spoken by espeak-ng, a second of silence
# after each, repeated until the recording is long enough.
recording=$work/dictation-600s.raw
dictation=$work/dictation-once.raw
if [ ! -s "$recording" ] || [ ! -s "$dictation" ] || [ ! -s "$dictation.prompts" ]; then
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
  for ((j = 0; j < i; j++)); do cat "$work/paragraph-$j.raw" "$silence"; done > "$dictation"
  # Where each paragraph's audio ends, in samples, for the settle of each.
  at=0
  for ((j = 0; j < i; j++)); do
    at=$((at + $(stat -c %s "$work/paragraph-$j.raw") / 2))
    echo "$at"
    at=$((at + 16000))
  done > "$dictation.prompts"
  printf '%s\n' "${paragraphs[@]}" > "$dictation.txt"
  while [ "$(stat -c %s "$recording.part")" -lt $((600 * 32000)) ]; do
    for ((j = 0; j < i; j++)); do cat "$work/paragraph-$j.raw" "$silence" >> "$recording.part"; done
  done
  head -c $((600 * 32000)) "$recording.part" > "$recording"
  rm -f "$recording.part" "$work"/paragraph-*.raw "$silence"
fi

# Dictation that nothing was tuned on: other words, another voice and pace.
heldout=$work/dictation-heldout.raw
if [ ! -s "$heldout" ]; then
  others=(
    "Minutes of the board meeting. The budget was approved, but the new hires will wait until the autumn."
    "Birthday ideas for Anna. A cooking class, a good pair of walking boots, or tickets to the concert in June."
    "Bug report. The app crashes when the user rotates the phone while a video is loading in the background."
    "Lecture notes. The river system drains most of the valley and floods almost every spring after the snow melts."
    "Weekly plan. Gym on Monday and Wednesday, piano lesson on Thursday, and dinner with my parents on Sunday."
    "Things to pack. Passport, charger, two shirts, the blue jacket and the printed hotel booking."
  )
  : > "$heldout.part"
  for p in "${others[@]}"; do
    VOICE=en-gb SPEED=165 bash "$root/scripts/make-note.sh" "$work/other.raw" "$p"
    cat "$work/other.raw" >> "$heldout.part"
    head -c 24000 /dev/zero >> "$heldout.part"
  done
  printf '%s\n' "${others[@]}" > "$heldout.txt"
  rm -f "$work/other.raw"
  mv "$heldout.part" "$heldout"
fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load $(cut -d' ' -f1-3 /proc/loadavg)"
build_type=$(grep -m1 '^CMAKE_BUILD_TYPE' "$build/CMakeCache.txt" | cut -d= -f2)
echo "build: $build (${build_type:-RelWithDebInfo}); model: en-us (PocketSphinx $(pkg-config --modversion pocketsphinx)); one run each"
status=0

# The recording of human speech and its well-known words.
speech_wav=$(bash "$root/scripts/build-whisper.sh")/samples/jfk.wav
[ -s "$speech_wav" ] || { echo "no $speech_wav" >&2; exit 1; }
raw=(-t raw -e signed-integer -b 16 -c 1 -r 16000)
speech=$work/speech.raw
sox "$speech_wav" "${raw[@]}" "$speech"
echo "and so my fellow americans ask not what your country can do for you ask what you can do for your country" \
  > "$speech.txt"
sox "${raw[@]}" "$speech" "${raw[@]}" "$work/speech-quieter.raw" gain -12
sox -n "${raw[@]}" "$work/noise.raw" synth 11 whitenoise vol 0.03
sox -m -v 1 "${raw[@]}" "$speech" -v 1 "${raw[@]}" "$work/noise.raw" "${raw[@]}" "$work/speech-noise.raw"
sox "${raw[@]}" "$speech" "${raw[@]}" "$work/speech-faster.raw" tempo 1.1
for variant in quieter noise faster; do cp "$speech.txt" "$work/speech-$variant.raw.txt"; done
for ((j = 0; j < 6; j++)); do cat "$speech"; done > "$work/speech-x6.raw"
for ((j = 0; j < 6; j++)); do cat "$speech.txt"; done > "$work/speech-x6.raw.txt"

# The real-speech set, built again when the scripts that make it have changed.
real=$work/real
stamp=$(cat "$here/prompt-set.sh" "$here/prompt-select.sh" | sha1sum | cut -d' ' -f1)
if [ "$(cat "$real/stamp" 2>/dev/null)" != "$stamp" ]; then
  bash "$here/prompt-set.sh" "$real" > "$work/real-set.txt"
  echo "$stamp" > "$real/stamp"
fi
echo "the real-speech set: $(tr '\n' ' ' < "$work/real-set.txt")"

# compare LABEL AUDIO STREAM_HOST_OPTIONS...: selvane's final text and
# pocketsphinx_continuous's text of AUDIO against AUDIO.txt; the two WER lines are
# left in wer_selvane and wer_continuous.
compare() {
  local label=$1 audio=$2
  local name
  name=$(basename "$audio" .raw)
  shift 2
  echo "-- $label (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  : > "$work/$name.selvane.txt"
  "$host" --selvane="$selvane" --audio="$audio" --final-text="$work/$name.selvane.txt" "$@" || status=1
  pocketsphinx_continuous -infile "$audio" 2>/dev/null | tr '\n' ' ' > "$work/$name.continuous.txt"
  wer_selvane=$("$wer" "$audio.txt" "$work/$name.selvane.txt")
  wer_continuous=$("$wer" "$audio.txt" "$work/$name.continuous.txt")
  echo "WER selvane: $wer_selvane"
  echo "WER pocketsphinx_continuous: $wer_continuous"
  echo
}

# errors_and_words "0.250 (5 errors / 20 reference words)" prints "5 20".
errors_and_words() { sed -E 's/.*\(([0-9]+) errors \/ ([0-9]+) reference words\)/\1 \2/' <<<"$1"; }

real_speech() {
  echo "== real speech: the recorded prompts, one dictation at real-time pace =="
  compare "real-1.raw, real-time" "$real/real-1.raw" --pace=1 --reference --prompts="$real/real-1.raw.prompts"
  echo "== real speech: each dictation written at once =="
  local sums=(0 0 0 0)  # selvane errors, words; pocketsphinx_continuous errors, words
  local audio e w
  for audio in "$real"/real-*.raw; do
    compare "$(basename "$audio"): $(wc -l <"$audio.prompts") prompts, at once" "$audio" --at-once
    read -r e w <<<"$(errors_and_words "$wer_selvane")"
    sums[0]=$((sums[0] + e)) sums[1]=$((sums[1] + w))
    read -r e w <<<"$(errors_and_words "$wer_continuous")"
    sums[2]=$((sums[2] + e)) sums[3]=$((sums[3] + w))
  done
  summed() { awk "BEGIN { printf \"%.3f (%d errors / %d reference words)\", $1 / $2, $1, $2 }"; }
  echo "summed WER selvane: $(summed "${sums[0]}" "${sums[1]}")"
  echo "summed WER pocketsphinx_continuous: $(summed "${sums[2]}" "${sums[3]}")"
  echo
}

if ((only_real_speech)); then
  echo
  compare "dictation, one pass, real-time" "$dictation" --pace=1 --reference --prompts="$dictation.prompts"
  real_speech
  echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
  exit $status
fi

echo
echo "== accuracy: final text against the spoken words =="
compare "speech, real-time" "$speech" --pace=1 --reference
compare "speech quieter (-12 dB), at once" "$work/speech-quieter.raw" --at-once
compare "speech with white noise, at once" "$work/speech-noise.raw" --at-once
compare "speech 10 % faster, at once" "$work/speech-faster.raw" --at-once
compare "dictation, one pass, real-time" "$dictation" --pace=1 --reference --prompts="$dictation.prompts"
compare "dictation, other words and voice, at once" "$heldout" --at-once
real_speech
echo "== burst: the recording six times over, written at once =="
compare "speech x6, at once" "$work/speech-x6.raw" --at-once
echo "== latency: 300 s of dictation at real-time pace =="
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$host" --selvane="$selvane" --audio="$recording" --seconds=300 --pace=1 --reference || status=1
echo
echo "== memory: 600 s of dictation at ${memory_pace}x real-time pace =="
"$host" --selvane="$selvane" --audio="$recording" --seconds=600 --pace="$memory_pace" --memory-at=60 || status=1
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
