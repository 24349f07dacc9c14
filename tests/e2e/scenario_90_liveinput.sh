# Live input through PulseAudio's null sinks: a tone played into sink b is
# captured from its monitor, goes through the engine at half master gain and
# comes out on sink a, while the meters light the segments its peak calls
# for and the load read-out shows a load; live input starts and stops
# cleanly again and again, the meters reopening where they were put; the
# accompaniment bar plays, stops and seeks (its trackbar locked while
# playing); a damaged accompaniment says so; and a playback device that
# disappears mid-run is survived.
# shellcheck shell=bash

work="$QV_E2E_DIR/liveinput"
rm -rf "$work"
mkdir -p "$work"

seed_settings() {  # OUTPUT-DEVICE INPUT-DEVICE
  qv_reg_delete_key "$QV_KEY"
  qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
  qv_reg_add "$QV_KEY" DxOutput REG_SZ "$1"
  qv_reg_add "$QV_KEY" DxInput REG_SZ "$2"
  # DirectSound, 40 ms, format 5 (44.1 kHz 16-bit stereo), 2 buffers, 2 ms.
  qv_reg_add "$QV_KEY" st001 REG_BINARY 0028050202
  # Master gain 0.5, input gain 1, gate open (threshold 0), 5/100 ms, 120 bpm,
  # metronome off, DC remover off: the tone passes unchanged but for the gain.
  qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
}

menu_state() { qvd menu "$FRAME" | grep -P "\t$1\t" | cut -f3; }
meter_count() { qvd children 0 2>/dev/null | grep -c 'Quorvane_Meter_Class' || true; }
bar_handle() { qvd children "$FRAME" | grep -P '\t#32770\t' | head -1 | cut -f1; }
button_text() { qvd children "$FRAME" | grep -P '\t1012\t' | head -1 | awk -F'\t' '{print $NF}'; }
boxes() { grep -c . "$QV_WATCH_LOG"; }
# The accompaniment bar's seek trackbar: "POSITION enabled|disabled".
seek_state() { qvd trackbar "$BAR" 1014 | awk -F'\t' '{ print $1, $3 }'; }
# Meter windows are top-level; wait-window finds them by class.
meters_open() { QV_DRIVE_LIMIT=20 qvd wait-window Quorvane_Meter_Class - 3 >/dev/null; }
meters_closed() { ! QV_DRIVE_LIMIT=15 qvd wait-window Quorvane_Meter_Class - 0.5 >/dev/null 2>&1; }
toggle_live() { qvd send-key "$FRAME" ctrl+l >/dev/null; sleep 1.5; }

# meter_place TITLE: the meter window's outer rectangle on the screen.
meter_place() {
  local meter
  meter=$(qvd wait-window Quorvane_Meter_Class "$1" 5 | cut -f1)
  [ -n "$meter" ] && qvd rects "$meter" | head -1 | cut -f6
}
# load_row: the colours along the middle of the load read-out (bar and
# percentage), bottom right of the frame's client area above the status bar.
load_row() {
  local w h s x points=""
  read -r w h <<<"$(qvd client "$FRAME")"
  s=$(qvd rects "$FRAME" | awk -F'\t' '$2 == "msctls_statusbar32" { split($6, r, " "); print r[4] - r[2]; exit }')
  h=$((h - ${s:-0}))
  for x in $(seq $((w - 130)) $((w - 1))); do points+=" $x $((h - 27)) $x $((h - 25))"; done
  # shellcheck disable=SC2086
  qvd pixels "$FRAME" $points | cut -f2 | tr '\n' ' '
}

# ---- one run: loopback, start/stop, accompaniment ---------------------------------

seed_settings QvOutA "Monitor of QvOutB"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 5 sine 1000 vol 0.5 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$work/backing.wav" synth 20 sine 330 vol 0.4 2>/dev/null
printf 'RIFX\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00' >"$work/damaged.wav"

QV_APP_LIMIT=300 qv_watch_start liveinput.boxes "*=OK"
QV_APP_LIMIT=300 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2
check_eq 0 "$(boxes)" "seeded devices: no configuration question at start"

load_idle=$(load_row)
toggle_live
check_eq checked "$(menu_state 32772)" "Ctrl+L: Live Input is checked"
check_ok "Ctrl+L: the meter windows open" meters_open
# Silence: every segment shows the unlit colour.
meter=$(qvd wait-window Quorvane_Meter_Class "Input VU Meter" 5 | cut -f1)
UNLIT=$(qvd pixels "$meter" 277 16 | cut -f2)
qv_shot liveinput_running

# The tone into sink b; sink a's monitor records what the program plays.
timeout 20 parecord --device=a.monitor --file-format=wav --rate=44100 --channels=2 "$work/out.wav" &
rec_pid=$!
timeout 20 parecord --device=b.monitor --file-format=wav --rate=44100 --channels=2 "$work/in.wav" &
rec_in_pid=$!
sleep 1
timeout 20 paplay --device=b "$work/tone.wav" &
play_pid=$!
# While the tone sounds: the meters' lit segments and the load read-out.
sleep 1.5
in_lit=$(lit_segments "Input VU Meter")
out_lit=$(lit_segments "Output VU Meter")
qv_shot liveinput_meters_tone
load_changed=0
for _ in 1 2 3 4; do
  [ "$(load_row)" != "$load_idle" ] && load_changed=$((load_changed + 1))
  sleep 0.3
