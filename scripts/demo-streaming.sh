#!/usr/bin/env bash
# The streaming part of `make demo`: a spoken note written into selvane at real-time
# pace through two named pipes, its events shown as they arrive.
# usage: demo-streaming.sh BIN [NOTE.raw]
set -euo pipefail
bin=$(cd "${1:?usage: demo-streaming.sh BIN [NOTE.raw]}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
[ -x "$bin/selvane" ] || { echo "no $bin/selvane: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
note=${2:-}
if [ -z "$note" ]; then
  note=$work/note.raw
  bash "$root/scripts/make-note.sh" "$note"
fi
bytes=$(( $(wc -c <"$note") ))
chunk=3200  # 100 ms of 16 kHz s16le

recognizer=PocketSphinx
[ "$(uname -s)" = Darwin ] && recognizer="the Speech framework"
echo "== selvane: streaming recognition ($recognizer) through named pipes =="
echo "  the note ($(awk "BEGIN { printf \"%.1f\", $bytes / 32000 }") s) is written at real-time pace, 100 ms at a time"
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

while IFS= read -r line <&3; do
  echo "$(elapsed)  $line"
done
exec 3<&-
wait "$feeder" || true
status=0
wait "$pid" || status=$?
echo "exit status: $status"
echo "diagnostics:"
sed 's/^/  /' "$work/selvane.err"
