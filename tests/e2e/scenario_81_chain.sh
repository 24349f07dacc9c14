# The effect chain pane with the real mouse: the pop-up menu and a
# double-click attach the default wrapper's reverb to slot 1 and echo to
# slot 6 through "Select Effect:"; echo moves up, is bypassed, reverb is
# detached; editors open from the pane. The pane is painted, not
# made of controls, so the chain is read back from saved performance files:
# each instance's slot byte (bits 0-6 the slot, bit 7 active). A saved
# performance reopens to the same bytes.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
source "$qv_root/tests/e2e/chainpane.sh"
qv_chain_layout
work="$QV_E2E_DIR/chain"
rm -rf "$work"
mkdir -p "$work"

qv_watch_start chain.boxes "Configure Audio Settings=NO" "text:*Performance was changed*=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
qvd post-command "$FRAME" 32800 >/dev/null
MASTER=$(qv_wait_window - "Master Section" 10)
sleep 0.5
check_contains "$(qvd children "$FRAME" | cut -f2)" Quorvane_FX_Class "the Master Section holds the chain pane"

# chain_of FILE: the default wrapper's instances in the performance FILE as
# "module slot-byte" lines (hex byte), in instance order.
chain_of() { python3 "$qv_root/tests/e2e/perfdump.py" "$1" | awk -F'\t' '$1 == "DEFWRAP_" { print $2, $4 }'; }

# ---- attach through the pop-up menu: "&Select" on slot 1
menu_command 0 s "attach reverb" && choose "Quorvane Plugins/reverb" "attach reverb"
printf '%s\n' "$TREE" >"$work/tree.txt"
check_eq "0 Quorvane Plugins" "$(head -1 "$work/tree.txt" | cut -f1,4 | tr '\t' ' ')" \
  "the tree starts with the default wrapper (the empty VST wrapper has no node)"
check_eq "$(cut -f4 "$work/tree.txt" | tail -n +2 | sort -f | tr '\n' ' ')" \
  "$(cut -f4 "$work/tree.txt" | tail -n +2 | tr '\n' ' ')" "the plug-ins are listed sorted"
check_eq 4 "$(awk -F'\t' '$1 == 1' "$work/tree.txt" | wc -l)" "the four effects are listed"
qv_shot chain_reverb

# ---- a wrapper node confirmed attaches nothing (double-click on slot 6's name)
click "$(name_x)" "$(row_y 5)" 1 2
choose "Quorvane Plugins" "a wrapper node"
# ---- then echo into slot 6 by double-click
click "$(name_x)" "$(row_y 5)" 1 2
choose "Quorvane Plugins/echo" "attach echo"
save_as "$work/attached.qvp" attached
check_eq "reverb.dll 80|echo.dll 85|" "$(chain_of "$work/attached.qvp" | tr '\n' '|')" \
  "attached: reverb in slot 1 and echo in slot 6, both active, nothing from the wrapper node"

# ---- move echo up (slot 6 to 5), bypass it with a click in its bypass column
menu_command 5 u "move up"
click "$(bypass_x)" "$(row_y 4)"
qv_shot chain_moved_bypassed
save_as "$work/moved.qvp" moved
check_eq "reverb.dll 80|echo.dll 04|" "$(chain_of "$work/moved.qvp" | tr '\n' '|')" \
  "moved: echo in slot 5 and bypassed"

# ---- the editor from the pane: a right-button release on the name and the
# menu's "Show &Editor" both open the instance's editor frame (an MDI child
# titled with the effect's name), closed again so the pane shows.
editor_frame() {  # TITLE: the editor frame's handle, waiting up to 5 s
  local line
  for _ in $(seq 25); do
    line=$(qvd children "$FRAME" | grep -P '\tDefault_Wrapper_Editor\t' | grep -P "\t$1\$" | head -1)
    [ -n "$line" ] && break
    sleep 0.2
  done
  printf '%s\n' "${line%%$'\t'*}"
}
click "$(name_x)" "$(row_y 0)" 3
editor=$(editor_frame reverb)
check_ok "a right click on reverb's name opens its editor" test -n "$editor"
qv_shot chain_editor_reverb
[ -n "$editor" ] && qvd close "$editor" >/dev/null && QV_DRIVE_LIMIT=20 qvd wait-gone "$editor" 10 >/dev/null
menu_command 4 e "show editor"
editor=$(editor_frame echo)
check_ok "Show Editor on echo's slot opens its editor" test -n "$editor"
[ -n "$editor" ] && qvd close "$editor" >/dev/null && QV_DRIVE_LIMIT=20 qvd wait-gone "$editor" 10 >/dev/null
check_eq 0 "$(grep -c $'^Error #224\t' "$QV_WATCH_LOG")" "no editor refused"
# A right click on an empty slot asks nothing.
before=$(grep -c . "$QV_WATCH_LOG")
click "$(name_x)" "$(row_y 7)" 3
sleep 1
check_eq "$before" "$(grep -c . "$QV_WATCH_LOG")" "a right click on an empty slot shows nothing"

# ---- detach reverb ("Select &None" on slot 1)
menu_command 0 n "detach"
save_as "$work/detached.qvp" detached
check_eq "echo.dll 04|" "$(chain_of "$work/detached.qvp" | tr '\n' '|')" "detached: only the bypassed echo is left"

# ---- reopen the moved performance: the same chain, saved to the same bytes
qvd post-command "$FRAME" 32774 >/dev/null
check_ok "reopen: the dialog takes the path" qvd file-dialog "Open Performance File" "$(qv_winpath "$work/moved.qvp")" 20
sleep 1
qv_shot chain_reopened
save_as "$work/reopened.qvp" reopened
check_ok "a reopened performance saves to the same bytes" cmp -s "$work/moved.qvp" "$work/reopened.qvp"

qvd close "$FRAME" >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit code"
qv_stop
check_eq 0 "$(grep -v -e '^Configure Audio Settings' -e 'Performance was changed' "$QV_WATCH_LOG" | grep -c .)" \
  "no other box than the question and the save question"
qv_reg_delete_key "$QV_KEY"
