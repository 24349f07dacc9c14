# The chain pane driven with the real mouse, for the scenarios that build
# chains (81, 83, 84). Sourced after lib.sh; FRAME is the main window.
# shellcheck shell=bash

# The frame at (100, 50)-(900, 630) and the Master Section at the MDI
# client's corner, so the pane has a known place on the virtual desktop.
qv_chain_layout() {
  qv_reg_add "$QV_KEY" ww001 REG_BINARY 0100000064000000840300003200000076020000
  qv_reg_add "$QV_KEY" ww002 REG_BINARY 00000000000000000028000000640000003c000000aa000000
}

# The pane's client origin on the desktop for that placement under Wine 8's
# default metrics (frame border and caption, menu bar, the 54-pixel toolbar,
# the Master Section's border and caption). Every click below waits for
# what it must open (the pop-up menu, the dialog), so a pane found elsewhere
# fails at its first click, not silently.
PANE_X=110
PANE_Y=171

# Client points of the pane's zones (row r's band is y = 28 r + 10 ... + 37).
row_y() { echo $((PANE_Y + 28 * $1 + 24)); }
menu_x() { echo $((PANE_X + 18)); }
name_x() { echo $((PANE_X + 120)); }
bypass_x() { echo $((PANE_X + 250)); }

# click X Y [BUTTON] [REPEAT]: a real click on the virtual desktop.
click() {
  xdotool mousemove "$1" "$2" sleep 0.2 click --repeat "${4:-1}" --delay 60 "${3:-1}"
  sleep 0.3
}

# menu_command ROW KEY WHAT: opens row ROW's pop-up menu with its button and
# picks the item by its mnemonic.
menu_command() {
  click "$(menu_x)" "$(row_y "$1")"
  if ! qv_wait_window "#32768" - 5 >/dev/null; then
    # A click that lands while the frame is still taking back activation
    # from a dialog that just closed can be swallowed on a loaded machine;
    # one more click tells that apart from a pane that is not there.
    echo "$3: no pop-up menu after the first click; clicking again"
    click "$(menu_x)" "$(row_y "$1")"
    if ! qv_wait_window "#32768" - 5 >/dev/null; then
      qv_fail "$3: no pop-up menu at ($(menu_x), $(row_y "$1"))"
      return 1
    fi
  fi
  xdotool key "$2"
  sleep 0.7
}

# choose PATH WHAT: in the open "Select Effect:" dialog, selects PATH
# ("Wrapper/Plug-in") and confirms with OK; the whole tree is left in TREE.
choose() {
  local dialog
  dialog=$(qv_wait_window "#32770" "Select Effect:" 10) || { qv_fail "$2: no Select Effect dialog"; return 1; }
  TREE=$(qvd tree "$dialog")
  qvd tree "$dialog" "$1" >/dev/null || qv_fail "$2: no item $1 in [$(tr '\n' '|' <<<"$TREE")]"
  qvd post-command "$dialog" 1011 >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null || qv_fail "$2: OK did not close the dialog"
}

# save_as FILE WHAT: Save Performance As through its dialog.
save_as() {
  qvd post-command "$FRAME" 32776 >/dev/null
  check_ok "$2: saved" qvd file-dialog "Save Performance File As..." "$(qv_winpath "$1")" 20
  for _ in $(seq 50); do [ -s "$1" ] && break; sleep 0.1; done
}
