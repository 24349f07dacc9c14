# The Recording dialog through PulseAudio's null sinks: a tone played into
# sink b is captured from its monitor and recorded to a WAV file chosen in
# the save dialog, with the read-outs moving while it runs; a second start
# onto that file asks first; the accompaniment's own file is refused under
# another spelling. In memory, a take that fills its pool stops by itself
# and the store question keeps (Yes) or drops (No) it. A write failure in
# the middle of a take (the program runs under a file-size limit) keeps
# the part that reached the disk, with sizes to match.
# shellcheck shell=bash

work="$QV_E2E_DIR/recording"
rm -rf "$work"
mkdir -p "$work"

seed_settings() {  # ST003-HEX
  qv_reg_delete_key "$QV_KEY"
  qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
  qv_reg_add "$QV_KEY" DxOutput REG_SZ QvOutA
  qv_reg_add "$QV_KEY" DxInput REG_SZ "Monitor of QvOutB"
  # DirectSound, 40 ms, format 5, 2 buffers, 2 ms.
  qv_reg_add "$QV_KEY" st001 REG_BINARY 0028050202
  # Master gain 0.5, gate open, DC remover off: the tone passes at half gain.
  qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
  # Recorder: dry only, start accompaniment, memory mode, format, seconds (LE).
  qv_reg_add "$QV_KEY" st003 REG_BINARY "$1"
}

boxes() { grep -c . "$QV_WATCH_LOG"; }
text_of() { qvd text "$REC" "$1" | head -1; }
open_dialog() {
  qvd post-command "$FRAME" 32794 >/dev/null
  REC=$(qv_wait_window '#32770' 'Recording:' 20)
}
choose_target() {  # LINUX-PATH
  qvd post-command "$REC" 1106 >/dev/null
  qvd file-dialog "Wave File To Record" "$(qv_winpath "$1")" 20 >/dev/null
  sleep 0.5
}
# The tone into sink b, where the program captures it.
play_tone() { timeout 30 paplay --device=b "$work/tone.wav"; }

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 3 sine 1000 vol 0.5 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$work/backing.wav" synth 5 sine 330 vol 0.4 2>/dev/null

# ---- to a file ----------------------------------------------------------------

# Format 13: 44100 Hz, 24 bits, stereo; 200 s.
seed_settings 0100000dc800
QV_APP_LIMIT=300 qv_watch_start recording.boxes "Record=NO" "text:already exists=YES" "*=OK"
QV_APP_LIMIT=300 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2

# The accompaniment is open, so its file must not become the target.
qvd post-command "$FRAME" 32798 >/dev/null
qvd file-dialog "Accompaniment Wave File" "$(qv_winpath "$work/backing.wav")" 20 >/dev/null
sleep 1

open_dialog
check_ok "file: the dialog opens" test -n "$REC"
check_eq "<no file selected>" "$(text_of 1108)" "file: no target at first"
check_eq "44100 smp/sec, 24 Bits, Stereo" "$(text_of 1048)" "file: the stored format is selected"
check_eq "200 sec" "$(text_of 1002)" "file: the stored maximum time"

# Another spelling of the accompaniment's path: upper case.
upper=$(qv_winpath "$work/backing.wav" | tr '[:lower:]' '[:upper:]')
qvd post-command "$REC" 1106 >/dev/null
qvd file-dialog "Wave File To Record" "$upper" 20 >/dev/null
for _ in $(seq 50); do grep -q 'already opened' "$QV_WATCH_LOG" && break; sleep 0.1; done
check_file_line "$QV_WATCH_LOG" $'Error #260\tThis file is already opened for accompaniment\tOK' \
  "file: the accompaniment's file is refused under another spelling"
check_eq "<no file selected>" "$(text_of 1108)" "file: the refused path is not taken"

choose_target "$work/take.wav"
check_eq "$(qv_winpath "$work/take.wav")" "$(text_of 1108)" "file: the chosen target is shown"
qvd post-command "$REC" 1109 >/dev/null
sleep 1.5
check_eq "Stop Recording" "$(text_of 1109)" "file: Start turns into Stop"
play_tone &
tone_pid=$!
sleep 1.5
time1=$(text_of 1110)
size1=$(text_of 1120)
wait "$tone_pid"
sleep 1
time2=$(text_of 1110)
size2=$(text_of 1120)
echo "read-outs: [$time1] [$size1] then [$time2] [$size2]"
check_contains "$time2" " min, " "file: the time read-out runs"
if [ "$time1" != "$time2" ] && [ "$size1" != "$size2" ] && [[ "$size2" == *Mbytes ]]; then
  qv_pass "file: both read-outs advance"
else
  qv_fail "file: both read-outs advance: [$time1] [$size1] then [$time2] [$size2]"
fi
qv_shot recording_running
qvd post-command "$REC" 1109 >/dev/null
sleep 1.5
check_eq "Start Recording" "$(text_of 1109)" "file: Stop turns back into Start"
check_eq "0 min, 0 sec" "$(text_of 1110)" "file: the time read-out is idle again"
check_eq "0 Mb" "$(text_of 1120)" "file: the size read-out is idle again"

