# The Help menu: the About box shows the product's name, version and date
# and goes with OK; the manual opens in HTML Help from the application
# directory, and a missing Manual.chm is passed over without a word. The
# manual's table of contents lists a topic for every window. The program's
# manifest is read: its process runs the themed common controls (comctl32
# version 6, from the side-by-side store), and every deliverable carries
# the version resource.
# Sourced by run.sh (lib.sh already loaded, services running).
# shellcheck shell=bash

# help_start NAME APPDIR: a fresh key holding only AppDir (so no devices
# and the configuration question, answered No), the program started and
# its frame's handle in $frame once that question has gone.
help_start() {
  qv_reg_delete_key "$QV_KEY"
  qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$2")\\"
  qv_watch_start "$1.boxes" "Configure Audio Settings=NO" "*=OK"
  qv_start
  frame=$(qv_wait_window Quorvane_Main_Class "Quorvane Live 1.21" 40) || {
    qv_fail "$1: no frame titled \"Quorvane Live 1.21\" within 40 s"
    return 1
  }
  local i
  for ((i = 0; i < 200; i++)); do
    grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break
    sleep 0.1
  done
  check_eq 1 "$(grep -c '^Configure Audio Settings' "$QV_WATCH_LOG")" "$1: the configuration question came and was answered No"
  sleep 0.5
}

# help_close NAME: WM_CLOSE to the frame, then exit code 0.
help_close() {
  qvd close "$frame" >/dev/null
  if qv_wait_exit 30; then
    check_eq 0 "$QV_EXIT" "$1: exit code after WM_CLOSE"
  else
    qv_fail "$1: the program still runs 30 s after WM_CLOSE"
  fi
  qv_stop
}

# ---- About, then the manual -------------------------------------------------

if help_start help "$QV_STAGE"; then
  # The manifest asks for common controls 6: Windows (and Wine) then load
  # comctl32 from the side-by-side store, not system32's version 5.
  comctl=$(qvd modules "$QV_EXE_NAME" comctl32.dll)
  check_contains "$(tr 'A-Z' 'a-z' <<<"$comctl")" "microsoft.windows.common-controls_6595b64144ccf1df_6." \
    "manifest: the program runs common controls version 6"
  check_eq 1.21.0.0 "$(qvd modules "$QV_EXE_NAME" "$QV_EXE_NAME" | cut -f1)" "the program's version resource says 1.21"
  qvd post-command "$frame" 104 >/dev/null
  if about=$(qv_wait_window '#32770' "About Quorvane Live" 10); then
    qv_pass "About: the dialog opens"
    check_eq "Quorvane Live" "$(qvd text "$about" 1001)" "About: name"
    check_eq "1.21" "$(qvd text "$about" 1002)" "About: version"
    check_eq "November 2003" "$(qvd text "$about" 1003)" "About: release date"
    qv_shot about_box
    qvd post-command "$about" 1 >/dev/null
    if qvd wait-gone "$about" 10 >/dev/null; then qv_pass "About: OK closes it"; else qv_fail "About: still open after OK"; fi
  else
    qv_shot about_missing
    qv_fail "About: no dialog \"About Quorvane Live\" within 10 s"
  fi

  # The first help window of a new Wine prefix loads its HTML engine, which
  # has taken more than 15 s on a loaded machine.
  asked=$SECONDS
  qvd post-command "$frame" 32784 >/dev/null
  if help=$(qv_wait_window "HH Parent" - 45); then
    echo "manual: the help window came after about $((SECONDS - asked)) s"
    check_eq "Quorvane Live Manual" "$(qvd title "$help")" "manual: HTML Help window titled with the manual's title"
    qv_shot manual_window
  else
    qv_shot manual_missing
    qv_fail "manual: no HTML Help window within 45 s"
  fi
  # The frame still answers, and closing it with the help open ends cleanly.
  check_eq "Quorvane Live 1.21" "$(qvd title "$frame")" "manual: the frame is still there"
  help_close manual
  check_eq 0 "$(grep -vc '^Configure Audio Settings' "$QV_WATCH_LOG")" "About and manual: no other message box"
fi

# ---- without Manual.chm ------------------------------------------------------
# The program still runs from the stage, next to a Manual.chm, but AppDir
# names a copy without one: the manual is looked for in AppDir only. Once
# the file is back, the same command opens it.

nomanual="$QV_E2E_DIR/nomanual"
rm -rf "$nomanual"
cp -r "$QV_STAGE" "$nomanual"
rm -f "$nomanual/Manual.chm"
if help_start nomanual "$nomanual"; then
  qvd post-command "$frame" 32784 >/dev/null
  if qvd wait-window "HH Parent" - 5 >/dev/null; then
    qv_fail "no manual: an HTML Help window appeared"
  else
    qv_pass "no manual: no HTML Help window"
  fi
  check_eq "Quorvane Live 1.21" "$(qvd title "$frame")" "no manual: the program keeps running"
  check_eq 0 "$(grep -vc '^Configure Audio Settings' "$QV_WATCH_LOG")" "no manual: no message box"
  cp "$QV_STAGE/Manual.chm" "$nomanual/"
  qvd post-command "$frame" 32784 >/dev/null
  if qv_wait_window "HH Parent" "Quorvane Live Manual" 15 >/dev/null; then
    qv_pass "no manual: once Manual.chm is in AppDir the command opens it"
  else
    qv_fail "no manual: no HTML Help window after Manual.chm was put back"
  fi
  help_close nomanual
fi
rm -rf "$nomanual"
qv_reg_delete_key "$QV_KEY"

# ---- what the manual and the files say ----------------------------------------
# The manual's contents, read out of the CHM, against the files in it; a
# topic for every window and dialog.
if out=$(bash "$qv_root/manual/check-chm.sh" "$QV_STAGE/Manual.chm" 2>&1); then
  qv_pass "manual: every topic of the contents is in Manual.chm, one for every window ($(tail -1 <<<"$out"))"
else
  qv_fail "manual: $(grep -v '^PASS' <<<"$out" | tr '\n' ' ')"
fi
toc=$(cd "$QV_E2E_DIR" && chmls extract "$QV_STAGE/Manual.chm" /manual.hhc /dev/stdout 2>/dev/null)
for topic in "The main window" "Master Section" "Audio Settings" "Recording" "VU meters and CPU usage" \
  "VST plug-ins, scan and editors" "About box and this manual" "Reverb" "Echo" "Flanger" "Chorus" "Messages"; do
  check_contains "$toc" "value=\"$topic\"" "manual: the contents list \"$topic\""
done
# Every deliverable: product name and version 1.21 in its version resource.
for f in QuorvaneLive.exe qvrender.exe streamconv.dll Wrappers/defwrapper.dll Wrappers/vstwrapper.dll \
  Effects/reverb.dll Effects/echo.dll Effects/flanger.dll Effects/chorus.dll; do
  strings -el "$QV_STAGE/$f" | grep -A1 -x ProductVersion | tail -1 >"$QV_E2E_DIR/version.txt"
  product=$(strings -el "$QV_STAGE/$f" | grep -A1 -x ProductName | tail -1)
  check_eq "Quorvane Live 1.21" "$product $(cat "$QV_E2E_DIR/version.txt")" "version resource of $f"
done
rm -f "$QV_E2E_DIR/version.txt"
