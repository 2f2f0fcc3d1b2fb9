#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Does nothing (and needs no network) when they are all present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config binutils
  libgtest-dev
  nlohmann-json3-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
  pocketsphinx
  espeak-ng sox time
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
