# Plug-ins in helper processes, stage-safe. A performance made by qvrender
# holds echo in slot 1, our misbehaving test VST in slot 2 running in a
# helper process, and reverb in slot 3. The real program opens it on the test
# ASIO driver (256 frames at 48 kHz) and records a take while the plug-in
# crashes, aborts, writes past its buffers and hangs, one after the other:
# the fault it takes is read from a file each time it is made, and "Reload
# Plug-in" from the slot's menu makes it again. After each failure the
# program runs and answers, the output meter moves, exactly one message
# more names the plug-in and the slot. The take runs across all of it and
# is a valid WAV of the length it ran, with the signal all through; the
# last reload brings the plug-in back with the state the file gave it, and
# its editor opens in a window of the helper. A helper ends with the
# program, even a killed one.
# shellcheck shell=bash

work="$QV_E2E_DIR/separate"
rm -rf "$work"
mkdir -p "$work/vst"
cp "$(dirname "$QV_STAGE")/testmodules/tvst_faulty.dll" "$work/vst/"
fault_file="$work/fault.txt"
: >"$fault_file"
export QV_TVST_FAULT_FILE
QV_TVST_FAULT_FILE=$(qv_winpath "$fault_file")
unset QV_TVST_FAULT

asio_server=$(qv_test_asio_server)
driver_name=$QV_TEST_ASIO_NAME
asio_cleanup() { qv_test_asio_remove QvSeparateDriver; }
qv_test_asio_register QvSeparateDriver

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$work/vst")\\"
qv_reg_add "$QV_KEY" AsioDevice REG_SZ "$driver_name"
qv_reg_add "$QV_KEY" st001 REG_BINARY 0128050202
# Master gain 0.5, gate open, DC remover off.
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
# Recorder: dry only, no accompaniment, to a file, format 14 (48 kHz, 24 bits, stereo), 200 s.
qv_reg_add "$QV_KEY" st003 REG_BINARY 0100000ec800
source "$qv_root/tests/e2e/chainpane.sh"
qv_chain_layout

# The performance, from qvrender: the test plug-in in a helper process.
sox -n -r 48000 -c 2 -b 16 "$work/short.wav" synth 0.2 sine 440 vol 0.5 2>/dev/null
timeout -k 5 120 wine "$(qv_winpath "$QV_STAGE/qvrender.exe")" --quiet --separate-processes \
  --effect echo --effect tvst_faulty --effect reverb --save-performance "$(qv_winpath "$work/perf.qvp")" \
  "$(qv_winpath "$work/short.wav")" "$(qv_winpath "$work/short_out.wav")" >"$work/qvrender.txt" 2>&1 </dev/null
check_eq 0 "$?" "qvrender saved the chain with the plug-in in a helper process"
chain_of() {
  python3 "$qv_root/tests/e2e/perfdump.py" "$1" |
    awk -F'\t' '{ n = split($2, p, "\\"); sub(/\.[^.]*$/, "", p[n]); printf "%s:%s ", p[n], $4 }'
}
faulty_state() { python3 "$qv_root/tests/e2e/perfdump.py" "$1" | awk -F'\t' '$2 ~ /tvst_faulty/ { print $3, $4 }'; }
check_eq "echo:80 reverb:82 tvst_faulty:81 " "$(chain_of "$work/perf.qvp")" \
  "the performance holds echo, the plug-in and reverb in slots 1 to 3"
check_ok "the performance marks the plug-in's chunk as one in a helper" \
  grep -q "Quorvane Live Host" "$work/perf.qvp"

