# The built-in effects' editors in the real program: the four effects are
# attached to slots 1-4 through the chain pane's pop-up menu, each editor is
# opened with the menu's "Show &Editor", one trackbar of each is moved as a
# released thumb tells its dialog, and the performance is saved. Reopened,
# every editor shows the moved positions. An echo preset saved from the
# editor frame's command 102 ("&Save Preset") is loaded in a second run
# through 101 ("&Load Preset") and the echo's state bytes come back equal.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
source "$qv_root/tests/e2e/chainpane.sh"
qv_chain_layout
work="$QV_E2E_DIR/editors"
rm -rf "$work"
mkdir -p "$work"

# editor_of TITLE: the editor frame of that effect and its dialog, "FRAME
# DIALOG", waiting up to 10 s for them to show.
editor_of() {
  local kids frame dialog
  for _ in $(seq 40); do
    kids=$(qvd children "$FRAME")
    frame=$(awk -F'\t' -v t="$1" '$2 == "Default_Wrapper_Editor" && $5 == t {print $1; exit}' <<<"$kids")
    [ -n "$frame" ] && dialog=$(qvd children "$frame" | awk -F'\t' '$2 == "#32770" {print $1; exit}')
    if [ -n "$frame" ] && [ -n "$dialog" ]; then
      echo "$frame $dialog"
      return 0
    fi
    sleep 0.25
  done
  return 1
}
close_editor() {
  qvd close "$1" >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$1" 5 >/dev/null || qv_fail "editor frame $1 did not close"
}
# state_of FILE MODULE: the hex of MODULE's effect state in the performance FILE.
state_of() { python3 "$qv_root/tests/e2e/perfdump.py" "$1" | awk -F'\t' -v m="$2" '$1 == "DEFWRAP_" && $2 == m { print $3 }'; }

# effect, trackbar id, position to move it to.
MOVES="reverb 1019 640
flanger 1010 250
chorus 1008 900
echo 1004 700"

start_program() {
  qv_watch_start "$1" "Configure Audio Settings=NO" "text:*Performance was changed*=NO" "*=OK"
  qv_start "${@:2}"
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
  qvd post-command "$FRAME" 32800 >/dev/null
  qv_wait_window - "Master Section" 10 >/dev/null
  sleep 0.5
}
stop_program() {
  qvd close "$FRAME" >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$1: exit code"
  qv_stop
}

# ---- run 1: attach, open, move, save
start_program editors.boxes
row=0
while read -r fx id pos; do
  menu_command "$row" s "attach $fx" && choose "Quorvane Plugins/$fx" "attach $fx"
  menu_command "$row" e "show $fx's editor"
  if ed=$(editor_of "$fx"); then
    dialog=${ed#* }
    check_eq "$pos" "$(qvd trackbar "$dialog" "$id" "$pos" | cut -f1)" "$fx: trackbar $id moved"
    qv_shot "editor_$fx"
    # The frame covers the pane; echo's stays open for its preset.
    [ "$fx" = echo ] || close_editor "${ed% *}"
  else
    qv_fail "$fx: no editor frame with its dialog"
  fi
  row=$((row + 1))
done <<<"$MOVES"
save_as "$work/moved.qvp" moved
ed=$(editor_of echo) && qvd post-command "${ed% *}" 102 >/dev/null
check_ok "the preset is saved through its dialog" qvd file-dialog "Save Preset" "$(qv_winpath "$work/echo.pst")" 20
for _ in $(seq 50); do [ -s "$work/echo.pst" ] && break; sleep 0.1; done
check_eq "$(state_of "$work/moved.qvp" echo.dll)" "$(xxd -p "$work/echo.pst" | tr -d '\n')" \
  "the preset file is the echo's state"
stop_program "run 1"

# ---- run 2: the saved performance shows the moved positions
start_program editors2.boxes "$(qv_winpath "$work/moved.qvp")"
row=0
while read -r fx id pos; do
  menu_command "$row" e "show $fx's editor again"
  if ed=$(editor_of "$fx"); then
    check_eq "$pos" "$(qvd trackbar "${ed#* }" "$id" | cut -f1)" "$fx: trackbar $id as saved"
    close_editor "${ed% *}"
  else
    qv_fail "$fx: no editor after reopening"
  fi
  row=$((row + 1))
done <<<"$MOVES"
stop_program "run 2"

# ---- run 3: a fresh echo loads the preset and carries the same state
start_program editors3.boxes
menu_command 0 s "attach echo" && choose "Quorvane Plugins/echo" "attach echo"
menu_command 0 e "show echo's editor"
if ed=$(editor_of echo); then
  qvd post-command "${ed% *}" 101 >/dev/null
  check_ok "the preset is loaded through its dialog" qvd file-dialog "Load Preset" "$(qv_winpath "$work/echo.pst")" 20
  sleep 0.5
  check_eq 700 "$(qvd trackbar "${ed#* }" 1004 | cut -f1)" "the loaded preset shows on the editor"
  qv_shot editor_echo_preset
fi
save_as "$work/preset.qvp" preset
check_eq "$(xxd -p "$work/echo.pst" | tr -d '\n')" "$(state_of "$work/preset.qvp" echo.dll)" \
  "the loaded preset gives the same state bytes"
stop_program "run 3"
check_eq 0 "$(cat "$QV_E2E_DIR"/editors*.boxes | grep -v -e '^Configure Audio Settings' -e 'Performance was changed' | grep -c .)" \
  "no other box than the start-up question and the save question"
qv_reg_delete_key "$QV_KEY"
