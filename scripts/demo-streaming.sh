#!/usr/bin/env bash
# The streaming part of `make demo`: a recording of a human speaker written into
# selvane at real-time pace through two named pipes, its events shown as they
# arrive and its final result beside the words spoken.
# Without AUDIO, the recording is the 11 s sample that the whisper.cpp build keeps
# (PREFIX/samples/jfk.wav), so the demo needs nothing that make deps does not install.
# usage: demo-streaming.sh BIN [AUDIO.raw REFERENCE_TEXT]
set -euo pipefail
usage="usage: demo-streaming.sh BIN [AUDIO.raw REFERENCE_TEXT]"
bin=$(cd "${1:?$usage}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$bin/selvane" ] || { echo "no $bin/selvane: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
note=${2:-}
reference=${3:-}
if [ -n "$note" ] && [ -z "$reference" ]; then echo "$usage" >&2; exit 2; fi
if [ -z "$note" ]; then
  # The build tree knows the prefix it was configured with; otherwise the script
  # answers at once when its cache is there.
  prefix=$(sed -n 's/^WHISPER_PREFIX:PATH=//p' "$bin/../CMakeCache.txt" 2>/dev/null || true)
  [ -n "$prefix" ] || prefix=$(bash "$root/scripts/build-whisper.sh")
  [ -s "$prefix/samples/jfk.wav" ] || { echo "no $prefix/samples/jfk.wav: run scripts/build-whisper.sh" >&2; exit 1; }
  note=$work/speech.raw
  sox "$prefix/samples/jfk.wav" -t raw -e signed-integer -b 16 -c 1 -r 16000 -L "$note"
  reference="And so, my fellow Americans, ask not what your country can do for you, ask what you can do for your country."
  echo "A recording of a human speaker (11 s, from whisper.cpp's samples), whose words are:"
  echo "  \"$reference\""
  echo
fi
bytes=$(( $(wc -c <"$note") ))
chunk=3200  # 100 ms of 16 kHz s16le

recognizer=PocketSphinx
[ "$(uname -s)" = Darwin ] && recognizer="the Speech framework"
echo "== selvane: streaming recognition ($recognizer) through named pipes =="
echo "  the recording ($(awk "BEGIN { printf \"%.1f\", $bytes / 32000 }") s) is written at real-time pace, 100 ms at a time"
mkfifo "$work/in.fifo" "$work/out.fifo"
"$bin/selvane" --input-pipe="$work/in.fifo" --output-pipe="$work/out.fifo" 2>"$work/selvane.err" &
pid=$!

elapsed() { awk "BEGIN { printf \"%6.2f s\", $EPOCHREALTIME - $start }"; }

# selvane opens the output pipe first, so the reading end is opened first here.
exec 3<"$work/out.fifo"
exec 4>"$work/in.fifo"
exec 5>&1
start=$EPOCHREALTIME  # times count from the first byte of audio
echo "  time    event line"
(
  for ((at = 0, i = 0; at < bytes; at += chunk, i++)); do
    dd if="$note" bs=$chunk skip=$i count=1 status=none
    # Sleep until the next 100 ms mark, so the pace does not drift.
    sleep "$(awk "BEGIN { d = $start + ($i + 1) * 0.1 - $EPOCHREALTIME; print (d > 0 ? d : 0) }")"
  done
  echo "$(elapsed)  (end of input: the host closes the input pipe)" >&5
) >&4 &
feeder=$!
exec 4>&-  # the feeder holds the only writing end, so closing it there ends the input

final_line=
while IFS= read -r line <&3; do
  echo "$(elapsed)  $line"
  if [[ $line == *'"isFinal":true'* ]]; then final_line=$line; fi
done
exec 3<&-
wait "$feeder" || true
status=0
wait "$pid" || status=$?
echo "exit status: $status"
echo
if [ -n "$final_line" ]; then
  final_text=$(sed -E 's/.*"text":"((\\.|[^"\\])*)".*/\1/' <<<"$final_line")
  echo "final result: \"$final_text\""
else
  echo "final result: none"
fi
echo "words spoken: \"$reference\""
echo
echo "diagnostics:"
sed 's/^/  /' "$work/selvane.err"
