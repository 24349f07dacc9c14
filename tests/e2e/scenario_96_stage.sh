# Playing live, hands free. MIDI messages reach the program through its
# test input (QV_TEST_MIDI=1), the path of a MIDI driver's callback:
#  - the Output knob and slot 1's bypass learn a control change and a note
#    from their right-click menus and move by messages; the bindings are
#    saved in the performance, and after reopening they move them again;
#  - a performance with damaged bindings opens with its chain and one
#    message; a damaged set list is refused with one message;
#  - on the test ASIO driver's steady tone, a set list of three songs is
#    switched by program changes during a take: the take has no gap at the
#    switches, and the reverb of song 1 rings on after the switch to the
#    dry song 2.
# shellcheck shell=bash

# shellcheck source=chainpane.sh
source "$(dirname "${BASH_SOURCE[0]}")/chainpane.sh"

work="$QV_E2E_DIR/stage"
rm -rf "$work"
mkdir -p "$work"
cp "$qv_root/examples/room.qvp" "$work/room.qvp"

# The gate pane sits right of the chain pane in the Master Section.
GATE_X=$((PANE_X + 291))
OUTPUT_KNOB="$((GATE_X + 35)) $((PANE_Y + 39))"

# st002's master gain (its first four bytes, a float) and the metronome's
# tempo (bytes 16 to 19) as the settings hold them.
stored_float() {  # OFFSET
  qv_reg_get "$QV_KEY" st002 | python3 -c '
import struct, sys
h, at = sys.stdin.read().strip(), 2 * int(sys.argv[1])
print("%.3f" % struct.unpack("<f", bytes.fromhex(h[at:at + 8]))[0] if len(h) >= at + 8 else "none")' "$1"
}
stored_gain() { stored_float 0; }
# The slot bytes of the default wrapper's instances, as perfdump shows them.
slot_bytes() { python3 "$qv_root/tests/e2e/perfdump.py" "$1" | awk -F'\t' '$1 ~ /DEFWRAP/ {printf "%s ", $4}'; }
midi() { qvd midi "$FRAME" "$@" >/dev/null || qv_fail "the program took MIDI messages $*"; sleep 0.4; }

start_stage() {  # BOXES-LOG ARGS...
  local log=$1
  shift
  qv_watch_start "$log" "Configure Audio Settings=NO" "*=OK"
  QV_TEST_MIDI=1 qv_start "$@"
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
  qvd post-command "$FRAME" 32800 >/dev/null  # the Master Section, a window inside the frame
  sleep 1.5
}

# learn X Y WHAT MESSAGE: right-click at (X, Y), "Learn MIDI Control", then the message.
learn() {
  click "$1" "$2" 3
  if ! qv_wait_window "#32768" - 5 >/dev/null; then
    click "$1" "$2" 3
    qv_wait_window "#32768" - 5 >/dev/null || { qv_fail "$3: a pop-up menu at ($1, $2)"; return 1; }
  fi
  xdotool key l
  sleep 0.5
  midi "$4"
}

close_stage() {  # WHAT
  qvd close "$FRAME" >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$1: exit code"
  qv_stop
}

# ---- learn a knob and a bypass; save; reopen and control again -------------------

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
qv_chain_layout

start_stage stage_learn.boxes "$(qv_winpath "$work/room.qvp")"
# MIDI Settings lists the devices: under Wine here there are none.
qvd post-command "$FRAME" 32820 >/dev/null
if MIDIDLG=$(qv_wait_window '#32770' 'MIDI Settings' 10); then
  check_eq "No MIDI input device is present." "$(qvd text "$MIDIDLG" 1151 | head -1 | cut -f2-)" "MIDI Settings says no device is present"
  qvd press "$MIDIDLG" 2 >/dev/null
  qvd wait-gone "$MIDIDLG" 10 >/dev/null
else
  qv_fail "MIDI Settings opened"
fi
# Tap tempo: five taps, the tempo of their mean interval.
first_tap=$(qv_epoch)
for _ in 1 2 3 4; do qvd post-command "$FRAME" 32826 >/dev/null; sleep 0.3; done
qvd post-command "$FRAME" 32826 >/dev/null
tapped=$(echo "scale=3; 4 * 60 / ($(qv_epoch) - $first_tap)" | bc)
# shellcheck disable=SC2086
learn $OUTPUT_KNOB "the Output knob" B00740
midi B0077F
learn "$(bypass_x)" "$(row_y 0)" "slot 1's bypass" 903C64
midi 903C64 803C00
qv_shot stage_learnt
save_as "$work/learnt.qvp" "bindings"
close_stage "learning"
check_eq "4.000" "$(stored_gain)" "control change 7 at 127 turned the Output knob fully up"
tempo=$(stored_float 16)
if awk -v t="$tempo" -v e="$tapped" 'BEGIN { exit !(t >= 0.7 * e && t <= 1.45 * e) }'; then
  qv_pass "five taps set the tempo of their intervals (about $tapped, got $tempo)"
