#!/usr/bin/env bash
# Downloads the standard ggml Whisper tiny English model into models/, where tovrin
# looks by default. Needs the network; no test uses it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
url=https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-tiny.en.bin
dest=$root/models/ggml-tiny.en.bin

if [ -f "$dest" ]; then
  echo "Already there: $dest"
  exit 0
fi
mkdir -p "$root/models"
part=$dest.part
trap 'rm -f "$part"' EXIT
echo "Fetching $url"
if command -v curl >/dev/null; then
  curl -fL --retry 3 -o "$part" "$url"
elif command -v wget >/dev/null; then
  wget -O "$part" "$url"
else
  echo "Neither curl nor wget is installed." >&2
  exit 1
fi
# A cut-short download must not pass for a model: the file is about 75 MB.
size=$(( $(wc -c <"$part") ))
if [ "$size" -lt 70000000 ]; then
  echo "Download incomplete ($size bytes)." >&2
  exit 1
fi
mv "$part" "$dest"
echo "Saved $dest ($size bytes)"
