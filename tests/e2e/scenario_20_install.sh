# The setup program, as a user runs it: a silent install into the default
# folder, the installed program started from there (its settings key holds
# nothing but what setup wrote), and a silent uninstall that takes the
# program's files and AppDir away but leaves the user's settings.
# Sourced by run.sh (lib.sh already loaded, services running).
# shellcheck shell=bash

# QV_SETUP: another setup program to try (default: the build's).
setup="${QV_SETUP:-$qv_root/build/windows/QuorvaneLive-setup.exe}"
instdir_win='C:\Program Files\Quorvane Live'
instdir="$WINEPREFIX/drive_c/Program Files/Quorvane Live"
vendor_key='HKCU\SOFTWARE\Quorvane Software'
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane Live'
work="$QV_E2E_DIR/install"
# Shortcuts stay in the prefix: no menu entries written into $HOME.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

if [ ! -f "$setup" ]; then
  qv_fail "$setup is missing (build the installer first)"
  return 0
fi

# A clean prefix as far as the program goes: no installation, no settings.
rm -rf "$instdir" "$work"
mkdir -p "$work"
qv_reg_delete_key "$vendor_key"
qv_reg_delete_key "$uninst_key"

# ---- install ------------------------------------------------------------------
timeout 180 wine "$setup" /S >"$work/setup.log" 2>&1 </dev/null
check_eq 0 "$?" "silent setup exits with 0"
missing=""
for f in QuorvaneLive.exe streamconv.dll Manual.chm Uninst.exe Wrappers/defwrapper.dll Wrappers/vstwrapper.dll \
  $(cd "$QV_STAGE" && ls Effects/*.dll); do
  [ -f "$instdir/$f" ] || missing+=" $f"
done
[ -d "$instdir/VST Plugins" ] || missing+=" VST Plugins/"
check_eq "" "$missing" "the program's files are installed in $instdir_win"
if cmp -s "$QV_STAGE/QuorvaneLive.exe" "$instdir/QuorvaneLive.exe"; then
  qv_pass "the installed QuorvaneLive.exe is the staged one"
else
  qv_fail "the installed QuorvaneLive.exe differs from the stage's: the setup program is older than the build"
fi
check_eq "$instdir_win\\" "$(qv_reg_get "$QV_KEY" AppDir)" "AppDir is the installation folder with a trailing backslash"
check_eq "\"$instdir_win\\Uninst.exe\" /S" "$(qv_reg_get "$uninst_key" QuietUninstallString)" \
  "the uninstall entry names the installed uninstaller"

# ---- the installed program ---------------------------------------------------
# shellcheck disable=SC2034 # read by qv_start
QV_EXE="$instdir/$QV_EXE_NAME"
qv_watch_start install.boxes "Configure Audio Settings=NO" "*=OK"
qv_start
if frame=$(qv_wait_window Quorvane_Main_Class - 40); then
  check_eq "Quorvane Live 1.21" "$(qvd title "$frame")" "installed program: frame title"
  menu=$(qvd menu "$frame")
  # item ID EXPECTED: the menu line of that command, "STATE<TAB>TEXT".
  item() { awk -F'\t' -v id="$1" '$2 == id { print $3 "\t" $4; exit }' <<<"$menu"; }
  check_eq $'enabled\t&New Performance\\tCtrl+N' "$(item 32773)" "menu: New Performance"
  check_eq $'enabled\tE&xit' "$(item 105)" "menu: Exit"
  check_eq $'enabled\tEnable &Metronome\\tCtrl+M' "$(item 32813)" "menu: Enable Metronome"
  check_eq $'grayed\tASIO Control &Panel\\tCtrl+P' "$(item 32797)" "menu: ASIO Control Panel, grayed"
  check_eq $'grayed\tClo&se Accompaniment' "$(item 32799)" "menu: Close Accompaniment, grayed"
  check_eq $'enabled\t&About Quorvane Live' "$(item 104)" "menu: About"
  for ((i = 0; i < 200; i++)); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
  qv_shot installed_program
  sleep 0.5
  qvd close "$frame" >/dev/null
  if qv_wait_exit 30; then check_eq 0 "$QV_EXIT" "installed program: exit code after WM_CLOSE"; else
    qv_fail "installed program: still running 30 s after WM_CLOSE"
  fi
else
  qv_shot installed_no_frame
  qv_fail "installed program: no frame window within 40 s"
fi
qv_stop
check_eq "Configure Audio Settings	Before starting live input you must open output and input devices.\\nDo it right now?	NO" \
  "$(cat "$QV_WATCH_LOG")" "installed program: the configuration question is the only box"
st001=$(qv_reg_get "$QV_KEY" st001)
if [ -n "$st001" ]; then qv_pass "installed program: wrote its settings (st001)"; else
  qv_fail "installed program: no st001 in the settings key after WM_CLOSE"
fi

# ---- uninstall ------------------------------------------------------------------
# Run from a copy with _?= so that wine returns only when it is done (run in
# place, the uninstaller copies itself away and returns at once). NSIS wants
# _?= last and unquoted; wine quotes an argument with spaces, so the folder
# goes word by word.
cp "$instdir/Uninst.exe" "$work/Uninst.exe"
read -r -a words <<<"_?=$instdir_win"
timeout 180 wine "$work/Uninst.exe" /S "${words[@]}" >"$work/uninst.log" 2>&1 </dev/null
check_eq 0 "$?" "silent uninstall exits with 0"
if [ -e "$instdir" ]; then
  qv_fail "uninstall: left behind: $(cd "$instdir" && find . -mindepth 1 | tr '\n' ' ')"
else
  qv_pass "uninstall: the installation folder is gone"
fi
if qv_reg_get "$QV_KEY" AppDir >/dev/null; then qv_fail "uninstall: AppDir is still there"; else qv_pass "uninstall: AppDir removed"; fi
check_eq "$st001" "$(qv_reg_get "$QV_KEY" st001)" "uninstall: the user's settings (st001) stay"
if qv_reg_has_key "$uninst_key"; then qv_fail "uninstall: the uninstall entry is still there"; else
  qv_pass "uninstall: the uninstall entry is removed"
fi

qv_reg_delete_key "$vendor_key"
rm -rf "$work"
