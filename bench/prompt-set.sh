#!/usr/bin/env bash
# The real-speech set of the streaming benchmark: the English prompts of Debian's
# asterisk-core-sounds (one professional speaker, 16 kHz G.722, exact transcripts),
# joined into dictations of about 2 minutes with 0.7 s of silence between prompts.
# Installs the two packages and ffmpeg when they are missing.
#
# The held-out prompts are left out by bench/prompt-select.sh before anything else
# reads them.
#
# Writes into OUT_DIR, for each dictation N (1, 2, ...):
#   real-N.raw          16 kHz mono s16le
#   real-N.raw.txt      the reference: the prompts' transcripts, one a line
#   real-N.raw.prompts  for each prompt, the sample where its audio ends
# and prints one line per dictation.
# usage: bench/prompt-set.sh OUT_DIR
set -euo pipefail
out=${1:?usage: bench/prompt-set.sh OUT_DIR}
mkdir -p "$out"
sounds=/usr/share/asterisk/sounds/en_US_f_Allison
transcripts=/usr/share/doc/asterisk-core-sounds-en/core-sounds-en.txt.gz

missing=()
for p in asterisk-core-sounds-en-g722 asterisk-core-sounds-en ffmpeg; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

kept=$out/kept-prompts
bash "$(dirname "$0")/prompt-select.sh" "$transcripts" "$sounds" > "$kept" 2> "$out/selection"

# Decoded first, so the total is known: the set is cut into as many dictations of
# about 2 minutes as it fills, each prompt going to the one where it starts.
decoded=$out/decoded
rm -rf "$decoded"
mkdir -p "$decoded"
count=0 total=0
while IFS=$'\t' read -r name text; do
  count=$((count + 1))
  ffmpeg -nostdin -loglevel error -f g722 -i "$sounds/$name.g722" -ar 16000 -ac 1 -f s16le - > "$decoded/$count.raw"
  printf '%s\n' "$text" > "$decoded/$count.txt"
  total=$((total + $(stat -c %s "$decoded/$count.raw")))
done < "$kept"
rm -f "$kept"
gap=$((16000 * 2 * 7 / 10))  # bytes of 0.7 s
total=$((total + (count - 1) * gap))
dictations=$(((total + 60 * 32000) / (120 * 32000)))
((dictations > 0)) || dictations=1
share=$(((total + dictations - 1) / dictations))

rm -f "$out"/real-*.raw "$out"/real-*.raw.txt "$out"/real-*.raw.prompts
at=0
for ((i = 1; i <= count; i++)); do
  n=$((at / share + 1))
  file=$out/real-$n.raw
  [ -s "$file" ] && head -c "$gap" /dev/zero >> "$file"
  cat "$decoded/$i.raw" >> "$file"
  cat "$decoded/$i.txt" >> "$file.txt"
  echo $(($(stat -c %s "$file") / 2)) >> "$file.prompts"
  at=$((at + $(stat -c %s "$decoded/$i.raw") + gap))
done
rm -rf "$decoded"

echo "$(cat "$out/selection"), $dictations dictations"
rm -f "$out/selection"
for ((n = 1; n <= dictations; n++)); do
  echo "  real-$n.raw: $(wc -l < "$out/real-$n.raw.prompts") prompts," \
    "$(awk "BEGIN { printf \"%.1f\", $(stat -c %s "$out/real-$n.raw") / 32000 }") s"
done
