# A VST 3 effect in the real program, with the real mouse: the VST 3
# wrapper scans a folder of the scenario's own (VSTDir, its cache where
# VST3Cache says) holding our test bundle, "Qv Test Gain" goes into slot 1
# from the "Select Effect:" tree, and live input runs through it. The status
# bar shows the loop's latency, which grows when the plug-in's latency is
# raised from its editor (a right click), and a left click in the editor
# sets its gain through the component handler as a plug-in's own interface
# does. The saved performance holds both values and reopens to the same
# bytes and the same latency; qvrender renders it in the Windows build and,
# with the native bundle, in the native build to the same samples, at the
# gain the click set.
# shellcheck shell=bash

work="$QV_E2E_DIR/vst3"
rm -rf "$work"
mkdir -p "$work/vst" "$work/native"
cp -r "$(dirname "$QV_STAGE")/testmodules/vst3/QvTestGain.vst3" "$work/vst/"
native_build="$qv_root/build/native"
[ -d "$native_build/testmodules/vst3/QvTestGain.vst3" ] &&
  cp -r "$native_build/testmodules/vst3/QvTestGain.vst3" "$work/native/"

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$work/vst")\\"
qv_reg_add "$QV_KEY" VST3Cache REG_SZ "$(qv_winpath "$work/cache.txt")"
# DirectSound on the test sinks: 40 ms blocks at 44.1 kHz (1764 frames),
# 2 buffers, 2 ms output delay.
qv_seed_devices
source "$qv_root/tests/e2e/chainpane.sh"
qv_chain_layout

# The loop's latency for those devices: two blocks and the output delay,
# 2 x 1764 / 44.1 + 2 = 82 ms; the plug-in at 500 samples adds 11.3 ms.
device_ms=82
raised_ms=93

