#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Regenerates tune.mp3, the background music every album announces: a four-second
# plucked melody, mono, 22.05 kHz, 48 kbit/s. The committed file is what the server
# serves; run this only to change the tune.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
notes=(C4 E4 G4 C5 A4 F4 G4 C4)
i=0
for n in "${notes[@]}"; do
  sox -n -r 22050 -c 1 "$work/$(printf %02d $i).wav" synth 0.5 pluck "$n" fade 0 0.5 0.15 vol 0.8
  i=$((i + 1))
done
sox "$work"/*.wav "$work/tune.wav"
lame --quiet -b 48 -m m --noreplaygain "$work/tune.wav" tune.mp3
