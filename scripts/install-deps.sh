#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Does nothing (and needs no network) when they are all present already.
set -euo pipefail

# --- Apple (macOS 15 or later, arm64): Homebrew --------------------------------
# Xcode's command-line tools bring clang and the SDK (Speech, AVFAudio, Metal,
# Accelerate). Homebrew brings the rest: node for npm, which fetches whisper.cpp
# as on Linux; bash 5 for the scripts (macOS ships 3.2); espeak-ng and sox speak
# the test note. PocketSphinx is not needed: selvane uses the Speech framework.
if [ "$(uname -s)" = Darwin ]; then
  xcode-select -p >/dev/null 2>&1 || { echo "Install Xcode's command-line tools first: xcode-select --install" >&2; exit 1; }
  command -v brew >/dev/null || { echo "Install Homebrew first: https://brew.sh" >&2; exit 1; }
  formulae=(cmake ninja googletest nlohmann-json node bash espeak-ng sox)
  missing=()
  for f in "${formulae[@]}"; do brew list --formula "$f" >/dev/null 2>&1 || missing+=("$f"); done
  [ ${#missing[@]} -eq 0 ] && exit 0
  echo "Installing: ${missing[*]}"
  HOMEBREW_NO_AUTO_UPDATE=1 HOMEBREW_NO_INSTALL_CLEANUP=1 brew install "${missing[@]}"
  exit 0
fi
# --- end of Apple -----------------------------------------------------------------

packages=(
  cmake ninja-build g++ pkg-config binutils
  clang  # the syntax check of the Objective-C++ (Apple) files
  libgtest-dev
  nlohmann-json3-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
  pocketsphinx
  espeak-ng sox time
  openssl  # checks the integrity of the package that brings whisper.cpp
  nodejs npm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# node and npm may come from outside Debian's packages; what matters is that they run.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${missing[@]}"; do [[ $p == nodejs || $p == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]}")
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
