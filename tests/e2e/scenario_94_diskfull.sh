# Recording onto a disk that fills up and onto media that go away, in the
# real program under Wine. A tmpfs made for the test (2 MiB, so a take of
# 44.1 kHz 24-bit stereo fills it in about eight seconds) is mapped into
# the prefix as drive Q: (a dosdevices link); a tone plays into sink b.
#
#   - full: a take to Q: runs until the disk is full. The take up to that
#     point is a valid WAV (header sizes as on disk, whole frames, the tone
#     in it up to its end), the user gets exactly one message, the program
#     keeps answering and live input starts again afterwards;
#   - drive gone: the drive link is removed in the middle of a take; the
#     program sees its file gone from its path and stops the take itself;
#   - unmounted: the file system is unmounted (lazily) in the middle of a
#     take; the same.
#
# For the last two the file is read where it went (the tmpfs by its own
# path; the detached one through a descriptor opened before the unmount)
# and the same things are checked. What the program says each time is in
# the log. Needs root for mount; without it the scenario says so and
# checks nothing. The mounts and the link go at the end, also on failure.
# shellcheck shell=bash

work="$QV_E2E_DIR/diskfull"
disk="$work/disk"
drive="$WINEPREFIX/dosdevices/q:"

# Leftovers of a run that was killed: its mounts (detached or not) and link.
cleanup_disk() {
  exec 7<&-
  rm -f "$drive"
  while mountpoint -q "$disk" 2>/dev/null; do umount "$disk" 2>/dev/null || umount -l "$disk" 2>/dev/null || break; done
  return 0
}
cleanup_disk
rm -rf "$work"
mkdir -p "$disk"

mount_disk() {  # SIZE
  cleanup_disk
  mount -t tmpfs -o "size=$1" tmpfs "$disk" 2>"$work/mount.err" || return 1
  ln -sfn "$disk" "$drive"
}
if ! mount_disk 2m; then
  echo "scenario_94_diskfull: skipped: mounting a tmpfs was refused ($(tr '\n' ' ' <"$work/mount.err")); run it as root"
  cleanup_disk
  return 0
fi
trap cleanup_disk EXIT
trap 'exit 143' TERM INT

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_seed_devices
# Master gain 0.5, gate open, DC remover off: the tone comes out at half.
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
# Recorder: dry only, file mode, format 13 (44.1 kHz, 24-bit, stereo).
qv_reg_add "$QV_KEY" st003 REG_BINARY 0100000dc800
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 40 sine 1000 vol 0.5 2>/dev/null

boxes() { grep -c . "$QV_WATCH_LOG"; }
text_of() { qvd text "$REC" "$1" | head -1; }
menu_state() { qvd menu "$FRAME" | grep -P "\t$1\t" | cut -f3; }
tone_start() {
  timeout 60 paplay --device=b "$work/tone.wav" 2>/dev/null &
  tone_pid=$!
  sleep 0.5
}
tone_stop() { kill "$tone_pid" 2>/dev/null; wait "$tone_pid" 2>/dev/null; }
open_recording() {  # TARGET (Windows path)
  qvd post-command "$FRAME" 32794 >/dev/null
  REC=$(qv_wait_window '#32770' 'Recording:' 20)
  qvd post-command "$REC" 1106 >/dev/null
  qvd file-dialog "Wave File To Record" "$1" 20 >/dev/null
  sleep 0.5
}
close_recording() {
  qvd post-command "$REC" 1102 >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$REC" 10 >/dev/null
}
# wait_boxes N SECONDS: until the watcher has logged N boxes in all.
wait_boxes() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do [ "$(boxes)" -ge "$1" ] && return 0; sleep 0.1; done
  return 1
}
# check_take PART FILE: the take as it reached its medium.
check_take() {
  local riff data size ch rate bits rms_start rms_end seconds
  read -r riff data size ch rate bits < <(wav_header "$2" 2>/dev/null)
  echo "$1: $(basename "$2"): riff $riff data $data size $size channels $ch rate $rate bits $bits"
  check_ok "$1: the take is a WAV whose header sizes match the file, in whole frames" sizes_valid "$2" 6
  check_eq "2 44100 24" "$ch $rate $bits" "$1: the take's format"
  seconds=$(awk -v d="${data:-0}" 'BEGIN { printf "%.3f", d / 6 / 44100 }')
  rms_start=$(rms_of "$2" 1 1)
  rms_end=$(sox "$2" -n trim "$(awk -v s="$seconds" 'BEGIN { print (s > 1 ? s - 0.5 : 0) }')" 2>&1 stat |
    awk '/RMS +amplitude/ {print $3}')
  echo "$1: $seconds s of take; tone RMS $rms_start after a second, $rms_end in the last half second"
  if awk -v a="$rms_start" -v b="$rms_end" 'BEGIN { exit !(a > 0.1 && b > 0.1) }'; then
    qv_pass "$1: the tone is in the take up to its end ($seconds s)"
  else
    qv_fail "$1: the tone is in the take up to its end ($seconds s; RMS $rms_start, at the end $rms_end)"
  fi
}
# check_alive PART BOXES-BEFORE: one box since BOXES-BEFORE, the program
# answers, and live input starts and carries the tone again.
check_alive() {
  local new rms
  sleep 3  # a second box would have come by now
  new=$(($(boxes) - $2))
  echo "$1: messages: $(tail -n "$new" "$QV_WATCH_LOG" | tr '\n' '|')"
  check_eq 1 "$new" "$1: exactly one message"
  check_eq "Start Recording" "$(text_of 1109)" "$1: the dialog is idle again and answers"
  close_recording
  check_eq "Quorvane Live 1.21" "$(qvd title "$FRAME")" "$1: the program answers"
  qvd post-command "$FRAME" 32772 >/dev/null
  sleep 2
  check_eq checked "$(menu_state 32772)" "$1: live input starts again"
  tone_start
  timeout 10 parecord --device=a.monitor --file-format=wav --rate=44100 --channels=2 "$work/after_$1.wav" &
  local rec=$!
  sleep 2
  kill "$rec" 2>/dev/null
  wait "$rec" 2>/dev/null
  tone_stop
  rms=$(rms_of "$work/after_$1.wav" 0.5 1)
  if awk -v r="$rms" 'BEGIN { exit !(r > 0.1) }'; then
    qv_pass "$1: live input carries the tone again (RMS $rms)"
  else
    qv_fail "$1: live input carries the tone again (RMS $rms)"
  fi
  qvd post-command "$FRAME" 32772 >/dev/null
  sleep 1.5
  check_eq 0 "$(($(boxes) - $2 - 1))" "$1: no further message afterwards"
}

