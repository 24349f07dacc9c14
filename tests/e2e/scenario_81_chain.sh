# The effect chain pane with the real mouse: the pop-up menu and a
# double-click attach the default wrapper's reverb to slot 1 and echo to
# slot 6 through "Select Effect:"; echo moves up, is bypassed, reverb is
# detached; the editor is asked for from the pane. The pane is painted, not
# made of controls, so the chain is read back from saved performance files:
# each instance's slot byte (bits 0-6 the slot, bit 7 active). A saved
# performance reopens to the same bytes.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
# The frame at (100, 50)-(900, 630) and the Master Section at the MDI
# client's corner, so the pane has a known place on the virtual desktop.
qv_reg_add "$QV_KEY" ww001 REG_BINARY 0100000064000000840300003200000076020000
qv_reg_add "$QV_KEY" ww002 REG_BINARY 00000000000000000028000000640000003c000000aa000000
work="$QV_E2E_DIR/chain"
rm -rf "$work"
mkdir -p "$work"

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

qv_watch_start chain.boxes "Configure Audio Settings=NO" "text:*Performance was changed*=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
qvd post-command "$FRAME" 32800 >/dev/null
MASTER=$(qv_wait_window - "Master Section" 10)
sleep 0.5
check_contains "$(qvd children "$FRAME" | cut -f2)" Quorvane_FX_Class "the Master Section holds the chain pane"

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
    qv_fail "$3: no pop-up menu at ($(menu_x), $(row_y "$1"))"
    return 1
  fi
  xdotool key "$2"
  sleep 0.5
}

# choose PATH WHAT: in the open "Select Effect:" dialog, selects PATH
# ("Wrapper/Plug-in") and confirms with OK.
choose() {
  local dialog
  dialog=$(qv_wait_window "#32770" "Select Effect:" 10) || { qv_fail "$2: no Select Effect dialog"; return 1; }
  TREE=$(qvd tree "$dialog")
  qvd tree "$dialog" "$1" >/dev/null || qv_fail "$2: no item $1 in [$(tr '\n' '|' <<<"$TREE")]"
  qvd post-command "$dialog" 1011 >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null || qv_fail "$2: OK did not close the dialog"
}

# chain_of FILE: the default wrapper's instances in the performance FILE as
# "module slot-byte" lines (hex byte), in instance order.
chain_of() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:4] == b"PERF" and data[8:14] == b"ACCOMP"
at = 16 + struct.unpack_from("<H", data, 14)[0]
while at < len(data):
    assert data[at:at + 7] == b"WRAPPER"
    n = struct.unpack_from("<H", data, at + 7)[0]
    at += 9 + n
    assert data[at:at + 5] == b"STATE"
    size = struct.unpack_from("<i", data, at + 5)[0]
    blob = data[at + 9:at + 9 + max(size, 0)]
    at += 9 + max(size, 0)
    if blob[:8] != b"DEFWRAP_":
        continue
    p = 8
    while p < len(blob):
        name_len = struct.unpack_from("<H", blob, p + 4)[0]
        name = blob[p + 6:p + 6 + name_len].decode()
        p += 6 + name_len
        p += 4 + struct.unpack_from("<i", blob, p)[0]
        u = struct.unpack_from("<i", blob, p)[0]
        print(name, blob[p + 4:p + 4 + u].hex())
        p += 4 + u
EOF
}

# save_as FILE WHAT: Save Performance As through its dialog.
save_as() {
  qvd post-command "$FRAME" 32776 >/dev/null
  check_ok "$2: saved" qvd file-dialog "Save Performance File As..." "$(qv_winpath "$1")" 20
  for _ in $(seq 50); do [ -s "$1" ] && break; sleep 0.1; done
}

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
# menu's "Show &Editor" both reach the wrapper, whose editors come later
# (it refuses, and the pane reports it).
before=$(grep -c . "$QV_WATCH_LOG")
click "$(name_x)" "$(row_y 0)" 3
for _ in $(seq 50); do [ "$(grep -c . "$QV_WATCH_LOG")" -gt "$before" ] && break; sleep 0.1; done
sleep 0.3
menu_command 4 e "show editor"
for _ in $(seq 50); do [ "$(grep -c . "$QV_WATCH_LOG")" -ge $((before + 2)) ] && break; sleep 0.1; done
check_eq 2 "$(tail -n +$((before + 1)) "$QV_WATCH_LOG" | grep -c $'^Error #224\tError showing plugin editor')" \
  "the editor was asked for twice (right click, menu)"
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
check_eq 0 "$(grep -v -e '^Configure Audio Settings' -e $'^Error #224\t' -e 'Performance was changed' "$QV_WATCH_LOG" | grep -c .)" \
  "no other box than the question, the editor notices and the save question"
qv_reg_delete_key "$QV_KEY"
