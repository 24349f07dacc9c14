# Fatal start-ups: every way the program refuses to start shows one box
# with its own caption and text, and the process ends without a frame.
# Sourced by run.sh (lib.sh already loaded, services running).
# shellcheck shell=bash

fixtures="$QV_E2E_DIR/fatal"
rm -rf "$fixtures"
mkdir -p "$fixtures/nodll" "$fixtures/none" "$fixtures/one" "$fixtures/two"
src="$qv_root/tests/e2e/fixtures/damaged_streamconv.c"
build_dll() {
  x86_64-w64-mingw32-gcc -O1 -shared -static-libgcc "$@" -o "$dll" "$src"
}
dll="$fixtures/none/streamconv.dll" build_dll
dll="$fixtures/one/streamconv.dll" build_dll -DWITH_PROCESS_STREAM
dll="$fixtures/two/streamconv.dll" build_dll -DWITH_PROCESS_STREAM -DWITH_PROCESS_STREAM_MSB

# fatal_case NAME CAPTION TEXT: starts the program with the registry as the
# caller left it and expects exactly that one box, answered with OK, then
# the end of the process, no frame window ever.
fatal_case() {
  local name=$1 caption=$2 text=$3
  qv_watch_start "fatal_$name.boxes" "*=OK"
  qv_start
  if qv_wait_exit 40; then
    qv_pass "$name: the program ends (exit code $QV_EXIT)"
  else
    qv_shot "fatal_$name"
    qv_fail "$name: the program is still running after 40 s"
  fi
  qv_stop
  check_file_line "$QV_WATCH_LOG" "$caption"$'\t'"$text"$'\t'"OK" "$name: box \"$caption\""
  check_eq 1 "$(grep -c . "$QV_WATCH_LOG")" "$name: exactly one box"
  if grep -q '^Quorvane_Main_Class' "$QV_WINDOWS_LOG"; then
    qv_fail "$name: a frame window appeared"
  else
    qv_pass "$name: no frame window"
  fi
}

no_entry="Quorvane Live can't find the registry entry. The application aborted!"
damaged="Library streamconv.dll is damaged. Application aborted!"

qv_reg_delete_key "$QV_KEY"
fatal_case no_key "Fatal Error #0" "$no_entry"

qv_reg_add "$QV_KEY"
qv_reg_delete_value "$QV_KEY" AppDir
fatal_case no_appdir "Fatal Error #1" "$no_entry"

# A directory whose converter path would not fit the platform's paths is
# as good as none.
qv_reg_add "$QV_KEY" AppDir REG_SZ "C:\\$(printf 'd%.0s' $(seq 250))\\"
fatal_case appdir_too_long "Fatal Error #1" "$no_entry"

qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$fixtures/nodll")\\"
check_eq "$(qv_winpath "$fixtures/nodll")\\" "$(qv_reg_get "$QV_KEY" AppDir)" "AppDir seeded"
fatal_case no_streamconv "Error #239" "Can't load streamconv.dll. Application aborted!"

qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$fixtures/none")\\"
fatal_case streamconv_no_entry "Error #240" "$damaged"

qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$fixtures/one")\\"
fatal_case streamconv_one_entry "Error #241" "$damaged"

qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$fixtures/two")\\"
fatal_case streamconv_two_entries "Error #258" "$damaged"

qv_reg_delete_key "$QV_KEY"
