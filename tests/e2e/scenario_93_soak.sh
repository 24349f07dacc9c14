# A soak of live input on the null sinks, QV_SOAK_MINUTES long (default 3;
# a real soak is 20 or more). A steady chord (three sines) and short noise
# bursts go into sink b all the time; sink a's monitor and sink b's are
# recorded all along. The run is a series of one-minute cycles:
#
#   - live input from the menu; the base performance (reverb, echo and the
#     accompaniment) is opened; the chain is edited through the pane every
#     few seconds: chorus inserted, moved up and bypassed, its editor opened
#     and closed, flanger inserted, echo removed, reverb bypassed; the
#     metronome is switched on and off from the menu and the accompaniment
#     plays and stops on its bar (and is wound back); the performance is
#     saved and must hold exactly the edited chain; live input stops;
#   - the Recording dialog records a take to its own file (6, 9 or 12 s,
#     the dialog's Start and Stop pressed by qvdrive, which notes when).
#
# At the start of every cycle (live input stopped, no dialog open) and at
# the end, the program's private bytes, handles, GDI objects, windows,
# threads and descriptors are sampled (qv_resources) and printed.
#
# Checks at the end: every cycle's edits, toggles and take went as asked
# and only the expected question was ever shown; every take is there with
# valid sizes, lasts the time between its Start and Stop presses within the
# stated tolerance (a lost block would shorten it) and holds the chord
# without a gap; the samples of the last three quarters of the run stay
# within the stated margins; sink a's monitor shows no under-run burst
# while live input is meant to run (the moments it is deliberately stopped
# or restarted are left out). Audio is judged only where the machine was
# not starved (latency.py measures it all along). The program exits
# cleanly.
# shellcheck shell=bash

source "$qv_root/tests/e2e/chainpane.sh"
work="$QV_E2E_DIR/soak"
rm -rf "$work"
mkdir -p "$work"

minutes=${QV_SOAK_MINUTES:-3}
[[ "$minutes" =~ ^[1-9][0-9]*$ ]] || { qv_fail "QV_SOAK_MINUTES must be a whole number of minutes, not [$minutes]"; minutes=3; }
run_secs=$((minutes * 60))
CYCLE=60

# ---- stated limits ------------------------------------------------------------------
# A take may be shorter than the time between its presses by the start of
# live input under Wine (the dialog's WM_COMMAND, DirectSound's start, the
# first capture block) and longer by what arrives before the stop is served:
# it must lie within [expected - TAKE_EARLY, expected + TAKE_LATE] seconds.
TAKE_EARLY=0.25
TAKE_LATE=0.08  # two blocks of 40 ms
# A silent gap: 5 ms windows below RMS 0.01 (-40 dBFS; the chord comes out
# at an RMS of about 0.07). The engine's own stream, as a take records it,
# may have none longer than GAP_LIMIT_MS. Sink a's monitor also shows
# Wine's DirectSound output, which under-runs now and then when the machine
# (two cores shared with other builds) is busy, the more so while qvdrive
# and xdotool drive the windows (each qvdrive call starts a Wine process):
# there a burst is a gap longer than *_LONGEST_MS, more than *_SECOND_MS of
# gaps beginning within one second, or gaps taking more than BUSY_SHARE
# percent of the time. QUIET is while a take runs and nothing is driven,
# BUSY the rest of the time live input runs.
# Whenever latency.py's sleeper (an ordinary process, like Wine's and
# PulseAudio's threads) wakes more than STARVED_MS late, or some task waits
# for a CPU STARVED_PRESSURE percent of a second or more, the machine is
# holding every process up: audio faults within a second of that, and
# takes that ran then, are reported but not judged. When too little is
# left to judge, the run is inconclusive and fails so.
STARVED_MS=30
STARVED_PRESSURE=90
GAP_LIMIT_MS=20
QUIET_LONGEST_MS=100
QUIET_SECOND_MS=150
BUSY_LONGEST_MS=200
BUSY_SECOND_MS=300
BUSY_SHARE=5
# Flat: over the last three quarters of the run no figure may rise more
# than these above its first sample there (private bytes in bytes).
MARGIN_PRIVATE=$((4 * 1024 * 1024))
MARGIN_HANDLES=5
MARGIN_GDI=8
MARGIN_USER=4
MARGIN_THREADS=2

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_seed_devices
# Master gain 0.5, input gain 1, gate open, 120 bpm, metronome off, DC
# remover off.
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
# Recorder: dry only, file mode, format 13 (44.1 kHz, 24-bit, stereo).
qv_reg_add "$QV_KEY" st003 REG_BINARY 0100000dc800
qv_chain_layout
# The meters open right of the frame, so they never cover the chain pane.
qv_reg_add "$QV_KEY" ww002 REG_BINARY 00000000000000000098030000640000009803000000c8000000

