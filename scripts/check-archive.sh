#!/usr/bin/env bash
# Checks a release archive as a host application's developer meets it: unpacked
# into an empty folder away from the build, run with no library path set.
#   check-archive.sh ARCHIVE.tar.gz MAKE_TEST_MODEL
# - the SHA-256 file beside the archive matches it;
# - it holds one folder with only what runs, the docs and the licence texts
#   (no test doubles, no whisper-cli);
# - every bundled library and every compiled-in component has its licence text;
# - the executables find their libraries inside the unpacked folder;
# - tovrin, on a model written by MAKE_TEST_MODEL, writes one final result event;
# - selvane, on a spoken note, writes a final result event with text through the
#   real recognizer (skipped on macOS, where it would wait for a permission that
#   nobody can grant here).
set -euo pipefail
archive=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
model_maker=${2:?usage: check-archive.sh ARCHIVE.tar.gz MAKE_TEST_MODEL}
scripts=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$archive" .tar.gz)
fail() { echo "check-archive: $name: $*" >&2; exit 1; }
apple=false
[ "$(uname -s)" = Darwin ] && apple=true

# --- the checksum ---
[ -f "$archive.sha256" ] || fail "no $archive.sha256"
if command -v sha256sum >/dev/null; then
  actual=$(sha256sum "$archive" | cut -d' ' -f1)
else
  actual=$(shasum -a 256 "$archive" | cut -d' ' -f1)
fi
[ "$(cut -d' ' -f1 "$archive.sha256")" = "$actual" ] || fail "its SHA-256 is not the one in $archive.sha256"

# --- what it holds ---
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/unpacked"
tar -xzf "$archive" -C "$work/unpacked"
[ "$(ls -A "$work/unpacked")" = "$name" ] || fail "it does not hold exactly one folder $name"
root=$work/unpacked/$name

if $apple; then
  library_names='lib(whisper|ggml|ggml-base|ggml-cpu|ggml-blas|ggml-metal)(\.[0-9]+)*\.dylib'
else
  library_names='lib(whisper|ggml|ggml-base)\.so(\.[0-9]+)+|libggml-cpu-[a-z0-9_]+\.so'
fi
contents=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
while IFS= read -r path; do
  case $path in
    README.md | docs/protocol.md | bin/tovrin | bin/selvane | licenses/*.txt) ;;
    bin/lib/*) [[ ${path#bin/lib/} =~ ^($library_names)$ ]] || fail "unexpected library $path" ;;
    *) fail "unexpected file $path" ;;
  esac
done <<<"$contents"
for path in README.md docs/protocol.md bin/tovrin bin/selvane; do
  [ -e "$root/$path" ] || fail "no $path"
done
for library in libwhisper libggml. libggml-base libggml-cpu; do
  grep -q "^bin/lib/$library" <<<"$contents" || fail "no $library in bin/lib"
done

# --- licences: which texts each bundled piece needs ---
# ggml is part of whisper.cpp's source and licence; its backends hold code under a
# notice of its own; nlohmann-json is compiled into selvane.
licence_rules=(
  'bin/lib/libwhisper*' whisper.cpp.txt
  'bin/lib/libggml*' whisper.cpp.txt
  'bin/lib/libggml-cpu*' ggml-backends-notice.txt
  'bin/lib/libggml-metal*' ggml-backends-notice.txt
  'bin/selvane' nlohmann-json.txt
)
while IFS= read -r path; do
  [[ $path == bin/lib/* || $path == bin/selvane ]] || continue
  covered=false
  for ((i = 0; i < ${#licence_rules[@]}; i += 2)); do
    # shellcheck disable=SC2053 # the rule is a pattern
    [[ $path == ${licence_rules[i]} ]] || continue
    covered=true
    text=$root/licenses/${licence_rules[i + 1]}
    [ -s "$text" ] || fail "$path needs licenses/${licence_rules[i + 1]}, which is missing or empty"
    grep -q 'Copyright' "$text" && grep -q 'Permission is hereby granted' "$text" ||
      fail "licenses/${licence_rules[i + 1]} holds no copyright and permission notice"
  done
  $covered || fail "no licence is known for $path"
done <<<"$contents"

# --- the executables find their libraries in the unpacked folder ---
if $apple; then
  otool -l "$root/bin/tovrin" | grep -A2 LC_RPATH | grep -q 'path @executable_path/lib ' ||
    fail "bin/tovrin has no LC_RPATH @executable_path/lib"
else
  # shellcheck disable=SC2016 # $ORIGIN is the loader's
  [ "$(readelf -d "$root/bin/tovrin" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')" = '$ORIGIN/lib' ] ||
    fail "bin/tovrin's RUNPATH is not \$ORIGIN/lib"
  for binary in "$root"/bin/tovrin "$root"/bin/selvane "$root"/bin/lib/*; do
    [ -L "$binary" ] && continue
    linked=$(env -u LD_LIBRARY_PATH ldd "$binary")
    ! grep -q 'not found' <<<"$linked" || fail "${binary#"$root"/}: $(grep 'not found' <<<"$linked")"
    while read -r library; do
      [[ $library == "$root"/bin/lib/* ]] || fail "${binary#"$root"/} loads $library from outside the archive"
    done < <(sed -n 's/.*lib\(whisper\|ggml\)[^ ]* => \([^ ]*\) .*/\2/p' <<<"$linked")
  done