else
  qv_fail "five taps set the tempo of their intervals (about $tapped, got $tempo)"
fi
check_eq "00 " "$(slot_bytes "$work/learnt.qvp")" "note 60 bypassed the reverb in slot 1"
if grep -q "Quorvane Live MIDI" "$work/learnt.qvp" && grep -q QVMIDI "$work/learnt.qvp"; then
  qv_pass "the bindings are saved in the performance"
else
  qv_fail "the bindings are saved in the performance"
fi

start_stage stage_reopen.boxes "$(qv_winpath "$work/learnt.qvp")"
midi 903C7F B00700
save_as "$work/again.qvp" "after reopening"
close_stage "reopened"
check_eq "0.000" "$(stored_gain)" "after reopening, control change 7 at 0 turned the Output knob down"
check_eq "80 " "$(slot_bytes "$work/again.qvp")" "after reopening, note 60 made the reverb active again"
check_eq 1 "$(grep -c . "$QV_WATCH_LOG")" "no message but the configuration question"

# ---- damaged bindings and a damaged set list -------------------------------------

python3 - "$work/learnt.qvp" "$work/damaged.qvp" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.index(b'QVMIDI')
data[at + 10] = 99  # the first binding's target
open(sys.argv[2], 'wb').write(data)
EOF
{
  printf 'room.qvp\r\n'
  head -c 400 /dev/zero | tr '\0' 'x'
  printf '\r\n'
} >"$work/damaged.qvs"
start_stage stage_damaged.boxes "$(qv_winpath "$work/damaged.qvp")"
qvd post-command "$FRAME" 32821 >/dev/null
qvd file-dialog "Open Set List" "$(qv_winpath "$work/damaged.qvs")" 20 >/dev/null
sleep 1
save_as "$work/damaged_saved.qvp" "a performance with damaged bindings"
close_stage "damaged files"
check_eq "00 " "$(slot_bytes "$work/damaged_saved.qvp")" "the performance with damaged bindings opened with its chain"
check_eq 1 "$(grep -c "MIDI bindings of this performance are damaged" "$QV_WATCH_LOG")" "one message for the damaged bindings"
check_eq 1 "$(grep -c "set list is damaged" "$QV_WATCH_LOG")" "one message for the damaged set list"
check_eq 3 "$(grep -c . "$QV_WATCH_LOG")" "exactly those two messages after the configuration question"

# ---- a set list switched by program changes during a take ------------------------

bar_title() {
  local bar
  bar=$(qvd children "$FRAME" | grep -P '\t1111\t' | head -1)
  printf '%s\n' "${bar##*$'\t'}"
}

asio_server=$(qv_test_asio_server)
driver_name=$QV_TEST_ASIO_NAME
asio_cleanup() { qv_test_asio_remove QvStageDriver; }
qv_test_asio_register QvStageDriver
qv_reg_add "$QV_KEY" AsioDevice REG_SZ "$driver_name"
qv_reg_add "$QV_KEY" st001 REG_BINARY 0128050202  # ASIO, 40 ms, format 5, 2 buffers, 2 ms
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
qv_reg_add "$QV_KEY" st003 REG_BINARY 000000057800  # the processed output, to a file

# The dry song has a backing track of its own: both changes replace the
# accompaniment under the running stream.
python3 -c "import sys, wave; w = wave.open(sys.argv[1], 'wb'); w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000); w.writeframes(bytes(4 * 48000))" "$work/backing.wav"
python3 -c "import struct, sys; p = sys.argv[1].encode() + b'\0'; open(sys.argv[2], 'wb').write(b'PERF' + struct.pack('<f', 121.0) + b'ACCOMP' + struct.pack('<H', len(p)) + p)" \
  "$(qv_winpath "$work/backing.wav")" "$work/dry.qvp"
printf '# tonight\r\nroom.qvp\r\ndry.qvp\r\nroom.qvp\r\n' >"$work/tonight.qvs"
take="$work/take.wav"

qv_watch_start stage_setlist.boxes "Configure Audio Settings=NO" "Record=YES" "*=OK"
QV_TEST_MIDI=1 QV_APP_LIMIT=150 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 1
qvd post-command "$FRAME" 32821 >/dev/null
qvd file-dialog "Open Set List" "$(qv_winpath "$work/tonight.qvs")" 20 >/dev/null
sleep 1
qv_shot stage_setlist
qvd post-command "$FRAME" 32794 >/dev/null
REC=$(qv_wait_window '#32770' 'Recording:' 20)
qvd post-command "$REC" 1106 >/dev/null
qvd file-dialog "Wave File To Record" "$(qv_winpath "$take")" 20 >/dev/null
sleep 0.5
qvd post-command "$REC" 1109 >/dev/null
started=$(qv_epoch)
sleep 4
midi C001  # song 2: dry
switched=$(qv_epoch)
sleep 1
song2_backing=$(bar_title)
sleep 5.5
midi C002  # song 3: the reverb again
switched_again=$(qv_epoch)
sleep 1
song3_backing=$(bar_title)
sleep 2
qvd post-command "$REC" 1109 >/dev/null
sleep 1
qvd post-command "$REC" 1102 >/dev/null
qvd wait-gone "$REC" 10 >/dev/null
title=$(qvd title "$FRAME" | cut -f2-)
qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "set list: exit code"
qv_stop
asio_cleanup
check_eq "Quorvane Live 1.21 (room)" "$title" "program change 2 opened the third song"
check_eq 0 "$(grep -c . "$QV_WATCH_LOG")" "no message during the set"
check_eq "backing" "$song2_backing" "song 2's backing track came with it"
check_eq "<no accompaniment>" "$song3_backing" "song 3 has none again"