sox -n -r 44100 -c 2 -b 16 "$work/backing.wav" synth 40 sine 330 vol 0.3 2>/dev/null
sox -n -r 44100 -c 2 -b 16 "$work/burst.wav" synth 0.15 whitenoise vol 0.3 2>/dev/null

events="$work/events.txt"  # "on|off EPOCH": live input asked to run or stop
stats="$work/stats.txt"    # one procstats line per sample
takes="$work/takes.txt"    # "FILE START-EPOCH STOP-EPOCH" per take
: >"$events"
: >"$stats"
: >"$takes"
event() { echo "$1 $(qv_epoch)" >>"$events"; }

QV_APP_LIMIT=$((run_secs + 300))
export QV_APP_LIMIT
qv_watch_start soak.boxes "text:*Performance was changed*=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2
qvd post-command "$FRAME" 32800 >/dev/null
qv_wait_window - "Master Section" 10 >/dev/null
sleep 0.5

chain_of() { python3 "$qv_root/tests/e2e/perfdump.py" "$1" | awk -F'\t' '$1 == "DEFWRAP_" { print $2, $4 }' | sort | tr '\n' '|'; }
menu_state() { qvd menu "$FRAME" | grep -P "\t$1\t" | cut -f3; }
bar_handle() { qvd children "$FRAME" | grep -P '\t#32770\t' | head -1 | cut -f1; }
button_text() { qvd children "$FRAME" | grep -P '\t1012\t' | head -1 | awk -F'\t' '{print $NF}'; }
wait_button() {  # TEXT: the play button's text once it reads TEXT, or what it read last after 5 s
  local text
  for _ in $(seq 20); do
    text=$(button_text)
    [ "$text" = "$1" ] && break
    sleep 0.25
  done
  printf '%s' "$text"
}
text_of() { qvd text "$REC" "$1" | head -1; }
editor_frame() {  # TITLE: the editor frame's handle, waiting up to 10 s
  local line
  for _ in $(seq 40); do
    line=$(qvd children "$FRAME" | grep -P '\tDefault_Wrapper_Editor\t' | grep -P "\t$1\$" | head -1)
    [ -n "$line" ] && break
    sleep 0.25
  done
  printf '%s\n' "${line%%$'\t'*}"
}
# The time since the soak began, in whole seconds.
elapsed() { echo $(($(date +%s) - soak_start)); }
# Wine itself keeps one registry key open for every file dialog that
# returns a file, and one bitmap for every dialog whose template has an
# SS_BITMAP static (an effect's editor); both were seen in stand-alone
# programs. The scenario counts both and the samples carry the counts.
fdialogs=0 editors=0
file_dialog() {  # TITLE PATH: qvd file-dialog, counted
  qvd file-dialog "$1" "$2" 20 >/dev/null || return 1
  fdialogs=$((fdialogs + 1))
}
sample() {  # LABEL
  printf 't=%s\t%s\t%s\tfdialogs=%s\teditors=%s\n' "$(elapsed)" "$1" "$(qv_resources)" "$fdialogs" "$editors" |
    tee -a "$stats"
}
step() { event "step:$1"; }

