#!/usr/bin/env bash
# The program's main job, shown without a sound card: Quorvane Live (as
# installed into the project's Wine prefix, or any application folder given
# as the first argument) starts with the bundled performance, live input
# runs through PulseAudio's null sinks (QvOutB's monitor in, QvOutA out), a
# plucked phrase is played into the input, and the program's own Recording
# dialog records the take. Prints where the take and the screenshots are.
#
#   scripts/demo-live.sh [APPDIR] [PHRASE.wav]
#
# Uses the end-to-end driver (build/windows/tests/qvdrive.exe) to press
# what a musician would press.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build/run"
mkdir -p "$out"

export QV_E2E_PREFIX="${QV_E2E_PREFIX:-${WINEPREFIX:-$root/build/wineprefix}}"
export QV_E2E_DISPLAY="${QV_E2E_DISPLAY:-${DISPLAY:-:97}}"
appdir=${1:-"$QV_E2E_PREFIX/drive_c/Program Files/Quorvane Live"}
export QV_STAGE="$appdir"
export QV_SCENARIO=demo
# shellcheck source=tests/e2e/lib.sh
source tests/e2e/lib.sh
QV_E2E_DIR=$out
QV_RESULTS="$out/demo-results.txt"
: >"$QV_RESULTS"

phrase=${2:-"$root/build/example/phrase.wav"}
if [ ! -f "$phrase" ]; then
  sox -n -r 44100 -c 2 -b 16 "$out/phrase.wav" synth 0.5 pluck C3 : synth 0.5 pluck E3 : synth 0.5 pluck G3 \
      : synth 1.5 pluck C4 fade 0 1.5 1 2>/dev/null
  phrase="$out/phrase.wav"
fi
if [ ! -f "$QV_EXE" ] || [ ! -f "$QV_DRIVE" ]; then
  echo "demo: needs $QV_EXE and $QV_DRIVE (build and install first)" >&2
  exit 1
fi

qv_services_start
trap qv_services_stop EXIT

# DirectSound on the null sinks, 40 ms, 44.1 kHz 16-bit stereo; master and
# input gain 1, the gate open; the recorder writes a file at 44.1 kHz 16 bits.
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$appdir")\\"
qv_seed_devices
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000803f0000803f00000000050064000000f0420000
qv_reg_add "$QV_KEY" st003 REG_BINARY 000000053c00
# The Master Section open at the top left, showing the chain; the meters
# beside it (x 560, y 110 and 190 on the screen).
qv_reg_add "$QV_KEY" ww002 REG_BINARY 0a0000000a00000001300200006e00000030020000be000000

take="$out/take.wav"
rm -f "$take"
QV_APP_LIMIT=180 qv_watch_start demo.boxes "*=OK"
QV_APP_LIMIT=180 qv_start "$(qv_winpath "$root/examples/room.qvp")"
frame=$(qv_wait_window Quorvane_Main_Class - 40)
if [ -z "$frame" ]; then
  echo "demo: the program did not start" >&2
  exit 1
fi
sleep 2
echo "demo: $(qvd title "$frame" | cut -f2-)"

step() { echo "demo: $*"; }
step "live input on (Ctrl+L)"
qvd send-key "$frame" ctrl+l >/dev/null
sleep 1.5
step "the Recording dialog records to $take"
qvd post-command "$frame" 32794 >/dev/null
rec=$(qv_wait_window '#32770' 'Recording:' 20)
qvd post-command "$rec" 1106 >/dev/null
qvd file-dialog "Wave File To Record" "$(qv_winpath "$take")" 20 >/dev/null
sleep 0.5
qvd post-command "$rec" 1109 >/dev/null
sleep 1
step "playing the phrase into the input"
timeout 30 paplay --device=b "$phrase"
sleep 1
qv_shot quorvane-live-recording
step "read-outs: $(qvd text "$rec" 1110 | head -1), $(qvd text "$rec" 1120 | head -1)"
qvd post-command "$rec" 1109 >/dev/null
sleep 1
qvd close "$rec" >/dev/null
qvd send-key "$frame" ctrl+l >/dev/null
sleep 1
qv_shot quorvane-live
qvd post-command "$frame" 105 >/dev/null
qv_wait_exit 30
qv_stop
if [ -s "$QV_WATCH_LOG" ]; then
  echo "demo: the program said:"
  sed 's/^/  /' "$QV_WATCH_LOG"
fi

if [ ! -s "$take" ]; then
  echo "demo: no take was recorded" >&2
  exit 1
fi
echo "demo: the take: $take ($(soxi -D "$take" 2>/dev/null) s, peak $(sox "$take" -n stat 2>&1 |
  awk '/Maximum amplitude/ {print $3}'))"
echo "demo: screenshots: $out/quorvane-live-recording.png $out/quorvane-live.png"
