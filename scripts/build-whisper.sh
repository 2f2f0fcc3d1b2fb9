#!/usr/bin/env bash
# Builds whisper.cpp with ggml once and prints the prefix that holds it:
#   PREFIX/include/*.h, PREFIX/lib/lib{whisper,ggml,ggml-base}.so*,
#   PREFIX/lib/libggml-cpu-VARIANT.so, PREFIX/bin/whisper-cli, PREFIX/samples/jfk.wav,
#   PREFIX/licenses/*.txt (the licence texts that travel with the libraries)
# The CPU backend is built once per x86-64 instruction-set level, and ggml loads
# the best one the running processor supports, so the build runs on any x86-64
# machine. With ORLESSA_WHISPER_NATIVE=1 it builds instead for this processor
# only (for the benchmark), into a prefix of its own that names the processor's
# features, so the portable build is never handed a native one.
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

# Shared libraries, the library and whisper-cli only, nothing that needs more packages.
common_options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DWHISPER_BUILD_TESTS=OFF -DWHISPER_BUILD_SERVER=OFF -DWHISPER_BUILD_EXAMPLES=ON
  -DWHISPER_SDL2=OFF -DWHISPER_CURL=OFF
)

# Unpacks the package's folder cpp/whisper.cpp into $1/package after checking the
# package against its integrity hash.
unpack_source() {
  local work=$1 tarball actual
  echo "Fetching $npm_package (whisper.cpp $whisper_version)"
  (cd "$work" && npm pack "$npm_package" --ignore-scripts --silent >/dev/null)
  tarball=$(ls "$work"/nodejs-whisper-*.tgz)
  actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | openssl base64 -A)"
  if [ "$actual" != "$npm_integrity" ]; then
    echo "integrity mismatch for $npm_package: got $actual" >&2
    return 1
  fi
  tar -xzf "$tarball" -C "$work" package/cpp/whisper.cpp
}

# The licence texts that must travel with the libraries (make dist packs them):
# whisper.cpp's, which covers ggml, and the notice of the code from elsewhere that
# ggml's CPU and Metal backends hold, each taken from the source of this build.
keep_licences() {
  local src=$1 out=$prefix/licenses.tmp notice
  notice=$(grep -h -B1 'MIT licensed\. Copyright' "$src/ggml/src/ggml-cpu/ops.cpp" | sed 's|^// *||') ||
    { echo "no licence notice found in ggml-cpu/ops.cpp" >&2; return 1; }
  rm -rf "$out"
  mkdir -p "$out"
  cp "$src/LICENSE" "$out/whisper.cpp.txt"
  {
    echo "ggml's CPU backends (and on macOS its Metal backend) hold code under this notice:"
    echo
    echo "$notice"
    echo
    sed -n '/^Permission is hereby granted/,$p' "$src/LICENSE"
  } >"$out/ggml-backends-notice.txt"
  rm -rf "$prefix/licenses"
  mv "$out" "$prefix/licenses"
}