boxes() { grep -c . "$QV_WATCH_LOG"; }
# lit_segments: how many of the output meter's upper 43 segments are lit.
lit_segments() {
  local meter points k
  meter=$(qvd wait-window Quorvane_Meter_Class "Output VU Meter" 5 | cut -f1)
  [ -n "$meter" ] || { echo 0; return; }
  points=""
  for k in $(seq 0 42); do points+=" $((67 + 5 * k)) 16"; done
  # shellcheck disable=SC2086
  qvd pixels "$meter" $points | awk -F'\t' -v u="$UNLIT" '$2 != u { n++ } END { print n + 0 }'
}
wav_sizes() {
  python3 - "$1" <<'EOF'
import os, struct, sys
data = open(sys.argv[1], 'rb').read(44)
print(struct.unpack_from('<I', data, 4)[0], struct.unpack_from('<I', data, 40)[0], os.path.getsize(sys.argv[1]))
EOF
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
now() { date +%s.%N; }

if [ ! -f "$asio_server" ]; then
  qv_fail "the test ASIO driver is missing ($asio_server): build the testasio target"
else
  # 600 blocks of 256 frames: 3.2 s of live input before the first crash.
  echo "crash:600" >"$fault_file"
  QV_APP_LIMIT=150 qv_watch_start separate.boxes "Configure Audio Settings=NO" "text:*Performance was changed*=NO" "*=OK"
  QV_TEST_MIDI=1 QV_APP_LIMIT=150 qv_start "$(qv_winpath "$work/perf.qvp")"
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  sleep 2
  qvd post-command "$FRAME" 32800 >/dev/null
  qv_wait_window - "Master Section" 10 >/dev/null
  # Live input, then the take.
  qvd post-command "$FRAME" 32772 >/dev/null
  meter=$(qvd wait-window Quorvane_Meter_Class "Output VU Meter" 10 | cut -f1)
  UNLIT=$(qvd pixels "$meter" 277 16 | cut -f2)
  qvd post-command "$FRAME" 32794 >/dev/null
  REC=$(qv_wait_window '#32770' 'Recording:' 20)
  qvd post-command "$REC" 1106 >/dev/null
  qvd file-dialog "Wave File To Record" "$(qv_winpath "$work/take.wav")" 20 >/dev/null
  sleep 0.5
  qvd post-command "$REC" 1109 >/dev/null
  started=$(now)

  # One failure told: exactly one message more, naming the plug-in and the
  # slot; the program answers and the output meter moves.
  survived() {
    local fault=$1 want=crashed text lit
    expected=$((expected + 1))
    for _ in $(seq 150); do [ "$(boxes)" -ge "$expected" ] && break; sleep 0.1; done
    check_eq "$expected" "$(boxes)" "$fault: one message more"
    text=$(sed -n "${expected}p" "$QV_WATCH_LOG")
    [ "$fault" = hang ] && want="stopped responding"
    check_contains "$text" "The plug-in \"tvst_faulty\" in slot 2 $want" "$fault: the message names the plug-in and the slot"
    sleep 1
    check_ok "$fault: the program still answers" qvd title "$FRAME"
    lit=$(lit_segments)
    if [ "$lit" -gt 0 ]; then qv_pass "$fault: the output meter moves ($lit segments lit)"; else qv_fail "$fault: the output meter moves"; fi
  }
  expected=0
  for fault in crash abort overrun hang; do
    if [ "$fault" != crash ]; then
      echo "$fault:300" >"$fault_file"
      menu_command 1 r "$fault: Reload Plug-in"
    fi
    survived "$fault"
  done

  # Back without a fault, with the state the file gave it: no message more.
  : >"$fault_file"
  menu_command 1 r "reload without a fault"
  sleep 2.5
  check_eq "$expected" "$(boxes)" "the reloaded plug-in runs: no message more"
  # Its editor: a window of the helper, owned by the program's, with the
  # wrapper's editor frame in it.
  menu_command 1 e "Show Editor"
  if editor=$(qv_wait_window QvHelperEditor "Slot 2: tvst_faulty" 10); then
    qv_pass "Show Editor opens the helper's window captioned with the slot and the plug-in"
    sleep 0.5
    qv_shot separate_editor
    check_contains "$(qvd children "$editor" | cut -f2 | tr '\n' ' ')" "VST_Wrapper_Editor" \
      "the helper's window holds the wrapper's editor frame"
    qvd close "$editor" >/dev/null
    check_ok "closing it closes the editor" qvd wait-gone "$editor" 10
  else
    qv_fail "Show Editor opens the helper's window captioned with the slot and the plug-in"
  fi
  # A plug-in that crashes while its editor paints: the helper ends (the
  # fault is not swallowed where the window procedure was called back), the
  # same one message, and Reload brings it back once more.
  echo "editor-crash" >"$fault_file"
  menu_command 1 r "editor-crash: Reload Plug-in"
  sleep 1
  menu_command 1 e "editor-crash: Show Editor"
  survived editor-crash
  : >"$fault_file"
  menu_command 1 r "reload after the editor's crash"
  sleep 1.5
  check_eq "$expected" "$(boxes)" "the plug-in reloaded after its editor's crash runs: no message more"
  qvd post-command "$REC" 1109 >/dev/null
  stopped=$(now)
  take_seconds=$(echo "$stopped - $started" | bc)
  sleep 1
  qvd post-command "$REC" 1102 >/dev/null
  qvd wait-gone "$REC" 10 >/dev/null
  save_as "$work/after.qvp" "the chain after the failures"
  check_eq "$(faulty_state "$work/perf.qvp")" "$(faulty_state "$work/after.qvp")" \
    "Reload brought the plug-in back with its state (state and slot byte as the file gave them)"
  check_eq "echo:80 reverb:82 tvst_faulty:81 " "$(chain_of "$work/after.qvp")" "the chain is as it was"

  # "Learn MIDI Control" on a row of the helper's editor, with the mouse:
  # the request reaches the program, and the control then sets the
  # parameter through the helper.
  menu_command 1 e "learning: Show Editor"
  if editor=$(qv_wait_window QvHelperEditor "Slot 2: tvst_faulty" 10); then
    read -r ex ey _ <<<"$(qvd rects "$editor" | awk -F'\t' '$2 == "VST_Default_Editor" { print $6; exit }')"
    click $((ex + 60)) $((ey + 38)) 3  # the first row, "Gain"
    if qv_wait_window "#32768" - 5 >/dev/null; then
      xdotool key Down Return
      sleep 1
      qvd midi "$FRAME" B00A7F >/dev/null
      sleep 1
      learnt=$(qvd text "$FRAME" 1130 | cut -f2-)
      check_contains "$learnt" "MIDI control learnt: CC 10, channel 1" "the editor's row learnt the control (status: $learnt)"
      qvd midi "$FRAME" B00A7F >/dev/null
      sleep 1
      qvd close "$editor" >/dev/null
      qvd wait-gone "$editor" 10 >/dev/null
      save_as "$work/learnt.qvp" "the learnt parameter"
      check_contains "$(faulty_state "$work/learnt.qvp")" "504152414d030000000000803f" \
        "control change 10 at 127 set the plug-in's Gain to its top in the helper"
    else
      qv_fail "a pop-up menu on the helper's editor row"
    fi
  else
    qv_fail "learning: Show Editor opens the helper's window"
  fi
  echo "boxes: $(tr '\n' '|' <"$QV_WATCH_LOG")"
  qvd post-command "$FRAME" 105 >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code"
  qv_stop

  # The take: valid, as long as it ran, the signal all through (no second without it).
  read -r riff data size < <(wav_sizes "$work/take.wav")
  seconds=$(echo "scale=3; $data / 6 / 48000" | bc)
  echo "take: riff $riff data $data size $size ($seconds s of a $take_seconds s take)"
  check_ok "the take's header is valid" test "$riff" -eq $((data + 36)) -a $((data % 6)) -eq 0 -a "$data" -eq $((size - 44))
  if at_least "$seconds" "$(echo "$take_seconds - 0.8" | bc)" && at_least "$(echo "$take_seconds + 0.3" | bc)" "$seconds"; then
    qv_pass "the take is as long as it ran ($seconds s of $take_seconds s)"
  else
    qv_fail "the take is as long as it ran ($seconds s of $take_seconds s)"
  fi
  quiet=$(python3 - "$work/take.wav" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()[44:]
frames = len(data) // 6
window = 4800  # 0.1 s
quiet = 0
for start in range(0, frames - window, window):
    peak = 0
    for i in range(start, start + window, 16):
        b = data[6 * i:6 * i + 3]
        v = int.from_bytes(b + (b'\xff' if b[2] & 0x80 else b'\x00'), 'little', signed=True)
        peak = max(peak, abs(v))
    if peak < 100000:
        quiet += 1
print(quiet)
EOF
)
  check_eq 0 "$quiet" "no tenth of a second of the take is without the signal"

  # Helpers end with the program, even one that is killed.
  : >"$fault_file"
  QV_APP_LIMIT=60 qv_watch_start separate_kill.boxes "Configure Audio Settings=NO" "*=OK"
  QV_APP_LIMIT=60 qv_start "$(qv_winpath "$work/perf.qvp")"
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  sleep 2
  check_contains "$(QV_DRIVE_LIMIT=20 qvd exit-code QvPluginHost.exe 1 2>&1)" "still running" \
    "the opened performance's plug-in runs in a helper"
  QV_DRIVE_LIMIT=20 qvd kill "$QV_EXE_NAME" >/dev/null
  qv_wait_exit 20
  left=$(QV_DRIVE_LIMIT=20 qvd exit-code QvPluginHost.exe 3 2>&1)
  if [[ "$left" == *"still running"* ]]; then
    qv_fail "the helper ended with the killed program ($left)"
  else
    qv_pass "the helper ended with the killed program"
  fi
  qv_stop
fi
asio_cleanup
unset QV_TVST_FAULT_FILE