# vst3_values FILE: each VST 3 instance of the performance as "name gain
# latency" (our test plug-in's component state: "QVT3", u32 version, f64
# gain value, f64 latency value).
vst3_values() {
  python3 "$qv_root/tests/e2e/perfdump.py" "$1" | python3 -c '
import struct, sys
for line in sys.stdin:
    f = line.rstrip("\n").split("\t")
    if f[0] != "VST3WRAP":
        continue
    state = bytes.fromhex(f[2]) if f[2] != "-" else b""
    name = f[1].replace("\\", "/").split("/")[-1]
    if state[:4] == b"QVT3" and len(state) >= 24:
        gain, latency = struct.unpack_from("<dd", state, 8)
        print(name, "%.3f" % gain, "%.3f" % latency)
    else:
        print(name, "unreadable", state.hex())'
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

# view_click BUTTON FRACTION: a real click in the plug-in's window at that
# fraction of its width (1 left: gain, 3 right: latency).
view_click() {
  local rect l t r b
  rect=$(qvd rects "$EDITOR" | awk -F'\t' '$2 == "QvTestVst3View" { print $6; exit }')
  read -r l t r b <<<"$rect"
  if [ -z "$b" ]; then
    qv_fail "the plug-in's window is not in its editor frame"
    return 1
  fi
  VIEW_WIDTH=$((r - l))
  click "$(awk -v l="$l" -v w="$VIEW_WIDTH" -v f="$2" 'BEGIN { printf "%d", l + w * f }')" $(((t + b) / 2)) "$1"
}

qv_watch_start vst3.boxes "text:*Performance was changed*=NO" "*=OK"
QV_APP_LIMIT=240 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 1
qvd post-command "$FRAME" 32800 >/dev/null
qv_wait_window - "Master Section" 10 >/dev/null
sleep 0.5
check_eq "" "$(status_text)" "before live input the status bar shows no latency"

# ---- the scan and the Select Effect tree
if menu_command 0 s "attach the VST 3 effect" && choose "VST3 Plugins/Qv Test Gain" "attach the VST 3 effect"; then
  check_contains "$(tr '\n' '|' <<<"$TREE")" "Qv Test Single" "the tree lists the bundle's other effect"
  if grep -q "Qv Test Synth" <<<"$TREE"; then
    qv_fail "the tree lists the bundle's instrument"
  else
    qv_pass "the tree leaves the bundle's instrument out"
  fi
fi
grep -q "QvTestGain.vst3" "$work/cache.txt" 2>/dev/null &&
  qv_pass "the scan cache is where VST3Cache says" || qv_fail "no scan cache at VST3Cache ($work/cache.txt)"

# ---- the editor, then live input through the plug-in and the editor's edits
menu_command 0 e "show the VST 3 editor"
if EDITOR=$(wait_child VST3_Wrapper_Editor "Qv Test Gain"); then
  qv_pass "Show Editor opens the VST 3 frame titled with the effect's name"
else
  qv_fail "Show Editor opened no VST 3 frame"
fi
toggle_live
check_eq checked "$(live_state)" "live input runs"
# The meter windows open with live input; closed, they cover nothing.
for title in "Input VU Meter" "Output VU Meter"; do
  meter=$(QV_DRIVE_LIMIT=20 qvd wait-window Quorvane_Meter_Class "$title" 3 | cut -f1)
  [ -n "$meter" ] && qvd close "$meter" >/dev/null
done
check_eq "Latency: $device_ms ms" "$(wait_status "Latency: $device_ms ms")" \
  "the status bar shows the devices' latency with the plug-in at 0 samples"
if [ -n "${EDITOR:-}" ]; then
  # Three quarters of the way: gain value 0.75 (a factor of 1.5).
  view_click 1 0.75
  # Half way with the right button: latency value 0.5 (500 samples).
  view_click 3 0.5
  check_eq "Latency: $raised_ms ms" "$(wait_status "Latency: $raised_ms ms")" \
    "the read-out grows by the plug-in's new latency"
  qv_shot vst3_editor
fi
check_eq checked "$(live_state)" "live input still runs"
# The gain is applied at the next block: some blocks pass before the stop.
sleep 1
toggle_live
check_eq "" "$(wait_status "")" "with live input stopped the read-out is gone"

save_as "$work/edited.qvp" edited
check_eq "QvTestGain.vst3 0.750 0.500" "$(vst3_values "$work/edited.qvp")" \
  "the saved performance holds the gain and the latency the clicks set"

# ---- reopened: the same values, the same bytes, the same latency
[ -n "${EDITOR:-}" ] && qvd close "$EDITOR" >/dev/null
qvd post-command "$FRAME" 32774 >/dev/null
check_ok "reopen: the dialog takes the path" qvd file-dialog "Open Performance File" "$(qv_winpath "$work/edited.qvp")" 20
sleep 1
save_as "$work/reopened.qvp" reopened
check_eq "QvTestGain.vst3 0.750 0.500" "$(vst3_values "$work/reopened.qvp")" "the reopened performance has the same values"
check_ok "a reopened performance saves to the same bytes" cmp -s "$work/edited.qvp" "$work/reopened.qvp"
toggle_live
check_eq "Latency: $raised_ms ms" "$(wait_status "Latency: $raised_ms ms")" \
  "the reopened plug-in reports its latency again"
toggle_live

qvd close "$FRAME" >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code"
qv_stop
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
plain, vst3 = samples(sys.argv[1]), samples(sys.argv[2])
worst = max((abs(b - 1.5 * a) for a, b in zip(plain, vst3)), default=None)
# Both renders are rounded to 24 bits after the engine's float path: a
# sample or two apart, against some 1.9 million at the tone's peak.
print("none" if not plain or len(plain) != len(vst3) else ("1.5" if worst <= 2 else "off by %g" % worst))
EOF
)
check_eq 1.5 "$ratio" "the render carries the gain the editor's click set (1.5 x the plain render)"
native_render() {  # PERFORMANCE OUTPUT
  QUORVANE_VSTDIR="$work/native" QUORVANE_VST3CACHE="$work/native-cache.txt" timeout 120 \
    "$native_build/stage/qvrender" "${neutral[@]}" --performance "$1" "$work/in.wav" "$2" >>"$work/render.log" 2>&1 </dev/null
}
if [ -x "$native_build/stage/qvrender" ] && [ -d "$work/native/QvTestGain.vst3" ]; then
  # The same file as it is: saved class ids have one layout in both builds.
  native_render "$work/edited.qvp" "$work/native.wav"
  check_ok "the native qvrender reads the Windows performance and gives the same samples" \
    cmp -s "$work/windows.wav" "$work/native.wav"
else
  qv_fail "no native build to compare with ($native_build/stage/qvrender, the native test bundle)"
fi
qv_reg_delete_key "$QV_KEY"
