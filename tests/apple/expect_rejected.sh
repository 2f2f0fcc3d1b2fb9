#!/usr/bin/env bash
# Guards the syntax check itself: FILE holds one deliberate fault, and its first
# line "// expect: PATTERN" names the compiler message the fault must draw. The
# test passes only when the check fails on FILE with that message.
# usage: expect_rejected.sh CLANG SOURCE_ROOT FILE
set -uo pipefail
clang=$1 root=$2 file=$3
pattern=$(sed -n '1s|^// expect: ||p' "$file")
[ -n "$pattern" ] || { echo "$file: first line must be // expect: PATTERN" >&2; exit 2; }

output=$(bash "$root/tests/apple/syntax_check.sh" "$clang" "$root" "$file" 2>&1)
status=$?
if [ $status -eq 0 ]; then
  echo "the syntax check accepted $file, which it must reject"
  exit 1
fi
if ! grep -qE -- "$pattern" <<<"$output"; then
  echo "the syntax check failed on $file, but not with /$pattern/:"
  echo "$output"
  exit 1
fi
echo "rejected as expected: $(grep -E -m1 -- "$pattern" <<<"$output")"
