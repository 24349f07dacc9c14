# The toolbar under a real mouse (xdotool on the scenario's display): a
# hovered button lights up and its tooltip names it, a click sends the
# button's command, and a press dragged off the button before the release
# sends nothing; the three stage buttons after the last gap show their
# pictures and tooltips. The frame is placed by the settings so that the
# buttons' screen positions are known. A second run without a stored
# placement shows that the default frame holds all eleven buttons.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
# Normal, left 100, right 900, top 50, bottom 630.
qv_reg_add "$QV_KEY" ww001 REG_BINARY 0100000064000000840300003200000076020000

qv_watch_start toolbar.boxes "Configure Audio Settings=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
sleep 1

# The toolbar's client origin on the screen: the frame's outer top-left plus
# its sizing border, caption and menu bar. Buttons are 41 pixels high, so
# an estimate a few pixels off still lands inside them.
origin_x=$((100 + ${QV_TOOLBAR_DX:-4}))
origin_y=$((50 + ${QV_TOOLBAR_DY:-42}))
button_x() { echo $((origin_x + $(sed -n "$(($1 + 1))p" <<<$'35\n86\n137\n188\n269\n320\n371\n452\n533\n584\n635'))); }
button_y=$((origin_y + 26))

mouse() { timeout 10 xdotool "$@" >/dev/null 2>&1; }
# A few steps, as a hand moves, so that the tooltip control sees the mouse rest.
hover() {
  mouse mousemove "$(($1 - 6))" "$(($2 - 4))"
  sleep 0.2
  mouse mousemove "$1" "$2"
  sleep 0.2
  mouse mousemove "$(($1 + 1))" "$2"
}
metronome() { qvd menu "$FRAME" | grep -P '\t32813\t' | cut -f3; }

# The visible tooltip's text, as the tooltip window answers WM_GETTEXT.
tip_text() { QV_DRIVE_LIMIT=30 qvd tooltip 5 | head -1; }

# ---- hover: the hot picture (screenshot) and the tooltip's text
hover "$(button_x 1)" "$button_y"
sleep 1.5
qv_shot toolbar_hot_open
check_eq "Open Performance" "$(tip_text)" "hover: the tooltip names the Open Performance button"
hover "$(button_x 7)" "$button_y"
sleep 1.5
check_eq "Master Section" "$(tip_text)" "hover: the tooltip names the Master Section button, after both gaps"
# The stage buttons after the third gap: Previous Song, Next Song, Tap Tempo.
stage_tips=("Previous Song" "Next Song" "Tap Tempo")
for i in 8 9 10; do
  hover "$(button_x $i)" "$button_y"
  sleep 1.5
  [ $i -eq 10 ] && qv_shot toolbar_hot_tap
  check_eq "${stage_tips[$((i - 8))]}" "$(tip_text)" "hover: the tooltip names the ${stage_tips[$((i - 8))]} button"
done
# Off the toolbar: the next tick of the hover timer returns the button to normal.
mouse mousemove 640 600
sleep 1
qv_shot toolbar_left

