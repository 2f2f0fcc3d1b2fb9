#!/usr/bin/env bash
# Packs the release archive from the build tree BUILD with its CPack configuration,
# into a folder of its own, and checks it as make dist does.
#   pack_and_check.sh CPACK BUILD MAKE_TEST_MODEL
set -euo pipefail
cpack=$1 build=$2 model_maker=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$cpack" --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" || { cat "$out/cpack.log" >&2; exit 1; }
archives=("$out"/*.tar.gz)
[ ${#archives[@]} -eq 1 ] || { echo "cpack made ${#archives[@]} archives: ${archives[*]}" >&2; exit 1; }
bash "$(dirname "$0")/../../scripts/check-archive.sh" "${archives[0]}" "$model_maker"
