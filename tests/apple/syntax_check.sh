#!/usr/bin/env bash
# Checks Objective-C++ sources on Linux, where no Apple SDK exists: clang parses
# each file as Objective-C++ with ARC and blocks (-fsyntax-only: nothing is built)
# against our own declarations of the Apple APIs in tests/apple/sdk. The check is
# only as good as those declarations; on a Mac the real SDK replaces it.
# usage: syntax_check.sh CLANG SOURCE_ROOT FILE...
set -euo pipefail
clang=${1:?usage: syntax_check.sh CLANG SOURCE_ROOT FILE...}
root=${2:?usage: syntax_check.sh CLANG SOURCE_ROOT FILE...}
shift 2
[ $# -gt 0 ] || { echo "syntax_check.sh: no file to check" >&2; exit 2; }

# The host triple keeps the C++ standard library usable; -fobjc-runtime gives it
# the Apple runtime's language rules (ARC is refused on the default one). The
# paths that CMake gives the tests are stood in for. A nullable value handed on
# where a non-null one is required is refused: on a Mac it is an exception or a
# crash at run time, never a compiler error.
exec "$clang" -fsyntax-only -x objective-c++ -std=c++17 \
  -fobjc-arc -fobjc-runtime=macosx-15.0 -fblocks \
  -Wall -Wextra -Werror -Werror=nullable-to-nonnull-conversion \
  -I "$root/tests/apple/sdk" -I "$root/streaming" -I "$root/tests/support" \
  -DSELVANE_PATH='"selvane"' -DTEST_NOTE_PATH='"note.raw"' \
  "$@"
