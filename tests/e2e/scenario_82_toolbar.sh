# The toolbar under a real mouse (xdotool on the scenario's display): a
# hovered button lights up and its tooltip names it, a click sends the
# button's command, and a press dragged off the button before the release
# sends nothing. The frame is placed by the settings so that the buttons'
# screen positions are known.
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
button_x() { echo $((origin_x + $(sed -n "$(($1 + 1))p" <<<$'35\n86\n137\n188\n269\n320\n371\n452'))); }
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
# Off the toolbar: the next tick of the hover timer returns the button to normal.
mouse mousemove 640 600
sleep 1
qv_shot toolbar_left

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
qv_reg_delete_key "$QV_KEY"
