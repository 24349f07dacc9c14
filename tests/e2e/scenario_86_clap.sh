# A CLAP effect in the real program, with the real mouse: the CLAP wrapper
# scans a folder of the scenario's own (VSTDir, its cache where CLAPCache
# says) holding our test module, "Qv Test Gain" goes into slot 1 from the
# "Select Effect:" tree and its editor embeds the plug-in's own window. A
# left click in that window sets the gain through the host, once while live
# input runs (saved while it runs) and once after it stopped (the plug-in
# asks for a flush); each saved performance holds the value of its click,
# and the second reopens to the same bytes. The plug-in's editor has no
# latency control: a copy of the performance with the latency raised in the
# file opens to a status bar that adds it to the loop's latency, and saves
# back to the same bytes. A last click makes the program ask about the
# changed performance when it closes. qvrender renders the performance in
# the Windows build and, with the native module, in the native build to the
# same samples, at the gain the click set.
# shellcheck shell=bash

work="$QV_E2E_DIR/clap"
rm -rf "$work"
mkdir -p "$work/clap" "$work/native"
cp "$(dirname "$QV_STAGE")/testmodules/clap/QvTestGain.clap" "$work/clap/"
native_build="$qv_root/build/native"
[ -f "$native_build/testmodules/clap/QvTestGain.clap" ] &&
  cp "$native_build/testmodules/clap/QvTestGain.clap" "$work/native/"
# Only the scenario's folder: no module from the caller's CLAP_PATH.
unset CLAP_PATH

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$work/clap")\\"
qv_reg_add "$QV_KEY" CLAPCache REG_SZ "$(qv_winpath "$work/cache.txt")"
# DirectSound on the test sinks: 40 ms blocks at 44.1 kHz (1764 frames),
# 2 buffers, 2 ms output delay.
qv_seed_devices
source "$qv_root/tests/e2e/chainpane.sh"
qv_chain_layout

# The loop's latency for those devices: two blocks and the output delay,
# 2 x 1764 / 44.1 + 2 = 82 ms; the plug-in at 500 samples adds 11.3 ms.
device_ms=82
raised_ms=93

# clap_values FILE: each CLAP instance of the performance as "name gain
# latency" (our test plug-in's state: "QVCL", u32 version, f64 gain, f64
# latency in samples).
clap_values() {
  python3 "$qv_root/tests/e2e/perfdump.py" "$1" | python3 -c '
import struct, sys
for line in sys.stdin:
    f = line.rstrip("\n").split("\t")
    if f[0] != "CLAPWRAP":
        continue
    state = bytes.fromhex(f[2]) if f[2] != "-" else b""
    name = f[1].replace("\\", "/").split("/")[-1]
    if state[:4] == b"QVCL" and len(state) >= 24:
        gain, latency = struct.unpack_from("<dd", state, 8)
        print(name, "%.3f" % gain, "%.3f" % latency)
    else:
        print(name, "unreadable", state.hex())'
}

# with_latency IN OUT SAMPLES: the performance with the plug-in's latency
# set in its state (the one "QVCL" record), nothing else changed.
with_latency() {
  python3 - "$@" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"QVCL\x01\x00\x00\x00")
assert at > 0 and data.find(b"QVCL\x01\x00\x00\x00", at + 1) < 0, "not one plug-in state"
struct.pack_into("<d", data, at + 16, float(sys.argv[3]))
open(sys.argv[2], "wb").write(data)
EOF
}

wait_child() {  # CLASS TITLE: the frame's visible descendant of that class and title
  local h
  for _ in $(seq 100); do
    h=$(qvd children "$FRAME" | awk -F'\t' -v c="$1" -v t="$2" '$2 == c && $4 == "visible" && $5 == t { print $1; exit }')
    [ -n "$h" ] && { echo "$h"; return 0; }
    sleep 0.1
  done
  return 1
}

# The status bar's text (control 1130 of the frame).
status_text() { qvd text "$FRAME" 1130; }
# wait_status TEXT: up to 3 s for the status bar to say TEXT; prints what it said last.
wait_status() {
  local t=""
  for _ in $(seq 30); do
    t=$(status_text)
    [ "$t" = "$1" ] && break
    sleep 0.1
  done
  printf '%s\n' "$t"
}
toggle_live() { qvd send-key "$FRAME" ctrl+l >/dev/null; sleep 1.5; }
live_state() { qvd menu "$FRAME" | grep -P "\t32772\t" | cut -f3; }
close_meters() {  # the meter windows open with live input; closed, they cover nothing
  local title meter
  for title in "Input VU Meter" "Output VU Meter"; do
    meter=$(QV_DRIVE_LIMIT=20 qvd wait-window Quorvane_Meter_Class "$title" 3 | cut -f1)
    [ -n "$meter" ] && qvd close "$meter" >/dev/null
  done
}