# ---- the base performance: reverb, echo and the accompaniment ----------------------
qvd post-command "$FRAME" 32798 >/dev/null
file_dialog "Accompaniment Wave File" "$(qv_winpath "$work/backing.wav")"
sleep 1
menu_command 0 s "attach reverb" && choose "Quorvane Plugins/reverb" "attach reverb"
menu_command 1 s "attach echo" && choose "Quorvane Plugins/echo" "attach echo"
save_as "$work/base.qvp" base
fdialogs=$((fdialogs + 1))
check_eq "echo.dll 81|reverb.dll 80|" "$(chain_of "$work/base.qvp")" "base performance: reverb in slot 1, echo in slot 2"
check_ok "base performance: it names the accompaniment" grep -aq 'backing\.wav' "$work/base.qvp"

# ---- the sound: a steady chord and bursts into sink b, both monitors recorded -----
python3 -c '
import math, struct, sys
rate = 44100
# One second of 440 + 1000 + 1730 Hz: whole cycles, so it repeats seamlessly.
one = b"".join(struct.pack("<hh", v, v) for v in (
    int(32767 * 0.12 * sum(math.sin(2 * math.pi * f * i / rate) for f in (440, 1000, 1730)))
    for i in range(rate)))
out = sys.stdout.buffer
try:
    while True:
        out.write(one)
except (BrokenPipeError, KeyboardInterrupt):
    pass
' 2>/dev/null | pacat --device=b --rate=44100 --channels=2 --format=s16le --latency-msec=200 2>/dev/null &
chord_pid=$!
(
  while :; do
    timeout 5 paplay --device=b "$work/burst.wav" 2>/dev/null
    sleep 2.85
  done
) &
burst_pid=$!
rec_start=$(qv_epoch)
echo "$rec_start" >"$work/rec_start.txt"
parecord --device=a.monitor --file-format=wav --rate=44100 --channels=1 "$work/out.wav" 2>/dev/null &
out_pid=$!
parecord --device=b.monitor --file-format=wav --rate=44100 --channels=1 "$work/in.wav" 2>/dev/null &
in_pid=$!
python3 "$qv_root/tests/e2e/latency.py" "$work/latency.txt" &
latency_pid=$!
# Should the scenario be cut short, the feed, the recordings and the probe
# go with it.
stop_sound() {
  kill "$out_pid" "$in_pid" "$latency_pid" 2>/dev/null
  wait "$out_pid" "$in_pid" "$latency_pid" 2>/dev/null
  kill "$burst_pid" "$chord_pid" 2>/dev/null
  pkill -P "$burst_pid" 2>/dev/null
  wait "$chord_pid" "$burst_pid" 2>/dev/null
  return 0
}
trap stop_sound EXIT
trap 'exit 143' TERM INT
# The feed takes a moment to fill its buffer and start.
sleep 2

