#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything, renders the bundled
# example through the bundled performance (a room reverb) with qvrender in
# both builds, then installs Quorvane Live with its setup program into the
# project's Wine prefix and shows its main job: live input through the
# PulseAudio null sinks with the same performance, a phrase played in and
# recorded by the program (scripts/demo-live.sh). With a display of the
# caller's, the program is then started for use.
set -euo pipefail
cd "$(dirname "$0")/.."
caller_display=${DISPLAY:-}
scripts/setup.sh
scripts/build.sh windows32 windows native

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
echo "with the room: $out/phrase-room.wav"

echo "== installing Quorvane Live into the Wine prefix ($WINEPREFIX)"
# A crash ends the program instead of opening the debugger's dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
timeout 120 wine build/windows/QuorvaneLive-setup.exe /S
program='C:\Program Files\Quorvane Live\QuorvaneLive.exe'
wine reg query 'HKCU\SOFTWARE\Quorvane Software\Quorvane Live\1' /v AppDir 2>/dev/null | grep AppDir || {
  echo "the setup program did not install the program" >&2
  exit 1
}

echo "== live input in the program: the phrase through examples/room.qvp, recorded by the program"
QV_E2E_PREFIX=$WINEPREFIX QV_E2E_DISPLAY=$DISPLAY scripts/demo-live.sh "" "$(pwd)/$out/phrase.wav"

if [ -n "$caller_display" ]; then
  echo "== starting Quorvane Live on $DISPLAY (close it to end)"
  wine explorer /desktop=QuorvaneLive,1280x1024 "$program"
fi
