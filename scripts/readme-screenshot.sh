#!/usr/bin/env bash
# Makes docs/screenshot.png, the README's picture, from the real program
# under Wine: the main window with the Master Section (reverb and echo in
# the chain) and both VU meters showing a tone that plays into live input.
#   scripts/readme-screenshot.sh [OUTFILE]
# Uses the end-to-end set-up (tests/e2e/lib.sh): QV_STAGE, QV_DRIVE,
# QV_E2E_DISPLAY and QV_E2E_PREFIX choose the build, the display and the
# prefix as for run.sh (defaults: the windows preset, :96). The program's
# settings key in that prefix is rewritten.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshot.png}")
# shellcheck source=tests/e2e/lib.sh
source "$root/tests/e2e/lib.sh"
QV_SCENARIO=readme_screenshot
QV_RESULTS=$(mktemp)
work=$(mktemp -d)
tone_pid=
cleanup() {
  [ -z "$tone_pid" ] || kill "$tone_pid" 2>/dev/null
  qv_services_stop
  rm -rf "$work" "$QV_RESULTS"
}
trap cleanup EXIT
[ -f "$QV_EXE" ] || { echo "readme-screenshot: $QV_EXE is missing (build first)" >&2; exit 1; }
qv_services_start

# The frame at (100, 50)-(900, 630), the Master Section in the MDI client's
# corner, the meters below it inside the frame; live input on the test sinks
# (output QvOutA, input the monitor of QvOutB, where the tone plays).
qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_seed_devices
qv_reg_add "$QV_KEY" ww001 REG_BINARY 0100000064000000840300003200000076020000
qv_reg_add "$QV_KEY" ww002 REG_BINARY 000000000000000001b8010000a4010000b8010000f4010000

# A guitar-like tone: a decaying chord, repeated.
python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
rate = 44100
frames = bytearray()
for n in range(rate * 2):
    t = n / rate
    env = math.exp(-2.5 * t)
    v = sum(math.sin(2 * math.pi * f * t) for f in (196.0, 246.9, 293.7)) / 3 * env * 0.8
    s = int(v * 32767)
    frames += struct.pack("<hh", s, s)
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate); w.writeframes(bytes(frames))
PY
(while true; do paplay --device=b "$work/tone.wav" || break; done) >/dev/null 2>&1 &
tone_pid=$!

qv_watch_start readme.boxes "text:*Performance was changed*=NO" "*=OK"
qv_start
frame=$(qv_wait_window Quorvane_Main_Class - 40) || { echo "readme-screenshot: no frame" >&2; exit 1; }
sleep 2
master=$(qvd children "$frame" | awk -F'\t' '$2 == "Quorvane_MDIClient_Class" { print $1; exit }')
pane=$(qvd children "$frame" | awk -F'\t' '$2 == "Quorvane_FX_Class" { print $1; exit }')
[ -n "$master" ] && [ -n "$pane" ] || { echo "readme-screenshot: no Master Section" >&2; exit 1; }

# choose PLUGIN: the chain's Select Effect dialog is open; pick and confirm.
choose() {
  local dialog
  dialog=$(qv_wait_window "#32770" "Select Effect:" 10) || return 1
  qvd tree "$dialog" "Quorvane Plugins/$1" >/dev/null
  qvd post-command "$dialog" 1011 >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null
}
# Slot 1 through the pane's "&Select"; slot 2 by a double-click on its name
# (the pane's client origin for this placement is (110, 171)).
qvd post-command "$pane" 114 >/dev/null && choose reverb
xdotool mousemove 230 223 sleep 0.2 click --repeat 2 --delay 60 1
choose echo
xdotool mousemove 1200 1000

qvd post-command "$frame" 32772 >/dev/null
qv_wait_window Quorvane_Meter_Class "Input VU Meter" 10 >/dev/null || echo "readme-screenshot: the meters did not open" >&2
sleep 3

read -r l t r b <<<"$(qvd rects "$frame" | head -1 | cut -f6)"
mkdir -p "$(dirname "$out")"
if timeout 20 import -display "$DISPLAY" -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "png:$out.tmp" &&
  [ -s "$out.tmp" ]; then
  mv -f "$out.tmp" "$out"
  echo "readme-screenshot: $out ($((r - l)) x $((b - t)))"
  status=0
else
  rm -f "$out.tmp"
  echo "readme-screenshot: the screen could not be captured" >&2
  status=1
fi
qvd post-command "$frame" 32772 >/dev/null
sleep 0.5
qvd close "$frame" >/dev/null
qv_wait_exit 30 || qvd kill "$QV_EXE_NAME" >/dev/null
qv_stop
qv_reg_delete_key "$QV_KEY"
exit "$status"
