# The setup program, as a user runs it: an older version installed first
# (the same setup built as 1.20, shipping one more file), the user's own
# settings and plug-in added, then a silent install of this version over it
# into the default folder: the older files are gone, the settings and the
# plug-in stay, the programs list shows 1.21. The installed program is
# started from there, and a silent uninstall takes the program's files,
# shortcuts, uninstall entry and AppDir away but leaves the user's settings
# and plug-in folder.
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

startmenu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvane Live"
desktop_lnk="$WINEPREFIX/drive_c/users/Public/Desktop/Quorvane Live.lnk"
rm -rf "$startmenu" "$desktop_lnk"

# ---- an older version first ------------------------------------------------
old_setup="$work/QuorvaneLive-1.20-setup.exe"
mkdir -p "$work/oldstage"
cp -r "$QV_STAGE/." "$work/oldstage/"
echo "shipped by 1.20 only" >"$work/oldstage/retired.txt"
if QV_SETUP_VERSION=1.20 bash "$qv_root/installer/build-installer.sh" "$work/oldstage" "$old_setup" >"$work/old-build.log" 2>&1; then
  timeout 180 wine "$old_setup" /S >"$work/old-setup.log" 2>&1 </dev/null
  check_eq 0 "$?" "upgrade: the older setup (1.20) installs silently"
  check_eq "1.20" "$(qv_reg_get "$uninst_key" DisplayVersion)" "upgrade: the programs list shows 1.20 first"
else
  qv_fail "upgrade: the older setup could not be built: $(tail -3 "$work/old-build.log" | tr '\n' ' ')"
fi
# The user's own settings and plug-in, which the upgrade must keep (the VST
# directory exists, so the program's scan finds it).
mkdir -p "$WINEPREFIX/drive_c/Music/VST"
qv_reg_add "$QV_KEY" VSTDir REG_SZ 'C:\Music\VST\'
qv_reg_add "$QV_KEY" PrfSave REG_SZ 'C:\Music\Blues Jam.qvp'
mkdir -p "$instdir/VST Plugins"
echo "the user's plug-in" >"$instdir/VST Plugins/userplugin.dll"

# ---- install this version over it --------------------------------------------
timeout 180 wine "$setup" /S >"$work/setup.log" 2>&1 </dev/null
check_eq 0 "$?" "silent setup exits with 0"
check_eq "1.21" "$(qv_reg_get "$uninst_key" DisplayVersion)" "upgrade: the programs list shows 1.21"
if [ -e "$instdir/retired.txt" ]; then qv_fail "upgrade: a file only the older version shipped is left"; else
  qv_pass "upgrade: the older version's files are removed first"
fi
check_eq 'C:\Music\VST\' "$(qv_reg_get "$QV_KEY" VSTDir)" "upgrade: the user's VST directory setting stays"
check_eq 'C:\Music\Blues Jam.qvp' "$(qv_reg_get "$QV_KEY" PrfSave)" "upgrade: the user's last performance path stays"
check_eq "the user's plug-in" "$(cat "$instdir/VST Plugins/userplugin.dll" 2>/dev/null)" "upgrade: the user's plug-in stays"
size=$(qv_reg_get "$uninst_key" EstimatedSize)
if [ $((size)) -ge $(($(du -sk --apparent-size "$QV_STAGE" | cut -f1) / 2)) ]; then
  qv_pass "the programs list shows the installation's size ($((size)) KB)"
else
  qv_fail "EstimatedSize $size is smaller than the installation"
fi
if [ -f "$startmenu/Quorvane Live.lnk" ] && [ -f "$startmenu/Quorvane Live Manual.lnk" ] &&
  [ -f "$startmenu/Uninstall Quorvane Live.lnk" ] && [ -f "$desktop_lnk" ]; then
  qv_pass "Start menu and desktop shortcuts are there"
else
  qv_fail "shortcuts missing: $(ls "$startmenu" 2>&1 | tr '\n' ' ') $(ls "$desktop_lnk" 2>&1)"
fi
missing=""
for f in QuorvaneLive.exe streamconv.dll Manual.chm Uninst.exe Wrappers/defwrapper.dll Wrappers/vstwrapper.dll \
  QvPluginHost.exe QvPluginHost32.exe Wrappers32/vstwrapper.dll Wrappers32/vst3wrapper.dll Wrappers32/vst3scan.exe \
  Wrappers32/clapwrapper.dll Wrappers32/clapscan.exe \
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
left=$(cd "$instdir" 2>/dev/null && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')
check_eq "./VST Plugins ./VST Plugins/userplugin.dll " "$left" \
  "uninstall: only the user's plug-in (and its folder) is left of the installation"
if [ -e "$startmenu" ] || [ -e "$desktop_lnk" ]; then qv_fail "uninstall: shortcuts are left"; else
  qv_pass "uninstall: the shortcuts are removed"
fi
check_eq 'C:\Music\VST\' "$(qv_reg_get "$QV_KEY" VSTDir)" "uninstall: the user's VST directory setting stays"
if qv_reg_get "$QV_KEY" AppDir >/dev/null; then qv_fail "uninstall: AppDir is still there"; else qv_pass "uninstall: AppDir removed"; fi
check_eq "$st001" "$(qv_reg_get "$QV_KEY" st001)" "uninstall: the user's settings (st001) stay"
if qv_reg_has_key "$uninst_key"; then qv_fail "uninstall: the uninstall entry is still there"; else
  qv_pass "uninstall: the uninstall entry is removed"
fi

# ---- the portable zip: register.cmd writes AppDir, the program starts --------
portable="${QV_PORTABLE:-$(dirname "$setup")/QuorvaneLive-1.21-portable.zip}"
if [ -f "$portable" ] && unzip -q "$portable" -d "$work/portable"; then
  here="$work/portable/Quorvane Live"
  qv_reg_delete_key "$vendor_key"
  (cd "$here" && timeout 60 wine cmd /c register.cmd >"$work/register.log" 2>&1 </dev/null)
  check_eq "$(qv_winpath "$here")\\" "$(qv_reg_get "$QV_KEY" AppDir)" "portable: register.cmd writes the unpacked folder as AppDir"
  QV_EXE="$here/$QV_EXE_NAME"
  qv_watch_start portable.boxes "Configure Audio Settings=NO" "*=OK"
  qv_start
  if frame=$(qv_wait_window Quorvane_Main_Class "Quorvane Live 1.21" 40); then
    qv_pass "portable: the program starts from the unpacked folder"
    sleep 1
    qvd close "$frame" >/dev/null
    qv_wait_exit 30 || qv_fail "portable: still running 30 s after WM_CLOSE"
  else
    qv_fail "portable: no frame within 40 s"
  fi
  qv_stop
  (cd "$here" && timeout 60 wine cmd /c register.cmd /remove >>"$work/register.log" 2>&1 </dev/null)
  if qv_reg_get "$QV_KEY" AppDir >/dev/null; then qv_fail "portable: register.cmd /remove leaves AppDir"; else
    qv_pass "portable: register.cmd /remove takes AppDir away"
  fi
else
  qv_fail "portable: $portable is missing or cannot be unpacked (build the portable target)"
fi

qv_reg_delete_key "$vendor_key"
rm -rf "$work" "$instdir" "$WINEPREFIX/drive_c/Music"
