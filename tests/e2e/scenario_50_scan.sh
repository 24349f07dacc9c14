# The plug-in scan behind "Refresh Plugin List" and the choice of the VST
# directory, in one program run:
#   - a folder of 20 VST libraries gives 4 built-in effects + 20, and the
#     frame ignores commands and WM_CLOSE while the scan dialog is up;
#   - a folder of thousands is stopped by Abort, and again by the dialog's
#     close box: the final message counts what was listed so far and the
#     dialog still waits for the end of the scan;
#   - a VST folder that does not exist gives Error #229, only once the dialog
#     has gone;
#   - Change VST Directory: Cancel writes nothing; OK stores the chosen folder
#     and asks whether to refresh, No starts no scan.
# Sourced by run.sh (lib.sh already loaded, services running).
# shellcheck shell=bash

dir="$QV_E2E_DIR/scan"
rm -rf "$dir"
mkdir -p "$dir/twenty" "$dir/many"
vst="$qv_root/build/windows/testmodules/tvst_stereo.dll"
# The scan lists the libraries without loading them (about 2000 a second
# here), so the folder for Abort is large enough to still be scanning when
# the press arrives. Hard links: one file on disk, many names.
many=3000
for i in $(seq -w 1 20); do cp "$vst" "$dir/twenty/gain_$i.dll"; done
for i in $(seq -w 1 "$many"); do ln "$vst" "$dir/many/gain_$i.dll"; done

finished() { printf 'Scanning plugins has been finished succesfully.\\n %d plugins have been detected' "$1"; }

# scan_open: posts Refresh Plugin List to the frame; the dialog's handle in $dlg.
scan_open() {
  qvd post-command "$frame" 32778 >/dev/null
  dlg=$(qv_wait_window '#32770' "Scanning plugins..." 10)
}

# scan_final: follows the dialog's status until the final message, which it
# prints.
scan_final() {
  local t i
  for ((i = 0; i < 400; i++)); do
    t=$(QV_DRIVE_LIMIT=10 qvd text "$dlg" 1016) || return 1
    case $t in "Scanning plugins has been finished"*) printf '%s\n' "$t"; return 0 ;; esac
  done
  return 1
}

# The count in a final message.
count_of() { sed -n 's/.*\\n \([0-9][0-9]*\) plugins have been detected$/\1/p' <<<"$1"; }

# scan_gone WHAT: the dialog closes by itself once the final message was shown.
scan_gone() {
  if qvd wait-gone "$dlg" 10 >/dev/null; then qv_pass "$1: the dialog closes by itself"; else
    qv_fail "$1: the dialog is still open 10 s after its final message"
  fi
}

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_watch_start scan.boxes "Configure Audio Settings=NO" "Error #229=leave" "Refresh Plugins List=leave" "*=OK"
qv_start
if ! frame=$(qv_wait_window Quorvane_Main_Class "Quorvane Live 1.21" 40); then
  qv_shot scan_no_frame
  qv_fail "no frame titled \"Quorvane Live 1.21\" within 40 s"
  qv_stop
  return 0
fi
for ((i = 0; i < 200; i++)); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
sleep 0.5

# ---- 20 libraries; the frame is deaf while the dialog is up ------------------
# VSTDir is read again at every refresh: set now, with the program running.
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$dir/twenty")\\"
if scan_open; then
  qvd post-command "$frame" 104 >/dev/null
  qvd close "$frame" >/dev/null
  final=$(scan_final)
  qv_shot scan_finished
  check_eq "$(finished 24)" "$final" "20 libraries: final message counts 4 + 20"
  scan_gone "20 libraries"
  if qvd wait-window '#32770' "About Quorvane Live" 2 >/dev/null; then
    qv_fail "20 libraries: the About command posted during the scan was carried out"
  else
    qv_pass "20 libraries: the About command posted during the scan was ignored"
  fi
  check_eq "Quorvane Live 1.21" "$(qvd title "$frame")" "20 libraries: WM_CLOSE during the scan was ignored"
else
  qv_fail "20 libraries: no dialog \"Scanning plugins...\" within 10 s"
fi

