#!/usr/bin/env bash
# The demo of `make demo`: a short spoken note piped into tovrin, and a recording of
# a human speaker streamed into selvane (the programs in BIN).
# usage: demo.sh BIN
set -euo pipefail
bin=$(cd "${1:?usage: demo.sh BIN}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
model=$root/models/ggml-tiny.en.bin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
note=$work/note.raw
text="Remember to buy milk and eggs on the way home. The meeting with the design team moves to Thursday at ten."
bash "$root/scripts/make-note.sh" "$note" "$text"
echo "Spoken note: \"$text\""
echo "  $(( $(wc -c <"$note") / 2 )) samples of 16 kHz mono s16le PCM"
echo

echo "== tovrin: offline transcription =="
if [ ! -f "$model" ]; then
  echo "No model is installed: tovrin looks for models/ggml-tiny.en.bin (relative to the working directory)."
  echo "Put a ggml Whisper model there, or fetch the standard tiny English one with"
  echo "  make model        (runs scripts/fetch-model.sh; needs the network)"
  echo "Without a model tovrin answers as follows:"
fi
status=0
(cd "$root" && "$bin/tovrin" <"$note" >"$work/tovrin.out" 2>"$work/tovrin.err") || status=$?
echo "event line:  $(cat "$work/tovrin.out")"
echo "exit status: $status"
echo "diagnostics:"
grep '^\[tovrin\]' "$work/tovrin.err" | sed 's/^/  /' || true
echo "  (and $(grep -vc '^\[tovrin\]' "$work/tovrin.err" || true) lines from whisper.cpp)"

# ---- streaming part ----------------------------------------------------------
# selvane's part of the demo lives in scripts/demo-streaming.sh. It hears a human
# speaker rather than the note: on the synthetic voice the recognizer gets few words
# right, which says more about the voice than about selvane.
if [ -f "$root/scripts/demo-streaming.sh" ]; then
  echo
  bash "$root/scripts/demo-streaming.sh" "$bin"
fi