done
wait "$play_pid"
sleep 1
kill "$rec_pid" "$rec_in_pid" 2>/dev/null
wait "$rec_pid" "$rec_in_pid" 2>/dev/null
# The meters against the tone's peak as it reached the program: the input
# meter shows the captured peak, the output meter half of it (master gain
# 0.5). A segment is 80/43 dB; the peak of one block may fall a segment
# lower than the file's maximum.
in_peak=$(sox "$work/in.wav" -n trim 1.5 1.5 stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
want_in=$(segments_for "$in_peak")
want_out=$(segments_for "$(awk -v p="$in_peak" 'BEGIN { print p / 2 }')")
echo "meters: captured peak $in_peak; lit input $in_lit (want $want_in), output $out_lit (want $want_out)"
check_ok "meters: the input meter lights the tone's segments ($in_lit of 43, want $want_in)" \
  near_segments "$in_lit" "$want_in"
check_ok "meters: the output meter lights half the tone's segments ($out_lit of 43, want $want_out)" \
  near_segments "$out_lit" "$want_out"
check_ok "load read-out: it shows a load while live input runs ($load_changed of 4 readings differ from idle)" \
  test "$load_changed" -ge 1 -a -n "$load_idle"
in_rms=$(rms_of "$work/in.wav" 1.5 1.5)
out_rms=$(rms_of "$work/out.wav" 1.5 1.5)
echo "loopback: input RMS $in_rms, output RMS $out_rms"
gain_db=$(awk -v i="$in_rms" -v o="$out_rms" 'BEGIN { if (i > 0 && o > 0) printf "%.1f", 20 * log(o / i) / log(10); else print "none" }')
echo "loopback: gain $gain_db dB"
if awk -v g="$gain_db" 'BEGIN { exit !(g != "none" && g > -7.0 && g < -5.0) }'; then
  qv_pass "loopback: the tone comes out at half gain ($gain_db dB)"
else
  qv_fail "loopback: the tone comes out at half gain: got $gain_db dB (in $in_rms, out $out_rms)"
fi
# Latency: first sample above half the tone's level in each recording. The
# two recordings start a few milliseconds apart, so this is a rough figure.
onset() {
  sox "$1" -t dat - remix 1 2>/dev/null |
    awk '!/^;/ { if ($2 > 0.2 || $2 < -0.2) { print $1; exit } }'
}
t_in=$(onset "$work/in.wav")
t_out=$(onset "$work/out.wav")
latency=$(awk -v a="$t_in" -v b="$t_out" 'BEGIN { if (a != "" && b != "") printf "%.0f", (b - a) * 1000; else print "?" }')
echo "loopback: latency about $latency ms (capture to playback, monitors recorded separately)"
echo "latency_ms $latency gain_db $gain_db" >"$work/measured.txt"

toggle_live
check_eq enabled "$(menu_state 32772)" "Ctrl+L again: Live Input is unchecked"
check_ok "Ctrl+L again: the meter windows close" meters_closed

# Move the input meter by its caption with the real mouse; three stop/start
# cycles then open both meters exactly where they were (no creeping).
toggle_live
read -r mx my _ _ <<<"$(meter_place "Input VU Meter")"
timeout 10 xdotool mousemove $((mx + 60)) $((my + 8)) mousedown 1
sleep 0.3
timeout 10 xdotool mousemove $((mx + 120)) $((my + 48))
sleep 0.3
timeout 10 xdotool mouseup 1
sleep 0.5
places=$(meter_place "Input VU Meter")/$(meter_place "Output VU Meter")
echo "meters placed at $places"
check_eq "$((mx + 60)) $((my + 40))" "$(cut -d' ' -f1-2 <<<"$places")" "meters: the input meter moved by its caption"
toggle_live
for i in 1 2 3; do
  qvd post-command "$FRAME" 32772 >/dev/null
  sleep 1.5
  on=$(menu_state 32772)
  meters_open && m_on=open || m_on=closed
  check_eq "$places" "$(meter_place "Input VU Meter")/$(meter_place "Output VU Meter")" \
    "start/stop $i: both meters open where they were"
  qvd post-command "$FRAME" 32772 >/dev/null
  sleep 1.5
  off=$(menu_state 32772)
  meters_closed && m_off=closed || m_off=open
  check_eq "checked open enabled closed" "$on $m_on $off $m_off" "start/stop $i: check mark and meters follow"
done
check_eq 0 "$(boxes)" "start/stop: no box"

# Accompaniment: open it while live input runs; the run goes on afterwards.
toggle_live
qvd post-command "$FRAME" 32798 >/dev/null
check_ok "accompaniment: the open dialog takes the file" \
  qvd file-dialog "Accompaniment Wave File" "$(qv_winpath "$work/backing.wav")" 20
sleep 2
check_eq checked "$(menu_state 32772)" "accompaniment: live input runs again after the open"
BAR=$(bar_handle)
check_eq "|>" "$(button_text)" "accompaniment: the button offers play"
check_eq "0 enabled" "$(seek_state)" "accompaniment: the seek bar is at the start and can be moved"
qvd post-command "$BAR" 1012 >/dev/null
sleep 1
check_eq "||" "$(button_text)" "accompaniment: play shows ||"
check_contains "$(seek_state)" "disabled" "accompaniment: the seek bar is locked while playing"
timeout 10 parecord --device=a.monitor --file-format=wav --rate=44100 --channels=2 "$work/accomp.wav" &
rec_pid=$!
sleep 2
kill "$rec_pid" 2>/dev/null
wait "$rec_pid" 2>/dev/null
accomp_rms=$(rms_of "$work/accomp.wav" 0.5 1)
echo "accompaniment: output RMS while playing $accomp_rms"
if awk -v r="$accomp_rms" 'BEGIN { exit !(r > 0.05) }'; then
  qv_pass "accompaniment: it sounds on the output while playing"
else
  qv_fail "accompaniment: it sounds on the output while playing (RMS $accomp_rms)"
fi
qv_shot liveinput_accompaniment_playing
qvd post-command "$BAR" 1012 >/dev/null
sleep 1
check_eq "|>" "$(button_text)" "accompaniment: stop shows |> again"
timeout 10 parecord --device=a.monitor --file-format=wav --rate=44100 --channels=2 "$work/accomp_stopped.wav" &
rec_pid=$!
sleep 1.5
kill "$rec_pid" 2>/dev/null
wait "$rec_pid" 2>/dev/null
stopped_rms=$(rms_of "$work/accomp_stopped.wav" 0.3 0.8)
if awk -v r="$stopped_rms" 'BEGIN { exit !(r < 0.01) }'; then
  qv_pass "accompaniment: silent once stopped"
else
  qv_fail "accompaniment: silent once stopped (RMS $stopped_rms)"
fi

# Stopped, the bar can be moved; play goes on from where it was put. The
# backing track is 20 s long: one second of play is 50 of the bar's 1000.
stopped_at=$(seek_state)
check_contains "$stopped_at" "enabled" "accompaniment: the seek bar can be moved again once stopped"
# 800 leaves four seconds before the track's end: a busy machine's slow
# reads must not see it wrap round to the start.
check_eq "800" "$(QV_DRIVE_LIMIT=20 qvd trackbar "$BAR" 1014 800 | cut -f1)" "accompaniment: the seek bar moves to 800"
qvd post-command "$BAR" 1012 >/dev/null
sleep 1.5
check_eq "||" "$(button_text)" "accompaniment: plays again after a stop"
played_to=$(seek_state | cut -d' ' -f1)
echo "accompaniment: stopped at ${stopped_at%% *}, moved to 800, after 1.5 s of play at $played_to"
check_ok "accompaniment: play goes on from the seek point ($played_to)" \
  test "${played_to:-0}" -ge 820 -a "${played_to:-0}" -le 1000
qvd post-command "$BAR" 1012 >/dev/null
sleep 0.5

# Live input stops: the button is back to play.
toggle_live
check_eq "|>" "$(button_text)" "live input off: the button shows |>"

# A damaged file says which damage.
qvd post-command "$FRAME" 32798 >/dev/null
qvd file-dialog "Accompaniment Wave File" "$(qv_winpath "$work/damaged.wav")" 20 >/dev/null
for _ in $(seq 50); do [ "$(boxes)" -gt 0 ] && break; sleep 0.1; done
check_file_line "$QV_WATCH_LOG" $'Error #195\tThis file is damaged or has unsupported format\tOK' \
  "damaged accompaniment: its message"

qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit after live input: exit code"
qv_stop

# ---- a playback device lost mid-run ---------------------------------------------------

module=$(timeout 5 pactl load-module module-null-sink sink_name=qvlost sink_properties=device.description=QvLost 2>/dev/null)
if [ -n "$module" ]; then
  seed_settings QvLost "Monitor of QvOutB"
  QV_APP_LIMIT=120 qv_watch_start liveinput_lost.boxes "*=OK"
  QV_APP_LIMIT=120 qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  sleep 2
  toggle_live
  check_eq checked "$(menu_state 32772)" "lost device: live input runs on the extra sink"
  timeout 5 pactl unload-module "$module"
  for _ in $(seq 100); do [ "$(boxes)" -gt 0 ] && break; sleep 0.1; done
  sleep 1
  echo "lost device: boxes: $(tr '\n' '|' <"$QV_WATCH_LOG"); live input item: $(menu_state 32772)"
  check_eq "Quorvane Live 1.21" "$(qvd title "$FRAME" | cut -f2-)" "lost device: the program survives"
  qvd post-command "$FRAME" 105 >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "lost device: exit code"
  qv_stop
else
  qv_fail "lost device: could not load an extra null sink"
fi

qv_reg_delete_key "$QV_KEY"
