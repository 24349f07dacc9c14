# The Master Section: opened by its command, its five knobs turned by real
# mouse drags (plain, Shift, Ctrl, past both limits), the DC remover switch
# clicked; the engine values land in st002 at exit. Its position survives
# three runs: the open flag reopens it at start-up where it was, a window
# moved by its caption comes back there without creeping, and a closed
# window opens again with the command.
# shellcheck shell=bash

# rect_of CLASS ID: "left top right bottom" of the frame's descendant. A
# driver run that Wine fails to start now and then prints nothing, so an
# empty answer is asked again before it counts.
rect_of() {
  local r
  for _ in 1 2 3; do
    r=$(qvd rects "$FRAME" | awk -F'\t' -v c="$1" -v i="$2" '$2 == c && $3 == i { print $6; exit }')
    [ -n "$r" ] && break
    sleep 0.5
  done
  printf '%s\n' "$r"
}

# drag CLASS ID DY [KEY]: presses the left button in the middle of the
# window, moves the mouse by DY pixels (one motion, so the knob sees one
# step of exactly DY) with KEY (shift, ctrl) held, and releases.
drag() {
  local r x y
  r=$(rect_of "$1" "$2")
  if [ -z "$r" ]; then
    qv_fail "no window $1 $2 to drag"
    return 1
  fi
  read -r x0 y0 x1 y1 <<<"$r"
  x=$(((x0 + x1) / 2)) y=$(((y0 + y1) / 2))
  timeout 10 xdotool mousemove "$x" "$y"
  sleep 0.3
  [ -n "${4:-}" ] && timeout 10 xdotool keydown "$4"
  timeout 10 xdotool mousedown 1
  sleep 0.3
  timeout 10 xdotool mousemove_relative -- 0 "$3"
  sleep 0.3
  timeout 10 xdotool mouseup 1
  [ -n "${4:-}" ] && timeout 10 xdotool keyup "$4"
  sleep 0.3
}

# Several steps of DY each, for the drags that run into a limit.
drag_far() {
  local n
  for n in $(seq "$4"); do drag "$1" "$2" "$3" "${5:-}"; done
}

click_switch() {
  local r
  r=$(rect_of Quorvane_Gate_Class 0)
  read -r x0 y0 _ _ <<<"$r"
  timeout 10 xdotool mousemove $((x0 + 50)) $((y0 + 215)) click 1
  sleep 0.4
}

# float32 as the registry prints it (little-endian hex).
f32() { python3 -c 'import struct,sys; print(struct.pack("<f", float(sys.argv[1])).hex())' "$1"; }

# master_window: the Master Section's handle once it shows (an MDI child:
# found among the frame's descendants, by its class and title).
master_window() {
  local line
  for _ in $(seq 50); do
    line=$(qvd children "$FRAME" | grep -P '\tQuorvane_MDIClient_Class\t.*\tMaster Section$' | head -1)
    [ -n "$line" ] && break
    sleep 0.2
  done
  printf '%s\n' "${line%%$'\t'*}"
}

start_run() {
  qv_watch_start "master_$1.boxes" "Configure Audio Settings=NO" "*=OK"
  qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  [ -n "$FRAME" ] || { qv_fail "$1: no frame"; return 1; }
  for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
}

end_run() {
  qvd post-command "$FRAME" 105 >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$1: exit code"
  qv_stop
  check_eq 1 "$(grep -c . "$QV_WATCH_LOG")" "$1: no box but the configuration question"
}

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
# Gains 1.0, threshold 0.0039, attack 5, release 100, 120 bpm, metronome off, DC remover on.
qv_reg_add "$QV_KEY" st002 REG_BINARY "0000803f0000803f$(f32 0.0039)050064000000f0420001"
# The frame at (0, 0), 1000 x 760; the Master Section at (30, 20), closed.
qv_reg_add "$QV_KEY" ww001 REG_BINARY 0100000000000000e803000000000000f8020000
qv_reg_add "$QV_KEY" ww002 REG_BINARY 1e0000001400000000280000006400000028000000aa000000

# ---- run 1: the command opens it; exact drag steps; the switch twice
start_run opened || { qv_stop; return 1; }
check_eq "" "$(qvd children "$FRAME" | grep -P '\tQuorvane_MDIClient_Class\t' | head -1)" "opened: closed at start"
qvd post-command "$FRAME" 32800 >/dev/null
MASTER=$(master_window)
check_ok "opened: Ctrl+F's command opens \"Master Section\"" test -n "$MASTER"
kids=$(qvd children "$MASTER")
check_eq 5 "$(grep -cP '\tAUDIO_KNOBCLASS\t(116|117|118|119|120)\tvisible' <<<"$kids")" "opened: five visible knobs"
check_contains "$kids" $'\tQuorvane_FX_Class\t' "opened: the chain pane"
check_contains "$kids" $'\tQuorvane_Gate_Class\t' "opened: the gate pane"
gate=$(rect_of Quorvane_Gate_Class 0)
chain=$(rect_of Quorvane_FX_Class 0)
read -r gx0 gy0 gx1 gy1 <<<"$gate"
read -r cx0 cy0 cx1 cy1 <<<"$chain"
check_eq "291x235 228x235 $((cx0 + 291)) $cy0" "$((cx1 - cx0))x$((cy1 - cy0)) $((gx1 - gx0))x$((gy1 - gy0)) $gx0 $gy0" \
  "opened: the panes side by side at their sizes"
