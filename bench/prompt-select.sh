#!/usr/bin/env bash
# Which recorded prompts the real-speech set may use. Prints NAME<TAB>TEXT for each,
# in the transcript file's order, and a count of the others on standard error.
#
# Held out, and never read beyond their names, decoded, printed or scored: every
# prompt whose name as the transcript file writes it (e.g. "dictate/pause") has a
# SHA-1 digest that, read as one hexadecimal number, is divisible by 3. They are
# kept for independent checks. Also left out: transcripts with digits, brackets,
# "*" or "#", which the speaker says as words the reference would not have, and
# prompts without a recording.
# usage: bench/prompt-select.sh TRANSCRIPTS[.gz] SOUNDS_DIR
set -euo pipefail
transcripts=${1:?usage: bench/prompt-select.sh TRANSCRIPTS[.gz] SOUNDS_DIR}
sounds=${2:?usage: bench/prompt-select.sh TRANSCRIPTS[.gz] SOUNDS_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A number is divisible by 3 when the sum of its hexadecimal digits is (16 = 1 mod 3).
held_out() {
  local digest sum=0 i
  digest=$(printf '%s' "$1" | sha1sum)
  for ((i = 0; i < 40; i++)); do sum=$((sum + 16#${digest:i:1})); done
  ((sum % 3 == 0))
}

# Names first, so that the held-out prompts are dropped before their lines are used.
all=0
: > "$work/kept-names"
while IFS= read -r name; do
  all=$((all + 1))
  held_out "$name" || printf '%s\n' "$name" >> "$work/kept-names"
done < <(zcat -f "$transcripts" | grep -E '^[A-Za-z0-9_/.-]+: ' | cut -d: -f1)

zcat -f "$transcripts" | awk -v sounds="$sounds" '
  NR == FNR { keep[$0] = 1; next }
  {
    at = index($0, ": ")
    if (at == 0) next
    name = substr($0, 1, at - 1)
    if (!(name in keep)) next
    text = substr($0, at + 2)
    if (text ~ /[0-9*#()[\]{}<>]/ || text !~ /[A-Za-z]/) next
    if (system("test -s \"" sounds "/" name ".g722\"") != 0) next
    print name "\t" text
  }' "$work/kept-names" - > "$work/kept"

names=$(wc -l < "$work/kept-names")
kept=$(wc -l < "$work/kept")
echo "$kept of $all prompts: $((all - names)) held out, $((names - kept)) with digits, brackets, * or # or without a recording" >&2
cat "$work/kept"
