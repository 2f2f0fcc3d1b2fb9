#!/usr/bin/env bash
# bench/prompt-select.sh on a fixture transcript file: the held-out prompts (SHA-1 of
# the name with its sub-folder, divisible by 3), the texts with digits, brackets, *
# or #, and the prompt without a recording are left out; the rest keep their order
# and their whole text.
# usage: prompt_select_test.sh PROMPT_SELECT_SCRIPT
set -euo pipefail
select=${1:?usage: prompt_select_test.sh PROMPT_SELECT_SCRIPT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# NAME|TEXT|what happens to it. Held out or not was worked out apart from the script
# (the digest as one integer, mod 3). beta would be held out if the name were hashed
# with a line feed; sub/sigma if only the part after the folder were, and sub/tau
# would then be kept.
cases=(
  "alpha|Hello there.|kept"
  "gamma|Gamma is held out.|held out"
  "beta|Beta is kept.|kept"
  "epsilon|Epsilon is held out.|held out"
  "sub/sigma|Sigma in a folder.|kept"
  "sub/tau|Tau in a folder is held out.|held out"
  "delta|Press 1 now.|digits"
  "iota|Press [star] now.|brackets"
  "kappa|Press * now.|star"
  "lambda|Press # now.|hash"
  "mu|It's fine, isn't it?|kept"
  "nu|This one has no recording.|no recording"
  "xi|A text with: a colon inside.|kept"
)
mkdir -p "$work/sounds/sub"
{
  echo "; Fixture prompts"
  echo
  for c in "${cases[@]}"; do
    IFS='|' read -r name text _ <<<"$c"
    echo "$name: $text"
    [ "$name" = nu ] || echo x > "$work/sounds/$name.g722"
  done
} | gzip > "$work/transcripts.txt.gz"

expected=$work/expected
for c in "${cases[@]}"; do
  IFS='|' read -r name text fate <<<"$c"
  [ "$fate" = kept ] && printf '%s\t%s\n' "$name" "$text"
done > "$expected"

bash "$select" "$work/transcripts.txt.gz" "$work/sounds" > "$work/got" 2> "$work/counts"
if ! diff -u "$expected" "$work/got"; then
  echo "FAIL: the kept prompts differ (- expected, + got)" >&2
  exit 1
fi
counts="5 of 13 prompts: 3 held out, 5 with digits, brackets, * or # or without a recording"
if [ "$(cat "$work/counts")" != "$counts" ]; then
  echo "FAIL: counts \"$(cat "$work/counts")\", expected \"$counts\"" >&2
  exit 1
fi
echo "ok: $(cat "$work/counts")"