# ---- the cycles -------------------------------------------------------------------------
soak_start=$(date +%s)
cycles=0
ok_chain=0 ok_metronome=0 ok_accompaniment=0 ok_editor=0 ok_take=0
LENGTHS=(6 9 12)
while :; do
  cycle_start=$(date +%s)
  # A cycle starts while it can end within half a cycle of the run's length.
  [ "$cycles" -gt 0 ] && [ $((cycle_start - soak_start + CYCLE / 2)) -gt "$run_secs" ] && break
  n=$cycles
  cycles=$((cycles + 1))
  sample "cycle $n"

  # Live input from the menu; the base performance opened while it runs
  # (the program stops live input for the open and starts it again).
  qvd post-command "$FRAME" 32772 >/dev/null
  event on
  sleep 2
  event off
  qvd post-command "$FRAME" 32774 >/dev/null
  file_dialog "Open Performance File" "$(qv_winpath "$work/base.qvp")" ||
    qv_fail "cycle $n: the open dialog did not take the base performance"
  sleep 1.5
  event on
  BAR=$(bar_handle)

  step metronome-on
  qvd post-command "$FRAME" 32813 >/dev/null
  sleep 0.5
  metronome_on=$(menu_state 32813)
  step insert-chorus
  menu_command 3 s "cycle $n: insert chorus" && choose "Quorvane Plugins/chorus" "cycle $n: insert chorus"
  step accompaniment-play
  qvd post-command "$BAR" 1012 >/dev/null
  sleep 1
  playing=$(wait_button '||')
  step move-up
  menu_command 3 u "cycle $n: move chorus up"
  sleep 1
  step bypass-chorus
  click "$(bypass_x)" "$(row_y 2)"
  sleep 1
  step metronome-off
  qvd post-command "$FRAME" 32813 >/dev/null
  sleep 0.5
  metronome_off=$(menu_state 32813)
  [ "$metronome_on $metronome_off" = "checked enabled" ] && ok_metronome=$((ok_metronome + 1))
  step editor
  menu_command 2 e "cycle $n: chorus's editor"
  editor=$(editor_frame chorus)
  if [ -n "$editor" ]; then
    editors=$((editors + 1))
    sleep 1.5
    step editor-close
    qvd close "$editor" >/dev/null
    QV_DRIVE_LIMIT=20 qvd wait-gone "$editor" 10 >/dev/null && ok_editor=$((ok_editor + 1))
  fi
  step accompaniment-stop
  qvd post-command "$BAR" 1012 >/dev/null
  stopped=$(wait_button '|>')
  for _ in $(seq 10); do
    rewound=$(QV_DRIVE_LIMIT=20 qvd trackbar "$BAR" 1014 0 | cut -f1)
    [ "$rewound" = 0 ] && break
    sleep 0.5
  done
  if [ "$playing/$stopped/$rewound" = "||/|>/0" ]; then
    ok_accompaniment=$((ok_accompaniment + 1))
  else
    echo "cycle $n: accompaniment: playing '$playing', stopped '$stopped', position '$rewound'"
  fi
  step insert-flanger
  menu_command 5 s "cycle $n: insert flanger" && choose "Quorvane Plugins/flanger" "cycle $n: insert flanger"
  sleep 1
  step remove-echo
  menu_command 1 n "cycle $n: remove echo"
  sleep 1
  step bypass-reverb
  click "$(bypass_x)" "$(row_y 0)"
  sleep 1
  # Saving stops and restarts live input as well.
  event off
  qvd post-command "$FRAME" 32776 >/dev/null
  file_dialog "Save Performance File As..." "$(qv_winpath "$work/cycle_$n.qvp")" ||
    qv_fail "cycle $n: the save dialog did not take the path"
  for _ in $(seq 50); do [ -s "$work/cycle_$n.qvp" ] && break; sleep 0.1; done
  sleep 1
  event on
  step idle
  got=$(chain_of "$work/cycle_$n.qvp")
  if [ "$got" = "chorus.dll 02|flanger.dll 85|reverb.dll 00|" ]; then
    ok_chain=$((ok_chain + 1))
  else
    echo "cycle $n: chain [$got]"
  fi

  # Live input runs on until the take is due, then stops.
  take_secs=${LENGTHS[$((n % 3))]}
  wait_until=$((cycle_start + CYCLE - take_secs - 12))
  while [ "$(date +%s)" -lt "$wait_until" ]; do sleep 1; done
  event off
  qvd post-command "$FRAME" 32772 >/dev/null
  sleep 1

  # The take: the Recording dialog (modal; live input runs only while the
  # take runs).
  qvd post-command "$FRAME" 32794 >/dev/null
  REC=$(qv_wait_window '#32770' 'Recording:' 20)
  target="$work/take_$n.wav"
  qvd post-command "$REC" 1106 >/dev/null
  file_dialog "Wave File To Record" "$(qv_winpath "$target")"
  sleep 0.5
  t_start=$(qvd press "$REC" 1109 | cut -f2)
  # Nothing else is driven while the take runs: a quiet stretch (counted
  # from live input's start, as any other stretch).
  echo "on $t_start" >>"$events"
  echo "quiet $t_start" >>"$events"
  sleep "$take_secs"
  event busy
  during=$(text_of 1109)
  t_stop=$(qvd press "$REC" 1109 | cut -f2)
  echo "off $t_stop" >>"$events"
  sleep 1
  after=$(text_of 1109)
  echo "$target $t_start $t_stop" >>"$takes"
  [ "$during/$after" = "Stop Recording/Start Recording" ] && ok_take=$((ok_take + 1))
  qvd post-command "$REC" 1102 >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$REC" 10 >/dev/null || qv_fail "cycle $n: Done did not close the Recording dialog"
  while [ "$(date +%s)" -lt $((cycle_start + CYCLE)) ]; do sleep 0.5; done