knob=$(rect_of AUDIO_KNOBCLASS 116)
read -r kx0 ky0 kx1 ky1 <<<"$knob"
check_eq "24 170 20 20" "$((kx0 - gx0)) $((ky0 - gy0)) $((kx1 - kx0)) $((ky1 - ky0))" "opened: the Threshold knob's place"
RUN1_MASTER=$(rect_of Quorvane_MDIClient_Class 1)

drag AUDIO_KNOBCLASS 118 -100            # output 2500 -> 3500
drag AUDIO_KNOBCLASS 119 10 shift        # input 2500 -> 2000
drag AUDIO_KNOBCLASS 120 -100 ctrl       # attack 0 -> 100: 6 ms (plain would be 1000: 24 ms)
drag AUDIO_KNOBCLASS 117 -200            # release 1366 -> 3366: 238 ms
# A purely horizontal movement changes nothing (the attack stays at 6 ms).
r=$(rect_of AUDIO_KNOBCLASS 120)
read -r x0 y0 x1 y1 <<<"$r"
timeout 10 xdotool mousemove $(((x0 + x1) / 2)) $(((y0 + y1) / 2)) mousedown 1
sleep 0.3
timeout 10 xdotool mousemove_relative -- 60 0
sleep 0.3
timeout 10 xdotool mouseup 1
sleep 0.3
drag AUDIO_KNOBCLASS 116 -30 shift       # threshold 156 -> 1656
click_switch
click_switch
qv_shot master_opened
end_run opened
expect="$(f32 1.4)$(f32 0.8)$(f32 0.0414)0600ee000000f0420001"
check_eq "$expect" "$(qv_reg_get "$QV_KEY" st002)" "opened: each drag step set its engine value, the switch is back on"
ww=$(qv_reg_get "$QV_KEY" ww002)
check_eq "1e0000001400000001" "${ww:0:18}" "opened: at (30, 20) and open"

# ---- run 2: reopened at start-up where it was; drags past the limits; the switch once; moved by its caption
start_run limits || { qv_stop; return 1; }
MASTER=$(master_window)
check_ok "limits: the open flag opens it at start-up" test -n "$MASTER"
check_eq "$RUN1_MASTER" "$(rect_of Quorvane_MDIClient_Class 1)" "limits: the same place as in the first run"
drag_far AUDIO_KNOBCLASS 118 -150 3 shift   # far past the maximum: 4.0
drag_far AUDIO_KNOBCLASS 119 150 3 shift    # far past the minimum: 0
drag_far AUDIO_KNOBCLASS 120 -200 3 shift   # 200 ms
drag_far AUDIO_KNOBCLASS 117 200 3          # 5 ms
drag_far AUDIO_KNOBCLASS 116 -200 2 shift   # 0.25
click_switch
qv_shot master_limits
# Moved by its caption: 40 right, 25 down.
read -r mx0 my0 mx1 _ <<<"$(rect_of Quorvane_MDIClient_Class 1)"
timeout 10 xdotool mousemove $(((mx0 + mx1) / 2)) $((my0 + 10)) mousedown 1
sleep 0.3
timeout 10 xdotool mousemove_relative -- 20 10
sleep 0.3
timeout 10 xdotool mousemove_relative -- 20 15
sleep 0.3
timeout 10 xdotool mouseup 1
sleep 0.5
RUN2_MASTER=$(rect_of Quorvane_MDIClient_Class 1)
read -r nx0 ny0 _ _ <<<"$RUN2_MASTER"
check_eq "40 25" "$((nx0 - mx0)) $((ny0 - my0))" "limits: the caption drag moved the window"
end_run limits
check_eq "0000804000000000$(f32 0.25)c80005000000f0420000" "$(qv_reg_get "$QV_KEY" st002)" \
  "limits: the knobs stop at their limits, the switch is off"
ww=$(qv_reg_get "$QV_KEY" ww002)
check_eq "460000002d00000001" "${ww:0:18}" "limits: the moved position (70, 45) is stored, not its client origin"

# ---- run 3: back where it was moved; closed and opened again by the command
start_run third || { qv_stop; return 1; }
MASTER=$(master_window)
check_eq "$RUN2_MASTER" "$(rect_of Quorvane_MDIClient_Class 1)" "third: where the second run left it"
qvd close "$MASTER" >/dev/null
sleep 0.5
check_eq "" "$(rect_of Quorvane_MDIClient_Class 1)" "third: closed"
qvd post-command "$FRAME" 32800 >/dev/null
MASTER=$(master_window)
check_ok "third: the command opens it again after closing" test -n "$MASTER"
check_eq "$RUN2_MASTER" "$(rect_of Quorvane_MDIClient_Class 1)" "third: reopened at the same place"
qv_shot master_third
end_run third
ww=$(qv_reg_get "$QV_KEY" ww002)
check_eq "460000002d00000001" "${ww:0:18}" "third: three runs leave it where it was"

qv_reg_delete_key "$QV_KEY"