# Where this platform's build goes, and how it is configured, locked and finished.
if [ "$(uname -s)" = Darwin ]; then
  # Apple (macOS 15 or later, arm64): Metal with its shaders embedded in libggml-metal
  # (no shader file ships), Accelerate for BLAS, shared libraries named @rpath/...
  # that find each other beside themselves. The argument "cpu" builds without Metal,
  # for a machine whose GPU cannot be trusted (the paravirtual GPU of hosted CI
  # runners); "metal" is the default.
  variant=${1:-metal}
  case $variant in
    metal) metal=ON ;;
    cpu) metal=OFF ;;
    *) echo "usage: build-whisper.sh [metal|cpu]" >&2; exit 2 ;;
  esac
  prefix=$cache_root/whisper-$whisper_version-r$build_revision-macos-$variant
  # GGML_NATIVE off: the libraries run on any Apple silicon, not only this one.
  platform_options=(
    "-DGGML_METAL=$metal" "-DGGML_METAL_EMBED_LIBRARY=$metal"
    -DGGML_BLAS=ON -DGGML_BLAS_VENDOR=Apple -DGGML_ACCELERATE=ON
    -DGGML_NATIVE=OFF
    -DCMAKE_OSX_DEPLOYMENT_TARGET=15.0 -DCMAKE_OSX_ARCHITECTURES=arm64
    -DCMAKE_INSTALL_RPATH='@loader_path;@loader_path/../lib'
  )
  libraries='lib*.dylib'
  jobs=$(sysctl -n hw.ncpu)
  # macOS has no flock(1). perl locks the descriptor it inherits; the lock belongs
  # to the open file, which this shell keeps open on descriptor 9 until it exits.
  lock_descriptor_9() { perl -MFcntl=:flock -e 'open(my $fd, ">&=", 9) or die "$!"; flock($fd, LOCK_EX) or die "$!"'; }
  # An arm64 binary whose signature does not verify is killed at launch; sign ad
  # hoc any that a step has changed since the linker signed it.
  finish_prefix() {
    for binary in "$prefix"/lib/*.dylib "$prefix/bin/whisper-cli"; do
      [ -L "$binary" ] && continue
      codesign --verify "$binary" 2>/dev/null || codesign --force --sign - "$binary"
    done
  }
else
  prefix=$cache_root/whisper-$whisper_version-r$build_revision
  cpu_options=(-DGGML_NATIVE=OFF -DGGML_BACKEND_DL=ON -DGGML_CPU_ALL_VARIANTS=ON)
  if [ "${ORLESSA_WHISPER_NATIVE:-0}" = 1 ]; then
    prefix=$prefix-native-$(grep -m1 '^flags' /proc/cpuinfo | sha256sum | cut -c1-12)
    cpu_options=(-DGGML_NATIVE=ON)
  fi
  # RUNPATH $ORIGIN lets the libraries find each other wherever they are copied together.
  # shellcheck disable=SC2016 # $ORIGIN is the loader's, not the shell's
  platform_options=(-DGGML_BLAS=OFF "${cpu_options[@]}" -DCMAKE_INSTALL_RPATH='$ORIGIN;$ORIGIN/../lib')
  libraries='lib*.so*'
  jobs=$(nproc)
  lock_descriptor_9() { flock 9; }
  # whisper-cli looks for the CPU variants beside itself.
  finish_prefix() {
    for variant in "$prefix"/lib/libggml-cpu-*.so; do
      if [ -e "$variant" ]; then ln -s "../lib/$(basename "$variant")" "$prefix/bin/"; fi
    done
  }
fi
stamp=$prefix/.complete
# A cache finished before the licence texts were kept gets them added in place.
ready() { [ -f "$stamp" ] && [ -d "$prefix/licenses" ]; }

if ready; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache_root"
# Two builds configuring at once must not compile the same prefix twice.
exec 9>"$prefix.lock"
lock_descriptor_9
if ready; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d "$cache_root/whisper-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
{
  unpack_source "$work"
  src=$work/package/cpp/whisper.cpp

  if [ ! -f "$stamp" ]; then
    echo "Building whisper.cpp $whisper_version into $prefix"
    # Building with the install rpath means no step edits a binary after linking.
    cmake -S "$src" -B "$work/build" -G Ninja \
      "${common_options[@]}" "${platform_options[@]}" \
      -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON \
      >"$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
    cmake --build "$work/build" --target whisper whisper-cli -j"$jobs" >"$work/build.log" ||
      { tail -50 "$work/build.log" >&2; exit 1; }

    rm -rf "$prefix"
    mkdir -p "$prefix/include" "$prefix/lib" "$prefix/bin" "$prefix/samples"
    cp "$src/include/whisper.h" "$src"/ggml/include/*.h "$prefix/include/"
    find "$work/build" -name "$libraries" -exec cp -P {} "$prefix/lib/" \;
    cp "$work/build/bin/whisper-cli" "$prefix/bin/"
    finish_prefix
    cp "$src/bindings/go/samples/jfk.wav" "$prefix/samples/jfk.wav"
    touch "$stamp"
  fi
  keep_licences "$src"
} >&2
echo "$prefix"