QV_APP_LIMIT=300 qv_watch_start diskfull.boxes "*=OK"
QV_APP_LIMIT=300 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2

# ---- full -----------------------------------------------------------------------------------
before=$(boxes)
open_recording 'Q:\full.wav'
check_eq 'Q:\full.wav' "$(text_of 1108)" "full: the target on drive Q: is taken"
tone_start
t_start=$(qvd press "$REC" 1109 | cut -f2)
if wait_boxes $((before + 1)) 30; then
  t_box=$(qv_epoch)
  qv_pass "full: the program notices the full disk by itself and says so ($(awk -v a="$t_start" -v b="$t_box" \
    'BEGIN { printf "%.1f", b - a }') s after Start; the disk holds about 7.9 s)"
else
  qv_fail "full: the program notices the full disk by itself and says so (no message within 30 s of Start)"
  qvd press "$REC" 1109 >/dev/null
  wait_boxes $((before + 1)) 10
fi
tone_stop
df -k "$disk" | tail -1
check_take full "$disk/full.wav"
free=$(df -k --output=avail "$disk" | tail -1 | tr -d ' ')
check_ok "full: the take filled the disk (${free} KiB left)" test "${free:-999}" -lt 64
check_alive full "$before"

# ---- drive gone ----------------------------------------------------------------------------------
mount_disk 8m
before=$(boxes)
open_recording 'Q:\gone.wav'
tone_start
qvd press "$REC" 1109 >/dev/null
sleep 3
rm -f "$drive"
echo "drive gone: Q: removed while the take runs ($(text_of 1109))"
# The program sees the file gone from its path and stops the take itself;
# Stop is pressed only if it did not.
wait_boxes $((before + 1)) 10
sleep 1
[ "$(text_of 1109)" = "Stop Recording" ] && qvd press "$REC" 1109 >/dev/null
wait_boxes $((before + 1)) 10
tone_stop
check_take "drive gone" "$disk/gone.wav"
check_alive "drive gone" "$before"

# ---- unmounted ------------------------------------------------------------------------------------
mount_disk 2m
before=$(boxes)
open_recording 'Q:\lazy.wav'
tone_start
qvd press "$REC" 1109 >/dev/null
sleep 3
# A descriptor opened before the unmount keeps the detached file system
# readable afterwards.
exec 7<"$disk/lazy.wav"
umount -l "$disk"
t_gone=$(qv_epoch)
echo "unmounted: the disk is detached while the take runs ($(text_of 1109)); it is full about 6 s later"
if wait_boxes $((before + 1)) 20; then
  qv_pass "unmounted: the program notices that its writes fail and says so ($(awk -v a="$t_gone" -v b="$(qv_epoch)" \
    'BEGIN { printf "%.1f", b - a }') s after the unmount)"
else
  qv_fail "unmounted: the program notices that its writes fail and says so (no message within 20 s; the take" \
    "still shows [$(text_of 1109)] and is stopped now)"
  qvd press "$REC" 1109 >/dev/null
  wait_boxes $((before + 1)) 10
fi
tone_stop
cp "/proc/$BASHPID/fd/7" "$work/lazy.wav" 2>/dev/null || cat <&7 >"$work/lazy.wav"
exec 7<&-
check_take unmounted "$work/lazy.wav"
check_alive unmounted "$before"

qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code"
qv_stop
echo "boxes: $(tr '\n' '|' <"$QV_WATCH_LOG")"
cleanup_disk
trap - EXIT TERM INT
qv_reg_delete_key "$QV_KEY"
