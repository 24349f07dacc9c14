# The VST wrapper's editors in the real program, with the real mouse: two
# test VST effects from a VST folder of their own are attached to slots 1
# and 2 from the chain pane; slot 1's effect has no editor of its own, so
# its frame holds the generic editor: the program button's menu chooses
# "Bright" (which sets the first parameter to 0.625) and a drag of 20
# pixels moves the second from 0.5 to 0.7. Slot 2's effect shows its own
# editor window in the frame. The saved performance holds those values and
# reopens to the same bytes.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
source "$qv_root/tests/e2e/chainpane.sh"
qv_chain_layout
work="$QV_E2E_DIR/vsteditor"
rm -rf "$work"
mkdir -p "$work/vst"
modules="$(dirname "$QV_STAGE")/testmodules"
cp "$modules/tvst_stereo.dll" "$work/vst/stereo.dll"
cp "$modules/tvst_editor.dll" "$work/vst/editor.dll"
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$work/vst")\\"

# vst_params FILE: each VST instance of the performance as "title v0 v1 ...",
# the values rounded to three places.
vst_params() {
  python3 "$qv_root/tests/e2e/perfdump.py" "$1" |
    awk -F'\t' '$1 == "VSTWRAP_" { n = split($2, p, "\\"); sub(/\.[^.]*$/, "", p[n]); print p[n], $5 }'
}

# wait_child CLASS TITLE: the frame's visible descendant of that class and
# title (the editors are MDI children, not top-level windows).
wait_child() {
  local h
  for _ in $(seq 100); do
    h=$(qvd children "$FRAME" | awk -F'\t' -v c="$1" -v t="$2" '$2 == c && $4 == "visible" && $5 == t { print $1; exit }')
    [ -n "$h" ] && { echo "$h"; return 0; }
    sleep 0.1
  done
  return 1
}

# client_origin HWND CLASS: the screen position of the first descendant of that class.
client_origin() { qvd rects "$1" | awk -F'\t' -v c="$2" '$2 == c { split($6, r, " "); print r[1], r[2]; exit }'; }

qv_watch_start vsteditor.boxes "Configure Audio Settings=NO" "text:*Performance was changed*=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
qvd post-command "$FRAME" 32800 >/dev/null
qv_wait_window - "Master Section" 10 >/dev/null
sleep 0.5

menu_command 0 s "attach stereo" && choose "VST Plugins/stereo" "attach stereo"
menu_command 1 s "attach editor" && choose "VST Plugins/editor" "attach editor"

# ---- the generic editor of slot 1
menu_command 0 e "show the generic editor"
if GENERIC=$(wait_child VST_Wrapper_Editor stereo); then
  qv_pass "the pane's Show Editor opens the frame titled with the effect's name"
  read -r gx gy <<<"$(client_origin "$GENERIC" VST_Default_Editor)"
  check_eq "360 121" "$(qvd client "$(qvd children "$GENERIC" | awk -F'\t' '$2 == "VST_Default_Editor" {print $1; exit}')")" \
    "the generic editor is 360 wide and 17 per parameter + 70 high"
  # The program button in the strip left of the editor: "Bright" is the
  # fourth item below the current program's.
  click $((gx - 15 + 6)) $((gy + 8))
  if qv_wait_window "#32768" - 5 >/dev/null; then
    xdotool key Down Down Down Down Return
    sleep 0.5
  else
    qv_fail "the program button opened no menu"
  fi
  # Drag the second parameter's bar 20 pixels to the right.
  xdotool mousemove $((gx + 290)) $((gy + 30 + 17 + 8)) sleep 0.3 mousedown 1 sleep 0.3
  for _ in 1 2 3 4; do xdotool mousemove_relative 5 0 sleep 0.15; done
  xdotool mouseup 1
  sleep 0.5
  qv_shot vst_generic_editor
  # The frame lies over the chain pane: closed, it leaves the pane free.
  qvd close "$GENERIC" >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$GENERIC" 5 >/dev/null || qv_fail "the generic editor's frame does not close"
else
  qv_fail "Show Editor opened no frame for the generic editor"
fi

# ---- the effect's own editor in slot 2
menu_command 1 e "show the own editor"
if OWN=$(wait_child VST_Wrapper_Editor editor); then
  check_contains "$(qvd children "$OWN" | cut -f2 | tr '\n' ' ')" "Static" "the effect's own window sits in the frame"
  check_eq "300 120" "$(qvd client "$(qvd children "$OWN" | awk -F'\t' '$2 == "VST_Default_Editor" {print $1; exit}')")" \
    "the client takes the effect's rectangle"
  qv_shot vst_own_editor
else
  qv_fail "Show Editor opened no frame for the effect's own editor"
fi

save_as "$work/edited.qvp" edited
check_eq "stereo 0.625 0.700 0.750|editor 0.250 0.500 0.750|" "$(vst_params "$work/edited.qvp" | tr '\n' '|')" \
  "the program menu's Bright and the drag are in the saved performance"

# ---- reopen: the same values, saved to the same bytes
qvd post-command "$FRAME" 32774 >/dev/null
check_ok "reopen: the dialog takes the path" qvd file-dialog "Open Performance File" "$(qv_winpath "$work/edited.qvp")" 20
sleep 1
save_as "$work/reopened.qvp" reopened
check_eq "stereo 0.625 0.700 0.750|editor 0.250 0.500 0.750|" "$(vst_params "$work/reopened.qvp" | tr '\n' '|')" \
  "the reopened performance has the same values"
check_ok "a reopened performance saves to the same bytes" cmp -s "$work/edited.qvp" "$work/reopened.qvp"

qvd close "$FRAME" >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code"
qv_stop
check_eq 0 "$(grep -v -e '^Configure Audio Settings' -e 'Performance was changed' "$QV_WATCH_LOG" | grep -c .)" \
  "no other box than the questions"
qv_reg_delete_key "$QV_KEY"
