#!/usr/bin/env bash
# End-to-end check of the setup program under Wine:
#   installer/installer_test.sh [STAGE [ICON]]
# Builds the installer from a copy of STAGE (default build/windows/stage; a
# stand-in QuorvaneLive.exe is used while the program is not built yet), runs
# it silently into the project's Wine prefix, checks files, registry and
# shortcuts, then uninstalls twice: keeping the user's settings, and with
# /REMOVESETTINGS. The user's settings key in the prefix is saved first and
# restored afterwards. Every Wine call has a time limit.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stage_in=${1:-$root/build/windows/stage}
icon=${2:-}

# Under scripts/test.sh the services already run, shared with other tests:
# use them and leave them running. Otherwise start them and stop them at exit.
if [ -n "${QV_WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ]; then
  export WINEPREFIX="$QV_WINEPREFIX" WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
  own_services=
else
  # shellcheck source=../scripts/services.sh
  source "$root/scripts/services.sh"
  own_services=1
fi
# Shortcuts stay inside the prefix: no menu entries or .desktop files in $HOME.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

product="Quorvane Live"
instdir_win='C:\Program Files\Quorvane Live'
instdir="$WINEPREFIX/drive_c/Program Files/Quorvane Live"
vendor_key='HKCU\SOFTWARE\Quorvane Software'
settings_key="$vendor_key"'\Quorvane Live\1'
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane Live'
startmenu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$product"
desktop_lnk="$WINEPREFIX/drive_c/users/Public/Desktop/$product.lnk"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
# check NAME COMMAND...: one result line per check.
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

work=$(mktemp -d /tmp/qv-installer-test.XXXXXX)
backup="$work/vendor-key.reg"
had_backup=
finish() {
  # Give the user's settings back exactly as they were.
  timeout 60 wine reg delete "$vendor_key" /f >/dev/null 2>&1
  if [ -n "$had_backup" ]; then
    timeout 60 wine reg import "$(winepath -w "$backup")" >/dev/null 2>&1 ||
      echo "WARNING: could not restore $vendor_key from $backup" >&2
  fi
  rm -rf "$work"
  [ -z "$own_services" ] || qv_stop_services
}
trap finish EXIT

# wine with a time limit; output kept in $work/wine.log.
wine_run() {
  timeout 120 wine "$@" >"$work/wine.log" 2>&1
}

# Runs a Windows program with an NSIS switch whose value holds spaces (/D=,
# _?=): NSIS wants it last and unquoted, and wine quotes any argument with a
# space, so the value is handed over word by word.
wine_run_spaced() {
  local exe=$1 switch=$2 value=$3
  shift 3
  local words
  read -r -a words <<<"$value"
  words[0]="$switch${words[0]}"
  wine_run "$exe" "$@" "${words[@]}"
}

reg_value() { # KEY NAME -> the value's data, or failure
  timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print; found = 1 } END { exit !found }'
}
key_exists() { timeout 60 wine reg query "$1" >/dev/null 2>&1; }
key_absent() { ! key_exists "$1"; }
value_absent() { ! reg_value "$1" "$2" >/dev/null; }

# Waits up to SECONDS for COMMAND to succeed.
wait_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.5
  done
}

# Lists a folder's files (or subfolders) relative to it, sorted.
list_files() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }
list_dirs() { (cd "$1" && find . -mindepth 1 -type d | sed 's|^\./||' | LC_ALL=C sort); }

# ---------------------------------------------------------------- stage
if [ ! -d "$stage_in" ]; then
  fail "stage exists" "$stage_in"
  echo "$passed passed, $failed failed"
  exit 1
fi
stage="$work/stage"
cp -r "$stage_in" "$stage"
if [ ! -f "$stage/QuorvaneLive.exe" ]; then
  echo "note: $stage_in has no QuorvaneLive.exe yet; using qvrender.exe as a stand-in"
  cp "$stage/qvrender.exe" "$stage/QuorvaneLive.exe"
fi
if [ ! -f "$stage/Manual.chm" ]; then
  check "manual builds into the stage" "$root/manual/build-chm.sh" "$stage"
fi
expected=$(list_files "$stage")
expected_dirs=$(list_dirs "$stage")
# Test programs that end up next to the modules must not be shipped.
touch "$stage/engine_tests.exe" "$stage/Effects/testfx.dll"

# ---------------------------------------------------------------- build
setup="$work/out/QuorvaneLive-setup.exe"
if "$root/installer/build-installer.sh" "$stage" "$setup" ${icon:+"$icon"}; then
  pass "installer builds"
else
  fail "installer builds"
  echo "$passed passed, $failed failed"
  exit 1
fi
echo "installer size: $(stat -c %s "$setup") bytes"
check "installer is a 64-bit Windows program" \
  bash -c 'x86_64-w64-mingw32-objdump -f "$1" | grep -q "file format pei-x86-64"' _ "$setup"

# ---------------------------------------------------------------- prefix
if key_exists "$vendor_key"; then
  timeout 60 wine reg export "$vendor_key" "$(winepath -w "$backup")" /y >/dev/null 2>&1 && had_backup=1
  timeout 60 wine reg delete "$vendor_key" /f >/dev/null 2>&1
