# Every command of the frame's menu runs: the accompaniment commands open,
# show and close a file; the window commands and the commands whose windows
# come later leave the program running; a command with nothing to act on
# reports it. The program ends cleanly after all of them.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
work="$QV_E2E_DIR/commands"
rm -rf "$work"
mkdir -p "$work"
sox -n -r 44100 -c 2 -b 16 "$work/backing track.wav" synth 1 sine 220 2>/dev/null ||
  printf 'RIFF\x2c\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00data\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$work/backing track.wav"

qv_watch_start commands.boxes "Configure Audio Settings=NO" "*=OK"
qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done

menu_state() { qvd menu "$FRAME" | grep -P "\t$1\t" | cut -f3; }
bar_title() {
  local bar
  bar=$(qvd children "$FRAME" | grep -P '\t1111\t' | head -1)
  printf '%s\n' "${bar##*$'\t'}"
}

# Open Accompaniment through its dialog; the bar names the file, Close is enabled.
qvd post-command "$FRAME" 32798 >/dev/null
check_ok "open accompaniment: the dialog takes the file" \
  qvd file-dialog "Accompaniment Wave File" "$(qv_winpath "$work/backing track.wav")" 20
sleep 0.5
check_eq "backing track" "$(bar_title)" "open accompaniment: the bar shows its title"
check_eq enabled "$(menu_state 32799)" "open accompaniment: Close Accompaniment enabled"
qv_shot commands_accompaniment
qvd post-command "$FRAME" 32799 >/dev/null
sleep 0.5
check_eq "<no accompaniment>" "$(bar_title)" "close accompaniment: the bar is empty again"
check_eq grayed "$(menu_state 32799)" "close accompaniment: Close Accompaniment grayed"

# Commands that must leave the program as it was: Live Input without
# devices, Record (which refuses to open without them), the Master Section,
# the window commands, the metronome twice. Audio Settings opens its dialog,
# which is cancelled.
for id in 32772 32794 32800 32801 32802 32803 32804 32805 32806 32807 32813 32813; do
  qvd post-command "$FRAME" "$id" >/dev/null
done
qvd post-command "$FRAME" 32771 >/dev/null
settings=$(qv_wait_window '#32770' "Audio Settings:" 20)
check_ok "audio settings: its dialog opens" test -n "$settings"
[ -n "$settings" ] && qvd post-command "$settings" 1046 >/dev/null
sleep 1
check_eq "Quorvane Live 1.21" "$(qvd title "$FRAME" | cut -f2-)" "the frame answers after every command"
check_eq enabled "$(menu_state 32813)" "the metronome toggled twice is off"

# The ASIO control panel without a driver says so.
before=$(grep -c . "$QV_WATCH_LOG")
qvd post-command "$FRAME" 32797 >/dev/null
for _ in $(seq 50); do [ "$(grep -c . "$QV_WATCH_LOG")" -gt "$before" ] && break; sleep 0.1; done
check_file_line "$QV_WATCH_LOG" $'Error #193\tUnable to open ASIO control panel\tOK' "ASIO control panel without a driver"

# Exit saves the settings and ends the program without a question.
qvd post-command "$FRAME" 105 >/dev/null
qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "exit: exit code"
qv_stop
check_ok "exit: the settings were written" qv_reg_get "$QV_KEY" st002
# Never stored before: the recorder's first-run options (dry only, start
# the accompaniment, no RAM, format 5, 200 s).
check_eq 01010005c800 "$(qv_reg_get "$QV_KEY" st003)" "exit: the recorder's first-run options"
# Without devices, Live Input and Record each say which device is missing.
check_eq 2 "$(grep -cxF $'Quorvane Live\tYou should open an output sound device before starting the live input\tOK' "$QV_WATCH_LOG")" \
  "live input and record without devices: the output-device notice"
check_eq 4 "$(grep -c . "$QV_WATCH_LOG")" "no other box than the question and these notices"

qv_reg_delete_key "$QV_KEY"
