#!/usr/bin/env bash
# Speaks a text into raw 16 kHz mono s16le PCM, the input format of both programs.
# usage: [VOICE=en-us] [SPEED=150] make-note.sh OUTPUT.raw [TEXT...]
set -euo pipefail
out=${1:?usage: make-note.sh OUTPUT.raw [TEXT...]}
shift
text=${*:-"Remember to buy milk and eggs on the way home. The meeting with the design team moves to Thursday at ten."}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wav=$work/note.wav
espeak-ng -v "${VOICE:-en-us}" -s "${SPEED:-150}" -w "$wav" "$text"
sox "$wav" -r 16000 -c 1 -b 16 -e signed-integer -L -t raw "$out"