done
sample "end"
soak_secs=$(elapsed)

stop_sound
trap - EXIT TERM INT

qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code after the soak"
qv_stop

# ---- what each cycle did ---------------------------------------------------------------
echo "soak: $cycles cycles in $soak_secs s"
check_ok "ran at least $minutes cycle(s) ($cycles in $soak_secs s)" test "$cycles" -ge "$minutes"
check_eq "$cycles" "$ok_chain" "every cycle's edits are in its saved performance (chorus bypassed, flanger, reverb bypassed)"
check_eq "$cycles" "$ok_metronome" "the metronome's menu item followed both toggles in every cycle"
check_eq "$cycles" "$ok_accompaniment" "the accompaniment played, stopped and was wound back in every cycle"
check_eq "$cycles" "$ok_editor" "chorus's editor opened and closed in every cycle"
check_eq "$cycles" "$ok_take" "every take's Start turned into Stop and back"
check_eq 0 "$(grep -v 'Performance was changed' "$QV_WATCH_LOG" | grep -c .)" \
  "no box but the save question ($(grep -c . "$QV_WATCH_LOG") boxes in all)"

# ---- takes -------------------------------------------------------------------------------------
take_lines=$(grep -c . "$takes")
check_eq "$cycles" "$take_lines" "one take per cycle"
# starved_during FROM TO: the seconds between the two epochs (and one
# either side) in which latency.py's sleeper woke more than STARVED_MS late.
starved_during() {
  awk -v a="$1" -v b="$2" -v l="$STARVED_MS" -v p="$STARVED_PRESSURE" \
    '$1 >= a - 1 && $1 <= b + 1 && ($2 > l || $3 >= p) { n++ } END { print n + 0 }' "$work/latency.txt"
}
bad_sizes=0 bad_length=0 bad_tone=0 bad_gaps=0 starved_takes=0
while read -r file t_start t_stop; do
  name=$(basename "$file")
  if [ ! -s "$file" ]; then
    echo "take $name: missing"
    bad_sizes=$((bad_sizes + 1))
    continue
  fi
  read -r riff data size ch rate bits < <(wav_header "$file")
  sizes_valid "$file" 6 && [ "$ch $rate $bits" = "2 44100 24" ] || bad_sizes=$((bad_sizes + 1))
  line=$(awk -v d="$data" -v a="$t_start" -v b="$t_stop" -v e="$TAKE_EARLY" -v l="$TAKE_LATE" 'BEGIN {
    got = d / 6 / 44100; want = b - a; diff = got - want
    printf "%.3f %.3f %+.3f %d", got, want, diff, (diff >= -e && diff <= l) }')
  read -r got want diff fits <<<"$line"
  rms=$(rms_of "$file" 0.5 "$(awk -v g="$got" 'BEGIN { print g - 0.6 }')")
  awk -v r="$rms" 'BEGIN { exit !(r > 0.03) }' || bad_tone=$((bad_tone + 1))
  gaps=$(python3 "$qv_root/tests/e2e/gaps.py" "$file" --from 0.5 --limit-ms "$GAP_LIMIT_MS" --list 3 | tr '\n' ' ')
  starved=$(starved_during "$t_start" "$t_stop")
  verdict=judged
  if [ "$starved" -gt 0 ]; then
    # The machine held every ordinary process up during this take: its
    # length and gaps say nothing about the program.
    verdict="not judged: the machine was starved in $starved of its seconds"
    starved_takes=$((starved_takes + 1))
  else
    [ "$fits" = 1 ] || bad_length=$((bad_length + 1))
    [[ "$gaps" == *"over-limit 0 "* ]] || bad_gaps=$((bad_gaps + 1))
  fi
  echo "take $name: $got s, expected $want s ($diff s), data $data bytes, RMS $rms; $gaps($verdict)"
done <"$takes"
judged=$((take_lines - starved_takes))
check_eq 0 "$bad_sizes" "every take is there, 44.1 kHz 24-bit stereo, with sizes matching the file"
check_eq 0 "$bad_tone" "every take holds the chord"
check_ok "most takes could be judged ($judged of $take_lines; the others ran while the machine was starved, so the run is inconclusive otherwise)" \
  test "$((2 * judged))" -ge "$take_lines"