# ---- Abort, by the button and by the close box -------------------------------
# abort_case WHAT HOW: the scan of $many libraries, stopped once progress is
# showing, by the Abort button (HOW=button) or the close box (HOW=close).
abort_case() {
  local what=$1 how=$2 t="" seen="" i final count n
  if ! scan_open; then qv_fail "$what: no dialog \"Scanning plugins...\" within 10 s"; return; fi
  for ((i = 0; i < 200; i++)); do
    t=$(qvd text "$dlg" 1016)
    case $t in "VST Plugin "*) seen=$t; break ;; "Scanning plugins has been"*) break ;; esac
  done
  if [ -z "$seen" ]; then
    qv_fail "$what: no \"VST Plugin N: path\" progress before the scan ended ([$t])"
    qvd wait-gone "$dlg" 15 >/dev/null
    return
  fi
  if [ "$how" = button ]; then qvd post-command "$dlg" 1015 >/dev/null; else qvd close "$dlg" >/dev/null; fi
  [ "$how" = button ] && qv_shot scan_aborting
  check_contains "$seen" "$(qv_winpath "$dir/many")\\gain_" "$what: progress names the library being listed"
  # The dialog waits for the scan to end and shows its result.
  final=$(scan_final)
  count=$(count_of "$final")
  n=${seen#VST Plugin }
  n=${n%%:*}
  # Listed before the press: at least n + 1 libraries; all of them: 4 + many.
  if [ -n "$count" ] && [ "$count" -gt $((4 + n)) ] && [ "$count" -lt $((4 + many)) ]; then
    qv_pass "$what: the scan stopped early ($count of $((4 + many)) plugins; progress was at $n)"
  else
    qv_fail "$what: final message [$final]: expected between $((5 + n)) and $((3 + many)) plugins"
  fi
  scan_gone "$what"
}

qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$dir/many")\\"
abort_case "Abort button" button
abort_case "close box" close

# Escape right as the dialog appears, before the scan has even begun.
if scan_open; then
  qvd post-command "$dlg" 2 >/dev/null
  final=$(scan_final)
  count=$(count_of "$final")
  if [ -n "$count" ] && [ "$count" -lt $((4 + many)) ]; then
    qv_pass "Escape at once: the scan stopped early ($count of $((4 + many)) plugins)"
  else
    qv_fail "Escape at once: final message [$final]"
  fi
  scan_gone "Escape at once"
else
  qv_fail "Escape at once: no dialog \"Scanning plugins...\" within 10 s"
fi

# ---- a VST folder that does not exist -----------------------------------------
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$dir/nowhere")\\"
if scan_open; then
  final=$(scan_final)
  check_eq "$(finished 4)" "$final" "missing folder: only the 4 built-in effects"
  if qvd wait-window '#32770' "Error #229" 0.5 >/dev/null; then
    qv_fail "missing folder: Error #229 shows while the dialog is still up"
  else
    qv_pass "missing folder: no box while the dialog is up"
  fi
  scan_gone "missing folder"
  box=$(qvd answer "Error #229" - OK 10)
  check_eq $'Error #229\tError refreshing wrapper list\tOK' "$box" "missing folder: box Error #229 once the dialog has gone"
else
  qv_fail "missing folder: no dialog \"Scanning plugins...\" within 10 s"
fi

# ---- Change VST Directory ---------------------------------------------------------
before=$(qv_reg_get "$QV_KEY" VSTDir)
qvd post-command "$frame" 32777 >/dev/null
if browser=$(qv_wait_window '#32770' "Browse for Folder" 10); then
  check_contains "$(qvd children "$browser")" "Change VST Directory" "browser: shows the program's prompt"
  qvd post-command "$browser" 2 >/dev/null
  qvd wait-gone "$browser" 10 >/dev/null
  sleep 0.5
  check_eq "$before" "$(qv_reg_get "$QV_KEY" VSTDir)" "browser: Cancel writes nothing"
else
  qv_fail "browser: no \"Browse for Folder\" within 10 s"
fi

# Under Wine OK returns the Desktop folder, whatever was typed.
desktop=$(qv_reg_get 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' Desktop)
qvd post-command "$frame" 32777 >/dev/null
if browser=$(qv_wait_window '#32770' "Browse for Folder" 10); then
  qv_shot vst_folder_browser
  qvd post-command "$browser" 1 >/dev/null
  box=$(qvd answer "Refresh Plugins List" - No 10)
  check_eq $'Refresh Plugins List\tDo you wish to update plugins list right now?\\nIf no, you should do it later if you going to use plugins.\tNo' \
    "$box" "browser: OK asks whether to refresh now"
  check_eq "$desktop\\" "$(qv_reg_get "$QV_KEY" VSTDir)" "browser: VSTDir is the chosen folder with a trailing backslash"
  if qvd wait-window '#32770' "Scanning plugins..." 3 >/dev/null; then
    qv_fail "browser: answering No started a scan"
  else
    qv_pass "browser: answering No starts no scan"
  fi
else
  qv_fail "browser: no \"Browse for Folder\" within 10 s (second time)"
fi

qvd close "$frame" >/dev/null
if qv_wait_exit 30; then check_eq 0 "$QV_EXIT" "exit code after WM_CLOSE"; else
  qv_fail "the program still runs 30 s after WM_CLOSE"
fi
qv_stop
check_eq "Configure Audio Settings" "$(cut -f1 "$QV_WATCH_LOG" | grep -v -e '^Error #229$' -e '^Refresh Plugins List$')" \
  "no other message box during the run"
# The Desktop would be scanned by the next start: leave no VSTDir behind.
qv_reg_delete_key "$QV_KEY"
rm -rf "$dir"
