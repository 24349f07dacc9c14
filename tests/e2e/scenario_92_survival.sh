# A take survives what the sound card and the plug-ins do. On the test ASIO
# driver, a take to a file and one to memory run while the driver changes
# its buffer size and then its rate: live input restarts twice by itself
# and the take goes on in the same file or memory, with every frame counted,
# its beginning kept and the accompaniment playing on. Then the program, and
# qvrender, are killed in the middle of a take: the file left behind is a
# valid WAV that counts all it holds but about the last second.
# shellcheck shell=bash

work="$QV_E2E_DIR/survival"
rm -rf "$work"
mkdir -p "$work"

asio_server=$(qv_test_asio_server)
driver_name=$QV_TEST_ASIO_NAME
asio_cleanup() { qv_test_asio_remove QvSurvivalDriver; }
qv_test_asio_register QvSurvivalDriver

# The driver, audio system and recorder values are read back: a take that
# starts without them fails far from the cause. SEED_NOTE says what was
# wrong, for the take's first check to report.
seed_settings() {  # ST003-HEX
  SEED_NOTE=
  seed_values "$1"
  [ "$(qv_reg_get "$QV_KEY" AsioDevice)" = "$driver_name" ] && [ "$(qv_reg_get "$QV_KEY" st001)" = 0128050202 ] &&
    [ "$(qv_reg_get "$QV_KEY" st003)" = "$1" ] ||
    SEED_NOTE="the seeded settings did not hold: $(qv_reg query "$QV_KEY" | tr '\n' '|')"
  [ -z "$SEED_NOTE" ] || echo "$SEED_NOTE"
}
seed_values() {
  qv_reg_delete_key "$QV_KEY"
  qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
  qv_reg_add "$QV_KEY" AsioDevice REG_SZ "$driver_name"
  # ASIO, 40 ms, format 5, 2 buffers, 2 ms.
  qv_reg_add "$QV_KEY" st001 REG_BINARY 0128050202
  # Master gain 0.5, gate open, DC remover off.
  qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
  # Recorder: dry only, start accompaniment, memory mode, format, seconds (LE).
  qv_reg_add "$QV_KEY" st003 REG_BINARY "$1"
}

