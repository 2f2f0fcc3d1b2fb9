#!/usr/bin/env bash
# Compiles one C++ file of the Apple build on Linux against POSIX alone, as the
# Apple build sees it (posix_prelude.h), so that a GNU or Linux call that macOS
# lacks fails here. Nothing is built (-fsyntax-only); a path under /proc in the
# file's own code fails too, since macOS has no /proc.
# usage: posix_check.sh CLANG PRELUDE [-I... -D...] FILE
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: posix_check.sh CLANG PRELUDE [FLAGS...] FILE" >&2; exit 2; }
clang=$1 prelude=$2
shift 2
file=${*: -1}

# A bare -D or -I is a target without definitions or folders. The compiler's own
# include folder must not come back as -I: it would break the C++ library's
# #include_next.
flags=()
for flag in "${@:1:$#-1}"; do
  [[ -z $flag || $flag == -D || $flag == -I || $flag == -I/usr/include || $flag == -I/usr/local/include ]] || flags+=("$flag")
done

# POSIX.1-2008, nothing GNU. macOS also has what the X/Open System Interfaces add
# (it is a certified UNIX), which the code uses: sigaltstack and SA_ONSTACK for
# tovrin's fatal-signal handler, M_PI in a test.
posix=(-x c++ -std=c++17 -U_GNU_SOURCE -D_POSIX_C_SOURCE=200809L -D_XOPEN_SOURCE=700
  -include "$prelude" -Wall -Wextra -Werror)

"$clang" -fsyntax-only "${posix[@]}" "${flags[@]}" "$file"

# The file's own lines after preprocessing (line markers say whose lines follow),
# so that a path in a comment or in a branch for Linux does not count.
if "$clang" -E "${posix[@]}" "${flags[@]}" "$file" |
   awk -v file="$file" '/^# [0-9]+ "/ { split($0, m, "\""); own = (m[2] == file); next } own' |
   grep -n '"/proc/'; then
  echo "$file: macOS has no /proc" >&2
  exit 1
fi
