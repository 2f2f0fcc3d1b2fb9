#!/usr/bin/env bash
# Builds whisper.cpp with ggml once per machine and prints the prefix that holds it:
#   PREFIX/include/*.h, PREFIX/lib/lib{whisper,ggml,ggml-base,ggml-cpu}.so*, PREFIX/bin/whisper-cli,
#   PREFIX/samples/jfk.wav (the source's 11 s recording of human speech, for the
#   streaming tests and benchmark)
# The source comes from the npm package nodejs-whisper, which carries whisper.cpp
# in its folder cpp/whisper.cpp; only that folder is unpacked, and none of the
# package's scripts or JavaScript is ever run.
set -euo pipefail

npm_package=nodejs-whisper@0.3.1
npm_integrity='sha512-ceoilUVraRuR5FnNyXpGQT2auAR48Oc3AQBEmkXnVpSn9iN6yVRzQBFCqVTGWbk6Wdi95NhvwXNzFvuR7erLWw=='
whisper_version=1.9.1
# Bump when the build options below change, so that a stale cache is not reused.
build_revision=3

cache_root=${ORLESSA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orlessa}
prefix=$cache_root/whisper-$whisper_version-r$build_revision
stamp=$prefix/.complete

if [ -f "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache_root"
# Two builds configuring at once must not compile whisper.cpp twice.
exec 9>"$cache_root/whisper.lock"
flock 9
if [ -f "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d "$cache_root/whisper-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
{
  echo "Fetching $npm_package (whisper.cpp $whisper_version)"
  (cd "$work" && npm pack "$npm_package" --ignore-scripts --silent >/dev/null)
  tarball=$(ls "$work"/nodejs-whisper-*.tgz)
  actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
  if [ "$actual" != "$npm_integrity" ]; then
    echo "integrity mismatch for $npm_package: got $actual" >&2
    exit 1
  fi
  tar -xzf "$tarball" -C "$work" package/cpp/whisper.cpp
  src=$work/package/cpp/whisper.cpp

  echo "Building whisper.cpp $whisper_version into $prefix"
  # RUNPATH $ORIGIN lets the libraries find each other wherever they are copied together.
  cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON \
    -DWHISPER_BUILD_TESTS=OFF \
    -DWHISPER_BUILD_SERVER=OFF \
    -DWHISPER_BUILD_EXAMPLES=ON \
    -DWHISPER_SDL2=OFF -DWHISPER_CURL=OFF \
    -DGGML_BLAS=OFF \
    -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON \
    -DCMAKE_INSTALL_RPATH='$ORIGIN;$ORIGIN/../lib' \
    >"$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
  cmake --build "$work/build" --target whisper whisper-cli -j"$(nproc)" >"$work/build.log" ||
    { tail -50 "$work/build.log" >&2; exit 1; }

  rm -rf "$prefix"
  mkdir -p "$prefix/include" "$prefix/lib" "$prefix/bin"
  cp "$src/include/whisper.h" "$src"/ggml/include/*.h "$prefix/include/"
  find "$work/build" -name 'lib*.so*' -exec cp -P {} "$prefix/lib/" \;
  cp "$work/build/bin/whisper-cli" "$prefix/bin/"
  mkdir -p "$prefix/samples" && cp "$src/bindings/go/samples/jfk.wav" "$prefix/samples/"
  touch "$stamp"
} >&2
echo "$prefix"