# The plug-in's window in the editor frame: "left top right bottom".
view_rect() { qvd rects "$EDITOR" | awk -F'\t' '$2 == "QvTestClapView" && $4 == "visible" { print $6; exit }'; }

# view_click FRACTION: a real left click in the plug-in's window at that
# fraction of its width (the gain becomes 2 x FRACTION).
view_click() {
  local l t r b
  read -r l t r b <<<"$(view_rect)"
  if [ -z "$b" ]; then
    qv_fail "the plug-in's window is not in its editor frame"
    return 1
  fi
  click "$(awk -v l="$l" -v w="$((r - l))" -v f="$1" 'BEGIN { printf "%d", l + w * f }')" $(((t + b) / 2)) 1
}

qv_watch_start clap.boxes "text:*Performance was changed*=NO" "*=OK"
QV_APP_LIMIT=240 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 1
qvd post-command "$FRAME" 32800 >/dev/null
qv_wait_window - "Master Section" 10 >/dev/null
sleep 0.5

# ---- the scan and the Select Effect tree
if menu_command 0 s "attach the CLAP effect" && choose "CLAP Plugins/Qv Test Gain" "attach the CLAP effect"; then
  if grep -q "Qv Test Synth" <<<"$TREE"; then
    qv_fail "the tree lists the module's instrument"
  else
    qv_pass "the tree lists the CLAP effect and leaves the module's instrument out"
  fi
fi
grep -q "QvTestGain.clap" "$work/cache.txt" 2>/dev/null &&
  qv_pass "the scan cache is where CLAPCache says" || qv_fail "no scan cache at CLAPCache ($work/cache.txt)"

# ---- the editor with the plug-in's own window
menu_command 0 e "show the CLAP editor"
if EDITOR=$(wait_child CLAP_Wrapper_Editor "Qv Test Gain"); then
  qv_pass "Show Editor opens the CLAP frame titled with the effect's name"
  read -r l t r b <<<"$(view_rect)"
  check_eq "300x200" "$((r - l))x$((b - t))" "the plug-in's window is embedded in the frame at its own size"
  qv_shot clap_editor
else
  qv_fail "Show Editor opened no CLAP frame"
fi

# ---- a click while live input runs through the plug-in (the plug-in
# sends the value with its next block), saved while it runs
check_eq "" "$(status_text)" "before live input the status bar shows no latency"
toggle_live
check_eq checked "$(live_state)" "live input runs"
close_meters
check_eq "Latency: $device_ms ms" "$(wait_status "Latency: $device_ms ms")" \
  "the status bar shows the devices' latency with the plug-in at 0 samples"
if [ -n "${EDITOR:-}" ]; then
  view_click 0.25  # gain 0.5
  sleep 1
fi
check_eq checked "$(live_state)" "live input still runs"
save_as "$work/live.qvp" "saved while live input runs"
check_eq "QvTestGain.clap 0.500 0.000" "$(clap_values "$work/live.qvp")" \
  "the performance saved while live input runs holds the gain its click set"
toggle_live
check_eq "" "$(wait_status "")" "with live input stopped the read-out is gone"

# ---- a click with live input stopped (the plug-in asks the host for a
# flush)
check_eq enabled "$(live_state)" "live input is stopped"
if [ -n "${EDITOR:-}" ]; then
  view_click 0.75  # gain 1.5
  sleep 0.5
fi
save_as "$work/edited.qvp" "edited with live input stopped"
check_eq "QvTestGain.clap 1.500 0.000" "$(clap_values "$work/edited.qvp")" \
  "the performance saved with live input stopped holds the gain its click set"

# ---- reopened with the editor still open: the editor goes with its
# plug-in; the same values, the same bytes
qvd post-command "$FRAME" 32774 >/dev/null
check_ok "reopen: the dialog takes the path" qvd file-dialog "Open Performance File" "$(qv_winpath "$work/edited.qvp")" 20
sleep 1
check_eq "" "$(qvd children "$FRAME" | awk -F'\t' '$2 == "CLAP_Wrapper_Editor" || $2 == "QvTestClapView"')" \
  "the open editor and the plug-in's window went with the old plug-in"
save_as "$work/reopened.qvp" reopened
check_eq "QvTestGain.clap 1.500 0.000" "$(clap_values "$work/reopened.qvp")" "the reopened performance has the same values"
check_ok "a reopened performance saves to the same bytes" cmp -s "$work/edited.qvp" "$work/reopened.qvp"

