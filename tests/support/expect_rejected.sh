#!/usr/bin/env bash
# Guards a check itself: FILE holds one deliberate fault, and its first line
# "// expect: PATTERN" names the message the fault must draw. The test passes only
# when the check, run on FILE, fails with that message.
# usage: expect_rejected.sh FILE CHECK [ARGS...]   (runs CHECK ARGS... FILE)
set -uo pipefail
file=${1:?usage: expect_rejected.sh FILE CHECK [ARGS...]}
shift
pattern=$(sed -n '1s|^// expect: ||p' "$file")
[ -n "$pattern" ] || { echo "$file: first line must be // expect: PATTERN" >&2; exit 2; }

output=$("$@" "$file" 2>&1)
status=$?
if [ $status -eq 0 ]; then
  echo "the check accepted $file, which it must reject"
  exit 1
fi
if ! grep -qE -- "$pattern" <<<"$output"; then
  echo "the check failed on $file, but not with /$pattern/:"
  echo "$output"
  exit 1
fi
echo "rejected as expected: $(grep -E -m1 -- "$pattern" <<<"$output")"