fi

# --- the run-time versions its README names are the newest the binaries need ---
if ! $apple; then
  binaries=()
  while IFS= read -r path; do
    [[ $path == bin/* && ! -L $root/$path ]] && binaries+=("$root/$path")
  done <<<"$contents"
  for tag in GLIBC GLIBCXX CXXABI GCC GOMP; do
    newest=$(objdump -T "${binaries[@]}" | grep -oE "\b${tag}_[0-9.]+" | sort -V | tail -1)
    grep -qF "\`$newest\`" "$root/README.md" || fail "its README does not name $newest, the newest $tag version the binaries need"
  done
fi

# --- both programs run from there ---
# Runs PROGRAM ARGS with INPUT on standard input in an unrelated folder; sets
# status, and leaves the output in $work/out and $work/err.
run() {
  local input=$1
  shift
  status=0
  (cd "$work" && env -u LD_LIBRARY_PATH -u DYLD_LIBRARY_PATH "$@" <"$input" >"$work/out" 2>"$work/err") || status=$?
}
# Checks that every line of $work/out is a result event and the last one, alone, is
# final; with "text", that the final text is not empty.
expect_final_result() {
  local program=$1 need_text=${2:-}
  node -e '
    const lines = require("fs").readFileSync(process.argv[1], "utf8").split("\n");
    if (lines.pop() !== "") throw new Error("the output does not end with a line feed");
    if (lines.length === 0) throw new Error("no event line");
    lines.forEach((line, i) => {
      const event = JSON.parse(line);
      const keys = Object.keys(event).sort().join(",");
      if (keys !== "isFinal,text" || typeof event.text !== "string")
        throw new Error("not a result event: " + line);
      if (event.isFinal !== (i === lines.length - 1)) throw new Error("isFinal out of place: " + line);
    });
    if (process.argv[2] === "text" && JSON.parse(lines[lines.length - 1]).text === "")
      throw new Error("an empty final result");
  ' "$work/out" "$need_text" 2>"$work/node.err" ||
    fail "$program: $(tail -1 "$work/node.err"); its output: $(cat "$work/out"); its diagnostics: $(cat "$work/err")"
}

bash "$scripts/make-note.sh" "$work/note.raw" "Buy milk and eggs"
"$model_maker" "$work/model.bin" --ftype f16 >/dev/null
run "$work/note.raw" "$root/bin/tovrin" "$work/model.bin"
[ "$status" = 0 ] || fail "tovrin exited with status $status: $(cat "$work/err")"
expect_final_result tovrin
[ "$(wc -l <"$work/out")" -eq 1 ] || fail "tovrin wrote more than one line: $(cat "$work/out")"

if $apple; then
  echo "check-archive: $name: selvane not run: the Speech framework asks for a permission first"
else
  run "$work/note.raw" timeout 60 "$root/bin/selvane"
  [ "$status" = 0 ] || fail "selvane exited with status $status: $(cat "$work/err")"
  expect_final_result selvane text
  # On a machine too busy to finish decoding within the 5 seconds after the end of
  # the input, the final result is the recognizer's last partial text instead.
  grep -q '^\[maribek\] \(Final result received, exiting\|Timeout waiting for final result\)$' "$work/err" ||
    fail "selvane did not end as after a final result: $(cat "$work/err")"
fi
echo "check-archive: $name: good ($(wc -l <<<"$contents") files)"