check_eq 0 "$bad_length" "every judged take lasts the time between its presses (-$TAKE_EARLY s ... +$TAKE_LATE s)"
check_eq 0 "$bad_gaps" "no judged take has a silent gap over $GAP_LIMIT_MS ms after its first half second"

# ---- resources ---------------------------------------------------------------------------------
# Which figure stands for what under Wine (qv_resources, qvdrive procstats):
# private bytes are the Wine process's resident anonymous memory and swap
# (anon; Wine answers PrivateUsage 0 for another process), handles the
# system handle list's count (handles-sys; GetProcessHandleCount gives 0)
# less one per file dialog, GDI objects Wine's GDI handle table
# (gdi-table) less one per editor opened, USER objects the program's
# windows (GetGuiResources is not implemented: error 120).
echo "samples (anon and ws in bytes; fdialogs and editors: the counts Wine's own leaks follow):"
cat "$stats"
from=$((soak_secs / 4))
flat=$(awk -F'\t' -v from="$from" '
  function field(name,   i, kv) {
    for (i = 3; i <= NF; i++) { split($i, kv, "="); if (kv[1] == name) return kv[2] }
    return ""
  }
  { t = substr($1, 3) + 0 }
  t >= from {
    n++
    value["anon"] = field("anon")
    value["handles"] = field("handles-sys") - field("fdialogs")
    value["gdi"] = field("gdi-table") - field("editors")
    value["windows"] = field("windows")
    value["threads"] = field("threads")
    value["fds"] = field("fds")
    for (k in value) {
      if (n == 1) first[k] = value[k]
      if (n == 1 || value[k] > top[k]) top[k] = value[k]
    }
    if (n == 1) { first_types = field("handle-types"); first_gdi = field("gdi-types") }
    last_types = field("handle-types"); last_gdi = field("gdi-types")
  }
  # "Event:9,Key:42" pairs into an array.
  function kinds(text, out,   parts, i, kv) {
    split(text, parts, ",")
    for (i in parts) { split(parts[i], kv, ":"); out[kv[1]] = kv[2] }
  }
  function rises(a, b,   x, y, k, r) {
    kinds(a, x); kinds(b, y); r = ""
    for (k in y) if (y[k] - x[k] != 0) r = r (r == "" ? "" : ", ") k " " sprintf("%+d", y[k] - x[k])
    return r == "" ? "none" : r
  }
  END {
    printf "n=%d", n
    for (k in first) printf " %s=%+d", k, top[k] - first[k]
    print ""
    print "handles by kind, first and last: " first_types " -> " last_types " (changed: " rises(first_types, last_types) ")"
    print "GDI objects by kind, first and last: " first_gdi " -> " last_gdi " (changed: " rises(first_gdi, last_gdi) ")"
  }' "$stats")
echo "rise over the last three quarters (from ${from} s): $flat"
rise() { sed -n "1s/.* $1=\([-+0-9]*\).*/\1/p" <<<"$flat"; }
samples=$(sed -n '1s/^n=\([0-9]*\).*/\1/p' <<<"$flat")
check_ok "at least 3 samples in the last three quarters ($samples)" test "${samples:-0}" -ge 3
first_line=$(head -1 "$stats")
check_ok "every figure was read" \
  bash -c '[[ "$1" =~ anon=[1-9] && "$1" =~ handles-sys=[1-9] && "$1" =~ gdi-table=[1-9] && "$1" =~ windows=[1-9] ]]' _ "$first_line"
check_ok "private bytes stay flat (rise $(rise anon) B, margin $MARGIN_PRIVATE)" test "$(rise anon)" -le "$MARGIN_PRIVATE"
changed() { sed -n "s/^$1 by kind.*(changed: \(.*\))\$/\1/p" <<<"$flat"; }
check_ok "handles stay flat (rise $(rise handles) beyond Wine's file-dialog keys, margin $MARGIN_HANDLES; by kind: $(changed handles))" \
  test "$(rise handles)" -le "$MARGIN_HANDLES"
check_ok "GDI objects stay flat (rise $(rise gdi) beyond Wine's editor bitmaps, margin $MARGIN_GDI; by kind: $(changed "GDI objects"))" \
  test "$(rise gdi)" -le "$MARGIN_GDI"
check_ok "USER objects stay flat (windows rise $(rise windows), margin $MARGIN_USER)" test "$(rise windows)" -le "$MARGIN_USER"
check_ok "threads and file descriptors stay flat (rise $(rise threads) and $(rise fds), margin $MARGIN_THREADS)" \
  test "$(rise threads)" -le "$MARGIN_THREADS" -a "$(rise fds)" -le "$MARGIN_THREADS"

# ---- gaps on the sinks -----------------------------------------------------------------------
gaps_of() {
  python3 "$qv_root/tests/e2e/gaps.py" "$@" --limit-ms "$GAP_LIMIT_MS" --list 12 \
    --starved "$work/latency.txt" --starved-ms "$STARVED_MS" --starved-pressure "$STARVED_PRESSURE"
}
awk -v l="$STARVED_MS" -v p="$STARVED_PRESSURE" '
  { n++ } $2 > l { late++ } $3 >= p { pressed++ } $2 > l || $3 >= p { starved++ } $2 > worst { worst = $2 }
  END { printf "the machine: of %d seconds, a 5 ms sleeper woke more than %d ms late in %d (the worst %.0f ms),", n, l, late, worst
        printf " tasks waited for a CPU %d %% of the second or more in %d: %d starved seconds\n", p, pressed, starved }' \
  "$work/latency.txt"
in_gaps=$(gaps_of "$work/in.wav" --from 2.5 --start "$rec_start")
live_gaps=$(gaps_of "$work/out.wav" --start "$rec_start" --events "$events" --excuse "$work/in.wav")
quiet_gaps=$(gaps_of "$work/out.wav" --start "$rec_start" --events "$events" --open quiet --close busy \
  --excuse "$work/in.wav")
# The feed's own gaps are not the program's: the output's gaps they explain
# are counted apart (excused).
echo "input (sink b's monitor), whole run: $in_gaps"
echo "output (sink a's monitor) while live input runs (file time; the step before each gap):"
echo "$live_gaps"
echo "output while nothing else is driven (the takes): $quiet_gaps"
figure() { head -1 <<<"$1" | awk -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == k) { print $(i + 1); exit } }'; }
live_checked=$(figure "$live_gaps" checked)
live_starved=$(figure "$live_gaps" starved-time)
check_ok "the output could be judged for much of the run ($live_checked s of $soak_secs s checked, $live_starved s of it starved; inconclusive otherwise)" \
  awk -v c="$live_checked" -v t="$live_starved" -v s="$soak_secs" 'BEGIN { exit !(c - t >= 0.4 * s) }'
