#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds both stages and renders the bundled
# example through the bundled performance (a room reverb) with qvrender, the
# native build and the Windows build under Wine side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh windows native
for stage in build/windows/stage build/native/stage; do
  echo "== $stage"
  (cd "$stage" && find . -type f | sort)
done

out=build/example
mkdir -p "$out"
# A plucked guitar-like phrase, stereo, 44.1 kHz.
sox -n -r 44100 -c 2 -b 16 "$out/phrase.wav" synth 0.5 pluck C3 : synth 0.5 pluck E3 : synth 0.5 pluck G3 \
    : synth 1.5 pluck C4 fade 0 1.5 1 2>/dev/null
echo "== rendering examples/room.qvp (native)"
build/native/stage/qvrender --performance examples/room.qvp "$out/phrase.wav" "$out/phrase-room.wav"
echo "== rendering examples/room.qvp (Windows build under Wine)"
# shellcheck source=scripts/services.sh
source scripts/services.sh
cmake/wine-run.sh build/windows/stage/qvrender.exe --quiet --performance examples/room.qvp \
    "$out/phrase.wav" "$out/phrase-room-windows.wav"
if cmp -s "$out/phrase-room.wav" "$out/phrase-room-windows.wav"; then
  echo "both builds rendered the same samples"
else
  echo "the two builds differ" >&2
  exit 1
fi
soxi "$out/phrase-room.wav"
echo "dry:"; sox "$out/phrase.wav" -n stat 2>&1 | grep -E 'RMS +amplitude'
echo "with the room:"; sox "$out/phrase-room.wav" -n stat 2>&1 | grep -E 'RMS +amplitude'
echo "result: $out/phrase-room.wav"