fi
# A run that was interrupted leaves an installation behind: remove it first.
if [ -f "$instdir/Uninst.exe" ]; then
  echo "note: removing an earlier installation from the prefix"
  cp "$instdir/Uninst.exe" "$work/old-uninst.exe"
  wine_run_spaced "$work/old-uninst.exe" '_?=' "$instdir_win" /S
fi
timeout 60 wine reg delete "$uninst_key" /f >/dev/null 2>&1
rm -rf "$instdir" "$startmenu" "$desktop_lnk"

# ---------------------------------------------------------------- install
temp_before=$(printf '%s\n' "$WINEPREFIX"/drive_c/users/*/Temp/~nsu*.tmp)
install() {
  wine_run_spaced "$setup" '/D=' "$instdir_win" /S
}
check "silent install exits 0" install

check "every file of the stage is installed" test "$(list_files "$instdir" | grep -vx Uninst.exe)" = "$expected"
check "every folder of the stage is created" test "$(list_dirs "$instdir")" = "$expected_dirs"
identical=1
while IFS= read -r f; do
  cmp -s "$stage/$f" "$instdir/$f" || { identical=; echo "  differs: $f"; }
done <<<"$expected"
check "installed files equal the stage" test -n "$identical"
check "test programs are not installed" test ! -e "$instdir/engine_tests.exe" -a ! -e "$instdir/Effects/testfx.dll"
check "uninstaller is installed" test -f "$instdir/Uninst.exe"

check "AppDir is the folder with a trailing backslash" \
  test "$(reg_value "$settings_key" AppDir)" = "$instdir_win\\"

uninst_values_ok() {
  local ok=0 name want got
  while IFS='|' read -r name want; do
    got=$(reg_value "$uninst_key" "$name") || got="<missing>"
    if [ "$got" != "$want" ]; then echo "  $name: '$got', expected '$want'"; ok=1; fi
  done <<EOF
DisplayName|$product
DisplayVersion|1.21
Publisher|Quorvane Software
DisplayIcon|$instdir_win\\QuorvaneLive.exe,0
InstallLocation|$instdir_win
UninstallString|"$instdir_win\\Uninst.exe"
QuietUninstallString|"$instdir_win\\Uninst.exe" /S
NoModify|0x1
NoRepair|0x1
EOF
  local size
  size=$(reg_value "$uninst_key" EstimatedSize) || size=0
  size=$((size))
  echo "  EstimatedSize: $size KB"
  # At least the size of the stage, in KB.
  [ "$size" -ge $(( $(du -sk --apparent-size "$stage_in" | cut -f1) / 2 )) ] || { echo "  EstimatedSize too small"; ok=1; }
  return $ok
}
check "uninstall entry under HKLM" uninst_values_ok

check "Start menu shortcuts" test -f "$startmenu/$product.lnk" -a -f "$startmenu/$product Manual.lnk" -a -f "$startmenu/Uninstall $product.lnk"
check "desktop shortcut" test -f "$desktop_lnk"

# ---------------------------------------------------------------- uninstall, keep settings
timeout 60 wine reg add "$settings_key" /v st001 /d "device one" /f >/dev/null 2>&1
mkdir -p "$instdir/Effects"
echo "user's own" >"$instdir/Effects/userfx.dll"

# Run from a copy with _?= so that wine returns when the uninstaller is done.
cp "$instdir/Uninst.exe" "$work/uninst.exe"
check "silent uninstall exits 0" wine_run_spaced "$work/uninst.exe" '_?=' "$instdir_win" /S
check "only the user's own file is left" test "$(list_files "$instdir")" = "Effects/userfx.dll"
check "only the user's file's folder is left" test "$(list_dirs "$instdir")" = "Effects"
check "shortcuts are removed" test ! -e "$startmenu" -a ! -e "$desktop_lnk"
check "uninstall entry is removed" key_absent "$uninst_key"
check "AppDir is removed" value_absent "$settings_key" AppDir
check "other settings stay" test "$(reg_value "$settings_key" st001)" = "device one"
rm -rf "$instdir"

# ---------------------------------------------------------------- uninstall, remove settings
check "second silent install exits 0" install
check "AppDir written again" test "$(reg_value "$settings_key" AppDir)" = "$instdir_win\\"
# As a user would run it: the uninstaller copies itself to the temporary
# folder and returns at once, so wait for its results.
check "uninstaller with /REMOVESETTINGS starts" wine_run "$instdir/Uninst.exe" /S /REMOVESETTINGS
all_gone() {
  [ ! -e "$instdir" ] && [ ! -e "$startmenu" ] && [ ! -e "$desktop_lnk" ] &&
    key_absent "$uninst_key" && key_absent "$vendor_key"
}
check "files, shortcuts, uninstall entry and settings key are removed" wait_for 60 all_gone
# The copy runs as C:\users\NAME\Temp\~nsuN.tmp\Un.exe (Au_.exe in older NSIS).
no_uninstaller_running() { ! pgrep -f '~nsu[0-9]+\.tmp\\(Un|Au_)\.exe' >/dev/null; }
check "the uninstaller's copy has finished" wait_for 30 no_uninstaller_running

# The temporary folder with the uninstaller's copy, which Windows would
# delete at the next start: only the ones this run made.
for d in "$WINEPREFIX"/drive_c/users/*/Temp/~nsu*.tmp; do
  [ -d "$d" ] && ! grep -qxF "$d" <<<"$temp_before" && rm -rf "$d"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