# burst PART GAPS LONGEST SECOND [SHARE]: the stretch's gaps stay within
# the limits.
burst() {
  local longest worst share
  longest=$(figure "$2" longest)
  worst=$(figure "$2" worst-second)
  share=$(awk -v s="$(figure "$2" silent)" -v c="$(figure "$2" checked)" -v t="$(figure "$2" starved-time)" \
    'BEGIN { printf "%.2f", (c - t > 0 ? 100 * s / 1000 / (c - t) : 100) }')
  if awk -v l="$longest" -v w="$worst" -v s="$share" -v ll="$3" -v wl="$4" -v sl="${5:-100}" \
    'BEGIN { exit !(l != "" && l <= ll && w <= wl && s <= sl) }'; then
    qv_pass "$1: no under-run burst (longest gap $longest ms, worst second $worst ms, silent $share % of the time)"
  else
    qv_fail "$1: no under-run burst: longest gap $longest ms (limit $3), worst second $worst ms (limit $4)," \
      "silent $share % of the time (limit ${5:-100})"
  fi
}
burst "output while a take runs ($(figure "$quiet_gaps" checked) s)" "$quiet_gaps" "$QUIET_LONGEST_MS" "$QUIET_SECOND_MS"
burst "output while the windows are driven ($live_checked s)" "$live_gaps" "$BUSY_LONGEST_MS" "$BUSY_SECOND_MS" "$BUSY_SHARE"
qv_reg_delete_key "$QV_KEY"