# ---- the plug-in's latency, raised in a copy of the file
with_latency "$work/edited.qvp" "$work/latency.qvp" 500
qvd post-command "$FRAME" 32774 >/dev/null
check_ok "open the copy with the latency: the dialog takes the path" \
  qvd file-dialog "Open Performance File" "$(qv_winpath "$work/latency.qvp")" 20
sleep 1
toggle_live
check_eq checked "$(live_state)" "live input runs with the raised latency"
close_meters
check_eq "Latency: $raised_ms ms" "$(wait_status "Latency: $raised_ms ms")" \
  "the read-out adds the plug-in's latency of 500 samples"
toggle_live
save_as "$work/latency-saved.qvp" "latency"
check_eq "QvTestGain.clap 1.500 500.000" "$(clap_values "$work/latency-saved.qvp")" \
  "the performance with the raised latency saves it"
check_ok "and saves to the bytes it was opened from" cmp -s "$work/latency.qvp" "$work/latency-saved.qvp"

# ---- the editor again, on the opened plug-in: a click is a change the
# program asks about when it closes
menu_command 0 e "show the CLAP editor again"
if EDITOR=$(wait_child CLAP_Wrapper_Editor "Qv Test Gain"); then
  check_ok "the opened plug-in's window is in its editor frame" test -n "$(view_rect)"
  view_click 0.5  # gain 1.0
  sleep 0.5
else
  qv_fail "Show Editor opened no CLAP frame for the opened plug-in"
fi

qvd close "$FRAME" >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code"
qv_stop
check_eq 1 "$(grep -c 'Performance was changed' "$QV_WATCH_LOG")" "closing after the last click asks about the changed performance"
check_eq 0 "$(grep -v 'Performance was changed' "$QV_WATCH_LOG" | grep -c .)" "no other box than the question"

# ---- rendered: Windows and native give the same samples, at gain 1.5
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 1 sine 440 vol 0.3 2>/dev/null
neutral=(--quiet --gate-threshold 0 --dc-remover off)
timeout 120 wine "$QV_STAGE/qvrender.exe" "${neutral[@]}" "$(qv_winpath "$work/in.wav")" \
  "$(qv_winpath "$work/plain.wav")" >"$work/render.log" 2>&1 </dev/null
timeout 120 wine "$QV_STAGE/qvrender.exe" "${neutral[@]}" --performance "$(qv_winpath "$work/edited.qvp")" \
  "$(qv_winpath "$work/in.wav")" "$(qv_winpath "$work/windows.wav")" >>"$work/render.log" 2>&1 </dev/null
check_ok "the Windows qvrender renders the saved performance" test -s "$work/windows.wav"
ratio=$(python3 - "$work/plain.wav" "$work/windows.wav" <<'EOF'
import sys, wave
def samples(path):
    w = wave.open(path)
    raw = w.readframes(w.getnframes())
    n = w.getsampwidth()
    return [int.from_bytes(raw[i:i + n], "little", signed=True) for i in range(0, len(raw), n)]
plain, clap = samples(sys.argv[1]), samples(sys.argv[2])
worst = max((abs(b - 1.5 * a) for a, b in zip(plain, clap)), default=None)
# Both renders are rounded to 24 bits after the engine's float path: a
# sample or two apart, against some 1.9 million at the tone's peak.
print("none" if not plain or len(plain) != len(clap) else ("1.5" if worst <= 2 else "off by %g" % worst))
EOF
)
check_eq 1.5 "$ratio" "the render carries the gain the editor's click set (1.5 x the plain render)"
if [ -x "$native_build/stage/qvrender" ] && [ -f "$work/native/QvTestGain.clap" ]; then
  # The saved Windows path is no native path: the wrapper finds the module
  # by its plug-in id among those it scanned.
  QUORVANE_VSTDIR="$work/native" QUORVANE_CLAPCACHE="$work/native-cache.txt" HOME="$work/native" timeout 120 \
    "$native_build/stage/qvrender" "${neutral[@]}" --performance "$work/edited.qvp" "$work/in.wav" "$work/native.wav" \
    >>"$work/render.log" 2>&1 </dev/null
  check_ok "the native qvrender reads the Windows performance and gives the same samples" \
    cmp -s "$work/windows.wav" "$work/native.wav"
  grep -q "QvTestGain.clap" "$work/native-cache.txt" 2>/dev/null &&
    qv_pass "the native scan cache is where QUORVANE_CLAPCACHE says" ||
    qv_fail "no native scan cache at QUORVANE_CLAPCACHE ($work/native-cache.txt)"
else
  qv_fail "no native build to compare with ($native_build/stage/qvrender, the native test module)"
fi
qv_reg_delete_key "$QV_KEY"