# ---- the stage buttons' pictures, in the normal state: points inside each
# glyph (the skip marks blue, the tapping finger warm over its dark pad), so
# a picture list one short or a picture drawn in the wrong place shows as
# the plain face. Read from the X screen: the program's window contents are
# not readable through another Wine process's GetPixel here.
TOOLBAR=$(qvd rects "$FRAME" | grep -P '\tQuorvane_Toolbar_Class\t' | cut -f1 | head -1)
read -r tb_left tb_top _ <<<"$(qvd rects "$TOOLBAR" | head -1 | cut -f6)"
# screen_colour X Y: RRGGBB of toolbar client point X, Y.
grab="$QV_E2E_DIR/toolbar_grab.png"
timeout 20 import -display "$DISPLAY" -window root "$grab" >/dev/null 2>&1
screen_colour() { convert "$grab" -format "%[hex:p{$((tb_left + $1)),$((tb_top + $2))}]" info: 2>/dev/null; }
hex_ok() { [[ "$1" =~ ^[0-9A-Fa-f]{6}$ ]]; }
bluish() { hex_ok "$1" && [ $((16#${1:4:2} - 16#${1:0:2})) -gt 30 ]; }
warm() { hex_ok "$1" && [ $((16#${1:0:2} - 16#${1:4:2})) -gt 15 ]; }
dark() { hex_ok "$1" && [ $((16#${1:0:2})) -lt 100 ] && [ $((16#${1:4:2})) -lt 100 ]; }
prev_c=$(screen_colour 522 27) next_c=$(screen_colour 594 27)
finger_c=$(screen_colour 629 22) pad_c=$(screen_colour 641 38)
rm -f "$grab"
if bluish "$prev_c" && bluish "$next_c"; then
  qv_pass "pictures: the Previous Song and Next Song buttons show their skip marks"
else
  qv_fail "pictures: the Previous Song and Next Song buttons show their skip marks ($prev_c $next_c)"
fi
if warm "$finger_c" && dark "$pad_c"; then
  qv_pass "pictures: the Tap Tempo button shows its finger and pad"
else
  qv_fail "pictures: the Tap Tempo button shows its finger and pad ($finger_c $pad_c)"
fi

# ---- a click on Open Performance opens its file dialog
hover "$(button_x 1)" "$button_y"
mouse click 1
DIALOG=$(qv_wait_window "#32770" "Open Performance File" 10)
if [ -n "$DIALOG" ]; then
  qv_pass "click: the Open Performance button opens the Open Performance File dialog"
  qvd close "$DIALOG" >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$DIALOG" 10 >/dev/null
else
  qv_fail "click: the Open Performance button opens the Open Performance File dialog"
fi
sleep 0.5

# ---- a click on the metronome button checks its menu item
before=$(metronome)
hover "$(button_x 5)" "$button_y"
mouse click 1
sleep 0.7
check_eq "enabled" "$before" "click: the metronome starts off"
check_contains "$(metronome)" checked "click: the metronome button checks Enable Metronome"

# ---- press, drag off, release: nothing happens
hover "$(button_x 5)" "$button_y"
mouse mousedown 1
sleep 0.3
qv_shot toolbar_pressed
mouse mousemove "$(($(button_x 5) + 4))" "$((button_y + 2))"
sleep 0.2
mouse mousemove "$((origin_x + 230))" "$button_y"   # the gap after Record
sleep 0.3
mouse mouseup 1
sleep 0.7
check_contains "$(metronome)" checked "drag off: the metronome stays on when released in the gap"

hover "$(button_x 1)" "$button_y"
mouse mousedown 1
sleep 0.3
mouse mousemove "$(button_x 1)" "$((button_y + 200))"   # down into the work area
sleep 0.3
mouse mouseup 1
sleep 1.5
if QV_DRIVE_LIMIT=15 qvd wait-window "#32770" "Open Performance File" 1 >/dev/null; then
  qv_fail "drag off: no Open Performance File dialog after a release off the button"
  qvd close "$(qv_wait_window "#32770" "Open Performance File" 1)" >/dev/null
else
  qv_pass "drag off: no Open Performance File dialog after a release off the button"
fi

# The bar still works after all that: the metronome button turns it off again.
hover "$(button_x 5)" "$button_y"
mouse click 1
sleep 0.7
check_eq "enabled" "$(metronome)" "click again: the metronome button turns it off"

qvd close "$FRAME" >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "the program ends cleanly"
qv_stop
check_eq 1 "$(grep -c . "$QV_WATCH_LOG")" "no box but the configuration question"

# ---- without a stored placement the frame opens at its default size, and
# its toolbar is wide enough for the last button and the margin after it.
qv_reg_delete_value "$QV_KEY" ww001
qv_watch_start toolbar_default.boxes "Configure Audio Settings=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
sleep 1
TOOLBAR=$(qvd rects "$FRAME" | grep -P '\tQuorvane_Toolbar_Class\t' | cut -f1 | head -1)
width=$(qvd client "$TOOLBAR" | cut -d' ' -f1)
qv_shot toolbar_default
if [ -n "$width" ] && [ "$width" -ge 670 ]; then
  qv_pass "default frame: the toolbar is $width pixels wide, all eleven buttons show"
else
  qv_fail "default frame: the toolbar is ${width:-?} pixels wide, less than the 670 its buttons need"
fi
qvd close "$FRAME" >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "the program ends cleanly after the default-size run"
qv_stop
qv_reg_delete_key "$QV_KEY"