# Where the switches lie in the take, from the clock; the analysis looks
# well inside what that uncertainty allows.
at1=$(echo "$switched - $started" | bc)
at2=$(echo "$switched_again - $started" | bc)
read -r gaps_line < <(python3 "$qv_root/tests/e2e/gaps.py" "$take" --from 0.5 --to "$(echo "$at2 + 2.5" | bc)" --window-ms 5 --threshold 0.01)
echo "set list take: switches at about $at1 s and $at2 s; $gaps_line"
check_contains "$gaps_line" " gaps 0 " "the take has no silent gap across both song changes"
# The tone is 0.97 sin(0.01 n) at the driver's 48 kHz (the take is written
# at its format's rate); the dry song gives it back at the master gain.
# The switch is found in the take where the tone's fitted sine becomes the
# dry song's; what does not fit that sine just after it is what the reverb
# adds, its tail (without it, no more than the 5.5 s figure: the dry chain
# and the recorder's rate conversion), and 5.5 s later nothing is left of it.
python3 - "$take" "$at1" <<'PY' >"$work/tail.txt"
import math, sys, wave
w = wave.open(sys.argv[1])
rate, width, channels = w.getframerate(), w.getsampwidth(), w.getnchannels()
raw = w.readframes(w.getnframes())
def left(i):
    o = i * width * channels
    b = raw[o:o + width]
    v = int.from_bytes(b + (b'\xff' if b[-1] & 0x80 else b'\x00') * (4 - width), 'little', signed=True)
    return v / float(1 << (8 * width - 1))
at = float(sys.argv[2])
omega = 0.01 * 48000.0 / rate
def fit(t0, t1):
    a = b = c = d = e = 0.0
    for n in range(int(t0 * rate), int(t1 * rate)):
        s, co, x = math.sin(omega * n), math.cos(omega * n), left(n)
        a += s * s; b += s * co; c += co * co; d += x * s; e += x * co
    det = a * c - b * b
    return ((d * c - e * b) / det, (a * e - b * d) / det)
def residual(t0, t1, p, q):
    acc = 0.0
    n0, n1 = int(t0 * rate), int(t1 * rate)
    for n in range(n0, n1):
        r = left(n) - p * math.sin(omega * n) - q * math.cos(omega * n)
        acc += r * r
    return math.sqrt(acc / (n1 - n0))
# The dry song alone, well after the tail: the tone as the dry chain gives it.
p, q = fit(at + 5.5, at + 6.3)
# Song 1's tone through the reverb, well before the switch.
p1, q1 = fit(at - 1.5, at - 0.5)
far = math.hypot(p1 - p, q1 - q)
# The switch: the first 20 ms window, from 1 s before the clock's estimate,
# whose sine is the dry song's (the tail's free ringing is not at the tone's
# frequency, so it hardly moves the fitted sine).
switch = None
t = at - 1.0
while t < at + 1.0:
    a, b = fit(t, t + 0.02)
    if math.hypot(a - p, b - q) < 0.2 * far:
        switch = t
        break
    t += 0.01
if switch is None:
    print("none 0 0 %.4f" % far)
else:
    print("%.3f %.4f %.4f %.4f" % (switch - at, residual(switch + 0.05, switch + 0.25, p, q),
                                   residual(at + 5.5, at + 6.3, p, q), far))
PY
read -r switch_at tail_rms dry_rms reverb <"$work/tail.txt"
echo "set list take: switch found ${switch_at} s from the clock's estimate; residual beside the dry tone 50-250 ms after it $tail_rms, 5.5 s later $dry_rms (song 1's reverb moved the tone by $reverb)"
if [ "$switch_at" != none ] && awk -v t="$tail_rms" -v d="$dry_rms" 'BEGIN { exit !(t > 0.004 && t > 4 * d) }'; then
  qv_pass "song 1's reverb rang on after the switch to the dry song 2, and was gone 5 s later"
else
  qv_fail "song 1's reverb rang on after the switch to the dry song 2 (switch $switch_at, residual $tail_rms, then $dry_rms)"
fi