read -r riff data size ch rate bits < <(wav_header "$work/take.wav")
echo "take.wav: riff $riff data $data size $size channels $ch rate $rate bits $bits"
check_eq "2 44100 24" "$ch $rate $bits" "file: the header names the chosen format"
check_ok "file: the header's sizes match the file" sizes_valid "$work/take.wav" 6
check_eq $((size - 44)) "$data" "file: every byte after the header is data"
peak=$(sox "$work/take.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
echo "take.wav: peak $peak"
if awk -v p="$peak" 'BEGIN { exit !(p > 0.15 && p < 0.35) }'; then
  qv_pass "file: the take holds the tone at half gain (peak $peak)"
else
  qv_fail "file: the take holds the tone at half gain (peak $peak)"
fi
take_sum=$(md5sum <"$work/take.wav")

# Starting again onto the take: the program asks; No keeps it.
qvd post-command "$REC" 1109 >/dev/null
for _ in $(seq 50); do grep -q '^Record' "$QV_WATCH_LOG" && break; sleep 0.1; done
check_contains "$(grep '^Record' "$QV_WATCH_LOG")" "already exists" "file: a second start asks before overwriting"
sleep 0.5
check_eq "Start Recording" "$(text_of 1109)" "file: No leaves the dialog idle"
check_eq "$take_sum" "$(md5sum <"$work/take.wav")" "file: No keeps the take"

# Done closes the dialog.
qvd post-command "$REC" 1102 >/dev/null
check_ok "file: Done closes the dialog" qvd wait-gone "$REC" 10
qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "file: exit code"
qv_stop
echo "boxes: $(tr '\n' '|' <"$QV_WATCH_LOG")"

# ---- to memory, full after 10 s ------------------------------------------------------

# Memory mode, format 5 (44100 Hz, 16 bits, stereo), 10 s.
seed_settings 010001050a00
QV_APP_LIMIT=300 qv_watch_start recording_ram.boxes "Record=leave" "*=OK"
QV_APP_LIMIT=300 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2
for answer in YES NO; do
  target="$work/ram_$answer.wav"
  open_dialog
  check_eq "10 sec" "$(text_of 1002)" "memory $answer: the maximum time"
  choose_target "$target"
  qvd post-command "$REC" 1109 >/dev/null
  sleep 1
  play_tone
  line=$(QV_DRIVE_LIMIT=90 qvd answer Record "stored to disk" "$answer" 60)
  check_contains "$line" $'The record now should be stored to disk.\\nContinue?' \
    "memory $answer: a full pool stops the take and asks"
  sleep 2
  check_eq "Start Recording" "$(text_of 1109)" "memory $answer: the dialog is idle again"
  if [ "$answer" = YES ]; then
    read -r riff data size ch rate bits < <(wav_header "$target" 2>/dev/null)
    check_eq 1764000 "$data" "memory YES: ten seconds are stored"
    check_ok "memory YES: the header's sizes match the file" sizes_valid "$target" 4
    rms=$(rms_of "$target" 1.5 1)
    awk -v r="$rms" 'BEGIN { exit !(r > 0.1) }' && qv_pass "memory YES: the take holds the tone (RMS $rms)" ||
      qv_fail "memory YES: the take holds the tone (RMS $rms)"
  else
    check_ok "memory NO: no file is left" test ! -e "$target"
  fi
  qvd post-command "$REC" 1102 >/dev/null
  qvd wait-gone "$REC" 10 >/dev/null
done
qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "memory: exit code"
qv_stop

# ---- a write failure in the middle of a take ---------------------------------------------

# The program runs under a file-size limit of 300 KiB (the Wine server,
# which writes the registry, was started before and has none): the take's
# writes fail after about a second and a half of format 13. SIGXFSZ is
# ignored so that the write fails instead of ending the process.
seed_settings 0100000dc800
QV_APP_LIMIT=200 qv_watch_start recording_fail.boxes "*=OK"
(
  ulimit -f 300
  trap '' XFSZ
  QV_APP_LIMIT=200 qv_start
  wait
) &
limited_pid=$!
QV_RUN_FILE="$QV_E2E_DIR/$QV_SCENARIO.run.txt"
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2
open_dialog
choose_target "$work/cut.wav"
qvd post-command "$REC" 1109 >/dev/null
play_tone &
tone_pid=$!
for _ in $(seq 100); do grep -q 'Error writing file' "$QV_WATCH_LOG" && break; sleep 0.1; done
wait "$tone_pid"
echo "write failure: boxes: $(tr '\n' '|' <"$QV_WATCH_LOG")"
check_file_line "$QV_WATCH_LOG" $'Error #179\tError writing file\tOK' "write failure: it is reported"
sleep 1
check_eq "Start Recording" "$(text_of 1109)" "write failure: the take has stopped"
check_ok "write failure: the partial take is kept" test -s "$work/cut.wav"
read -r riff data size ch rate bits < <(wav_header "$work/cut.wav" 2>/dev/null)
echo "cut.wav: riff $riff data $data size $size"
check_ok "write failure: the header's sizes match what reached the disk" sizes_valid "$work/cut.wav" 6
if [ "${data:-0}" -gt 100000 ]; then
  qv_pass "write failure: the kept part holds samples ($data bytes)"
else
  qv_fail "write failure: the kept part holds samples (${data:-none} bytes)"
fi
qvd post-command "$REC" 1102 >/dev/null
qvd wait-gone "$REC" 10 >/dev/null
qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "write failure: exit code"
qv_stop
wait "$limited_pid" 2>/dev/null

qv_reg_delete_key "$QV_KEY"
