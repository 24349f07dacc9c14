# Performances from the command line and through the file dialogs: the
# title follows the file, a saved performance reloads and saves again to the
# same bytes, and a path or file that cannot be used is reported.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
work="$QV_E2E_DIR/performance files"
rm -rf "$work"
mkdir -p "$work"
cp "$qv_root/examples/room.qvp" "$work/room.qvp"
printf 'PERX-not-a-performance' >"$work/broken.two.qvp"

# start_with ARGS: starts, answers the configuration question, leaves FRAME.
start_with() {
  qv_watch_start "performance_$1.boxes" "Configure Audio Settings=NO" "*=OK"
  shift
  qv_start "$@"
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
}

close_frame() {
  qvd close "$FRAME" >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$1: exit code"
  qv_stop
}

# wait_title EXPECTED WHAT: the frame's title becomes EXPECTED within 10 s.
wait_title() {
  local title=
  for _ in $(seq 50); do
    title=$(qvd title "$FRAME" | cut -f2-)
    [ "$title" == "$1" ] && break
    sleep 0.2
  done
  check_eq "$1" "$title" "$2"
}

# ---- a performance named on the command line, in a folder with a space
start_with cmdline "$(qv_winpath "$work/room.qvp")"
wait_title "Quorvane Live 1.21 (room)" "command line: the title names the file"
qv_shot performance_cmdline

# Save As through its dialog: the title follows the new file.
qvd post-command "$FRAME" 32776 >/dev/null
check_ok "save as: the dialog takes the path" qvd file-dialog "Save Performance File As..." "$(qv_winpath "$work/saved.qvp")" 20
wait_title "Quorvane Live 1.21 (saved)" "save as: the title names the saved file"
check_ok "save as: the file exists" test -s "$work/saved.qvp"

# New by its accelerator (Ctrl+N): nothing changed since the save, so no
# question; the title loses the file.
qvd send-key "$FRAME" ctrl+n >/dev/null
wait_title "Quorvane Live 1.21" "new (Ctrl+N): the title without a file"

# Open the saved file, then save it again elsewhere: the same bytes.
qvd post-command "$FRAME" 32774 >/dev/null
check_ok "open: the dialog takes the path" qvd file-dialog "Open Performance File" "$(qv_winpath "$work/saved.qvp")" 20
wait_title "Quorvane Live 1.21 (saved)" "open: the title names the opened file"
qvd post-command "$FRAME" 32776 >/dev/null
check_ok "save as again: the dialog takes the path" qvd file-dialog "Save Performance File As..." "$(qv_winpath "$work/again.qvp")" 20
wait_title "Quorvane Live 1.21 (again)" "save as again: the title"
check_ok "a reloaded performance saves to the same bytes" cmp -s "$work/saved.qvp" "$work/again.qvp"
# The example holds the default wrapper's reverb only; the program adds the
# (empty) state of every other wrapper it has loaded after it.
check_ok "the saved chain is the example's" cmp -s -n "$(stat -c %s "$work/room.qvp")" "$work/room.qvp" "$work/saved.qvp"

# Save with a current file writes it again without a dialog.
before=$(stat -c %Y.%s "$work/again.qvp")
sleep 1.1
qvd post-command "$FRAME" 32775 >/dev/null
sleep 1
check_ok "save: rewrites the current file" test "$(stat -c %Y.%s "$work/again.qvp")" != "$before"
check_eq 0 "$(grep -vc '^Configure Audio Settings' "$QV_WATCH_LOG")" "the file commands showed no box"
close_frame cmdline
check_eq "$(qv_winpath "$work/saved.qvp")" "$(qv_reg_get "$QV_KEY" PrfLoad)" "the open dialog's last path is kept"
check_eq "$(qv_winpath "$work/again.qvp")" "$(qv_reg_get "$QV_KEY" PrfSave)" "the save dialog's last path is kept"

# ---- a damaged file on the command line: reported, and the title stays plain
start_with damaged "$(qv_winpath "$work/broken.two.qvp")"
wait_title "Quorvane Live 1.21" "damaged file: no name in the title"
close_frame damaged
check_file_line "$QV_WATCH_LOG" $'Error #205\tFile is damaged\tOK' "damaged file: reported"

# ---- a path longer than 259 characters is refused whole, not cut
long="C:\\$(printf 'x%.0s' $(seq 270)).qvp"
start_with toolong "$long"
wait_title "Quorvane Live 1.21" "too long: no name in the title"
close_frame toolong
check_file_line "$QV_WATCH_LOG" $'Error #204\tCan\'t create file. Disk error\tOK' "too long: reported as 204"

qv_reg_delete_key "$QV_KEY"