boxes() { grep -c . "$QV_WATCH_LOG"; }
text_of() { qvd text "$REC" "$1" | head -1; }
asio_calls() { tr -d '\r' <"$asio_log" 2>/dev/null | grep -c -x "$1"; }
# "riff data filesize" of a WAV file.
wav_sizes() {
  python3 - "$1" <<'EOF'
import os, struct, sys
data = open(sys.argv[1], 'rb').read(44)
print(struct.unpack_from('<I', data, 4)[0], struct.unpack_from('<I', data, 40)[0], os.path.getsize(sys.argv[1]))
EOF
}
# A valid header for the file: RIFF = data + 36, whole frames, no more data
# than the file holds.
header_valid() {  # FILE BLOCK-ALIGN
  local riff data size
  read -r riff data size < <(wav_sizes "$1")
  [ "$riff" -eq $((data + 36)) ] && [ $((data % $2)) -eq 0 ] && [ "$data" -le $((size - 44)) ]
}
rms_of() { sox "$1" -n trim "$2" "$3" stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
open_dialog() {
  qvd post-command "$FRAME" 32794 >/dev/null
  REC=$(qv_wait_window '#32770' 'Recording:' 20)
}
choose_target() {  # LINUX-PATH
  qvd post-command "$REC" 1106 >/dev/null
  qvd file-dialog "Wave File To Record" "$(qv_winpath "$1")" 20 >/dev/null
  sleep 0.5
}
now() { date +%s.%N; }

sox -n -r 48000 -c 2 -b 16 "$work/backing.wav" synth 30 sine 330 vol 0.4 2>/dev/null

# ---- a take across a buffer-size change and a rate change ------------------------
# The driver runs 256-frame buffers at 48 kHz. Before its 400th switch
# (about 2.1 s into live input) it changes to 128 frames, before its 1400th
# (about 2.7 s later) to 44.1 kHz. Each time it tells the program, which
# restarts live input from its refresh timer.
# take MODE ST003 TARGET: records about 7 s; leaves the elapsed time in
# TAKE_SECONDS and the accompaniment bar's button text after the restarts
# in TAKE_BUTTON.
take() {
  local mode=$1 started stopped
  asio_log="$work/testasio_$mode.log"
  seed_settings "$2"
  export QV_TESTASIO_LOG QV_TESTASIO_SIZE_AT=400,128 QV_TESTASIO_RATE_AT=1400,44100
  QV_TESTASIO_LOG=$(qv_winpath "$asio_log")
  QV_APP_LIMIT=120 qv_watch_start "survival_$mode.boxes" "Record=YES" "*=OK"
  QV_APP_LIMIT=120 qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  sleep 2
  qvd post-command "$FRAME" 32798 >/dev/null
  qvd file-dialog "Accompaniment Wave File" "$(qv_winpath "$work/backing.wav")" 20 >/dev/null
  sleep 1
  open_dialog
  choose_target "$3"
  qvd post-command "$REC" 1109 >/dev/null
  for _ in $(seq 50); do [ "$(asio_calls start)" -ge 1 ] && break; sleep 0.1; done
  started=$(now)
  for _ in $(seq 100); do [ "$(asio_calls start)" -ge 3 ] && break; sleep 0.1; done
  sleep 1.5
  TAKE_BUTTON=$(qvd children "$FRAME" | grep -P '\t1012\t' | head -1 | awk -F'\t' '{print $NF}')
  for _ in $(seq 40); do at_least "$(echo "$(now) - $started" | bc)" 7 && break; sleep 0.1; done
  qvd post-command "$REC" 1109 >/dev/null
  stopped=$(now)
  TAKE_SECONDS=$(echo "$stopped - $started" | bc)
  sleep 2
  echo "$mode: test driver log: $(tr -d '\r' <"$asio_log" 2>/dev/null | tr '\n' '|'); boxes: $(tr '\n' '|' <"$QV_WATCH_LOG")"
  # When live input did not run as it should, the check says what the
  # program found: its messages, the stored driver and the registration.
  local calls why=
  calls="$(asio_calls start) $(asio_calls stop)"
  [ "$calls" = "3 3" ] || why=" (${SEED_NOTE:-seeded}; boxes: $(tr '\n' '|' <"$QV_WATCH_LOG"); driver log:\
 $([ -f "$asio_log" ] && echo present || echo absent); AsioDevice [$(qv_reg_get "$QV_KEY" AsioDevice)];\
 registered [$(qv_reg_get 'HKLM\Software\ASIO\QvSurvivalDriver' Description)])"
  check_eq "3 3" "$calls" \
    "$mode: the size change and the rate change each restarted live input (three starts, three stops)$why"
  check_eq "Start Recording" "$(text_of 1109)" "$mode: the take stopped when asked"
  qvd post-command "$REC" 1102 >/dev/null
  qvd wait-gone "$REC" 10 >/dev/null
  qvd post-command "$FRAME" 105 >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$mode: exit code"
  qv_stop
  unset QV_TESTASIO_LOG QV_TESTASIO_SIZE_AT QV_TESTASIO_RATE_AT
}

# The take: valid, as long as the time it ran (less the restarts' gaps),
# with the signal from its first second to its last.
check_take() {  # MODE FILE SECONDS
  local riff data size seconds first last
  read -r riff data size < <(wav_sizes "$2")
  seconds=$(echo "scale=3; $data / 6 / 48000" | bc)
  echo "$1: $(basename "$2"): riff $riff data $data size $size ($seconds s of a $3 s take)"
  check_ok "$1: the header's sizes are valid" header_valid "$2" 6
  check_eq $((size - 44)) "$data" "$1: the header counts every frame in the file"
  if at_least "$seconds" "$(echo "$3 - 0.8" | bc)" && at_least "$(echo "$3 + 0.3" | bc)" "$seconds"; then
    qv_pass "$1: the take is as long as it ran ($seconds s of $3 s)"
  else
    qv_fail "$1: the take is as long as it ran ($seconds s of $3 s)"
  fi
  first=$(rms_of "$2" 0.1 1.5)
  last=$(rms_of "$2" "$(echo "$seconds - 1.2" | bc)" 1)
  if at_least "$first" 0.2 && at_least "$last" 0.2; then
    qv_pass "$1: the take holds the input from its first second to its last (RMS $first, $last)"
  else
    qv_fail "$1: the take holds the input from its first second to its last (RMS $first, $last)"
  fi
}

if [ ! -f "$asio_server" ]; then
  qv_fail "the test ASIO driver is missing ($asio_server): build the testasio target"
else
  # Format 14 (48000 Hz, 24 bits, stereo), 200 s, with the accompaniment
  # started by the take and mixed into it.
  take file 0001000ec800 "$work/file.wav"
  check_take file "$work/file.wav" "$TAKE_SECONDS"
  check_eq "||" "$TAKE_BUTTON" "file: the accompaniment plays on after the restarts"
  check_eq 0 "$(boxes)" "file: no reports"
  # The same in memory, stored when it stops.
  take memory 0001010e1e00 "$work/memory.wav"
  check_take memory "$work/memory.wav" "$TAKE_SECONDS"
  check_file_line "$QV_WATCH_LOG" $'Record\tThe record now should be stored to disk.\\nContinue?\tYES' \
    "memory: the only question is the store"
  check_eq 1 "$(boxes)" "memory: no other reports"
fi

# ---- killed in the middle of a take ---------------------------------------------------

if [ -f "$asio_server" ]; then
  asio_log="$work/testasio_kill.log"
  seed_settings 0100000ec800
  QV_APP_LIMIT=120 qv_watch_start survival_kill.boxes "*=OK"
  QV_APP_LIMIT=120 qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  sleep 2
  open_dialog
  choose_target "$work/killed.wav"
  qvd post-command "$REC" 1109 >/dev/null
  sleep 3.5
  QV_DRIVE_LIMIT=20 qvd kill "$QV_EXE_NAME" >/dev/null
  qv_wait_exit 20
  qv_stop
  read -r riff data size < <(wav_sizes "$work/killed.wav")
  held=$(((size - 44) / 6))
  echo "killed program: riff $riff data $data size $size: the header counts $((data / 6)) of $held frames"
  check_ok "killed program: the take is a valid WAV" header_valid "$work/killed.wav" 6
  if [ "$held" -ge 96000 ] && [ $((data / 6)) -ge $((held - 48000 - 2400)) ]; then
    qv_pass "killed program: the header counts all but the last second ($((data / 6)) of $held frames)"
  else
    qv_fail "killed program: the header counts all but the last second ($((data / 6)) of $held frames)"
  fi
fi
asio_cleanup

# qvrender through a plug-in that takes 5 ms a block of 5.8 ms, killed.
vst_dir="$work/vst"
mkdir -p "$vst_dir"
cp "$(dirname "$QV_STAGE")/testmodules/tvst_faulty.dll" "$vst_dir/"
sox -n -r 44100 -c 2 -b 16 "$work/long.wav" synth 30 sine 440 vol 0.5 2>/dev/null
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$vst_dir")"
(
  export QV_TVST_FAULT=slow:5
  exec timeout -k 5 60 wine "$(qv_winpath "$QV_STAGE/qvrender.exe")" --quiet --block 256 --format 13 \
    --effect tvst_faulty "$(qv_winpath "$work/long.wav")" "$(qv_winpath "$work/render.wav")" >/dev/null 2>&1 </dev/null
) &
render_pid=$!
for _ in $(seq 200); do
  [ "$(stat -c %s "$work/render.wav" 2>/dev/null || echo 0)" -ge $((44 + 66150 * 6)) ] && break
  sleep 0.1
done
pkill -9 -f 'qvrender.exe' 2>/dev/null
{ wait "$render_pid"; } 2>/dev/null
read -r riff data size < <(wav_sizes "$work/render.wav")
held=$(((size - 44) / 6))
echo "killed qvrender: riff $riff data $data size $size: the header counts $((data / 6)) of $held frames"
check_ok "killed qvrender: the output is a valid WAV" header_valid "$work/render.wav" 6
if [ "$held" -ge 66150 ] && [ $((data / 6)) -ge $((held - 44100 - 256)) ]; then
  qv_pass "killed qvrender: the header counts all but the last second ($((data / 6)) of $held frames)"
else
  qv_fail "killed qvrender: the header counts all but the last second ($((data / 6)) of $held frames)"
fi
qv_reg_delete_key "$QV_KEY"
