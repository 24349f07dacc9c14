# The "Audio Settings:" dialog: it lists the PulseAudio null sinks Wine
# shows, the formats and buffer counts; typed values out of range come back
# limited, on leaving an edit and on Enter; Accept opens the chosen
# DirectSound devices, which the key holds after closing and the dialog
# shows again at the next start. With ASIO: a registered test driver whose
# name is longer than the loader's 32 bytes opens, a driver that cannot be
# created is reported and keeps the dialog open, and "ASIO Control Panel"
# is enabled exactly while a driver is open.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"

# Two ASIO drivers: the test driver under a long name, and one whose server
# exists but is no COM server (the converter library), so creating it fails.
asio_server=$(dirname "$QV_DRIVE")/../testmodules/testasio.dll
long_name="Quorvane Test Driver With A Long Name"
short_name="Quorvane Test Driver With A ..."
good_class="{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C31}"  # the only class testasio.dll serves
bad_class="{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C92}"
asio_key='HKLM\Software\ASIO'
clsid_key='HKLM\Software\Classes\CLSID'
asio_cleanup() {
  qv_reg_delete_key "$asio_key\\QvLongDriver"
  qv_reg_delete_key "$asio_key\\QvBrokenDriver"
  qv_reg_delete_key "$clsid_key\\$good_class"
  qv_reg_delete_key "$clsid_key\\$bad_class"
}
asio_cleanup
have_asio=
if [ -f "$asio_server" ]; then
  have_asio=1
  qv_reg_add "$asio_key\\QvLongDriver" CLSID REG_SZ "$good_class"
  qv_reg_add "$asio_key\\QvLongDriver" Description REG_SZ "$long_name"
  qv_reg add "$clsid_key\\$good_class\\InprocServer32" /ve /t REG_SZ /d "$(qv_winpath "$asio_server")" /f >/dev/null
  qv_reg_add "$clsid_key\\$good_class\\InprocServer32" ThreadingModel REG_SZ Apartment
  qv_reg_add "$asio_key\\QvBrokenDriver" CLSID REG_SZ "$bad_class"
  qv_reg_add "$asio_key\\QvBrokenDriver" Description REG_SZ "Qv Broken Driver"
  qv_reg add "$clsid_key\\$bad_class\\InprocServer32" /ve /t REG_SZ /d "$(qv_winpath "$QV_STAGE/streamconv.dll")" /f >/dev/null
else
  qv_fail "the test ASIO driver is missing ($asio_server): build the testasio target"
fi

menu_state() { qvd menu "$FRAME" | grep -P "\t$1\t" | cut -f3; }
# The selected item's text of a list in the dialog.
selected() { qvd list "$DIALOG" "$1" | awk -F'\t' '$2 == "selected" { print $3 }'; }
key() { QV_DRIVE_LIMIT=20 qvd send-key "$DIALOG" "$1" >/dev/null; }
type_text() {
  local i
  for ((i = 0; i < ${#1}; i++)); do key "${1:i:1}"; done
}
# Opens the dialog (modal: posted, never sent) and leaves its handle in DIALOG.
open_dialog() {
  qvd post-command "$FRAME" 32771 >/dev/null
  DIALOG=$(qv_wait_window '#32770' 'Audio Settings:' 20)
  [ -n "$DIALOG" ] || qv_fail "$1: the dialog did not open"
  [ -n "$DIALOG" ]
}
# accept WHAT: presses Accept; the dialog must close.
accept() {
  qvd post-command "$DIALOG" 1045 >/dev/null
  check_ok "$1: Accept closes the dialog" qvd wait-gone "$DIALOG" 20
}
boxes() { grep -c . "$QV_WATCH_LOG"; }

start_program() {
  qv_watch_start "$1" "Configure Audio Settings=NO" "*=OK"
  qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  [ -n "$FRAME" ] || qv_fail "$1: no frame"
  sleep 1
}

close_program() {
  qvd close "$FRAME" >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$1: exit code"
  qv_stop
}

# ---- run 1: choose devices, format, buffers; typed values come back limited
start_program audiosettings_1.boxes
for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
if open_dialog first; then
  outputs=$(qvd list "$DIALOG" 1039)
  inputs=$(qvd list "$DIALOG" 1038)
  check_eq $'0\tselected\t<none>' "$(printf '%s\n' "$outputs" | head -1)" "first: outputs start with <none>, selected"
  check_contains "$outputs" $'\tQvOutA' "first: the outputs list the null sink QvOutA"
  check_contains "$inputs" $'\tMonitor of QvOutB' "first: the inputs list the monitor of QvOutB"
  formats=$(qvd list "$DIALOG" 1048)
  check_eq 16 "$(printf '%s\n' "$formats" | grep -c .)" "first: sixteen formats"
  check_eq $'5\tselected\t44100 smp/sec, 16 Bits, Stereo' "$(printf '%s\n' "$formats" | sed -n 6p)" \
    "first: the default format is selected"
  check_eq $'15\t-\t96000 smp/sec, 24 Bits, Stereo' "$(printf '%s\n' "$formats" | sed -n 16p)" "first: the last format"
  check_eq "2 4 8 16 32 64" "$(qvd list "$DIALOG" 1019 | cut -f3 | tr '\n' ' ' | sed 's/ $//')" "first: buffer counts"
  check_eq 2 "$(selected 1019)" "first: two buffers selected"
  check_eq "40 ms" "$(qvd text "$DIALOG" 1042)" "first: latency"
  check_eq 2 "$(qvd text "$DIALOG" 1043)" "first: output delay"
  check_eq "120.0 bpm" "$(qvd text "$DIALOG" 1121)" "first: tempo"
  drivers=$(qvd list "$DIALOG" 1040)
  check_eq $'0\tselected\t<none>' "$(printf '%s\n' "$drivers" | head -1)" "first: no ASIO driver selected"
  [ -n "$have_asio" ] && check_contains "$drivers" $'\t'"$long_name" "first: the ASIO list shows the long name whole"

  check_ok "first: choose QvOutA" qvd list "$DIALOG" 1039 QvOutA
  check_ok "first: choose Monitor of QvOutB" qvd list "$DIALOG" 1038 "Monitor of QvOutB"
  check_ok "first: choose 48 kHz stereo" qvd list "$DIALOG" 1048 "48000 smp/sec, 16 Bits, Stereo"
  check_ok "first: choose four buffers" qvd list "$DIALOG" 1019 4

  # Typed through the keyboard: the first tab stop is the DirectX button,
  # then the two device lists, the formats, the latency edit.
  for k in tab tab tab tab; do key "$k"; done
  type_text 250
  key tab
  check_eq "100 ms" "$(qvd text "$DIALOG" 1042)" "first: a latency of 250 comes back as 100 ms"
  key tab
  type_text 99
  key tab
  check_eq 10 "$(qvd text "$DIALOG" 1043)" "first: an output delay of 99 comes back as 10"
  key tab  # the ASIO list is disabled: the tempo edit is next
  type_text 250
  key tab
  check_eq "200.0 bpm" "$(qvd text "$DIALOG" 1121)" "first: a tempo of 250 comes back as 200.0 bpm"
  key shift+tab
  type_text xyz
  key tab
  check_eq "60.0 bpm" "$(qvd text "$DIALOG" 1121)" "first: letters for the tempo come back as 60.0 bpm"
  # Back to the latency edit; Enter presses Accept without leaving the edit.
  for k in shift+tab shift+tab shift+tab shift+tab shift+tab; do key "$k"; done
  type_text 3
  key enter
  check_ok "first: Enter accepts" qvd wait-gone "$DIALOG" 20
  qv_shot audiosettings_first
  check_eq grayed "$(menu_state 32797)" "first: no driver, the ASIO control panel is grayed"
fi
close_program first
check_eq 0 "$(grep -vc '^Configure Audio Settings' "$QV_WATCH_LOG")" "first: no report besides the question"
check_eq QvOutA "$(qv_reg_get "$QV_KEY" DxOutput)" "first: DxOutput"
check_eq "Monitor of QvOutB" "$(qv_reg_get "$QV_KEY" DxInput)" "first: DxInput"
# DirectSound, 3 ms typed and limited to 5 on Enter, format 6, 4 buffers, delay 10.
check_eq 000506040a "$(qv_reg_get "$QV_KEY" st001)" "first: st001"
st002=$(qv_reg_get "$QV_KEY" st002)
check_eq 00007042 "${st002:32:8}" "first: the tempo is 60.0"

# ---- run 2: the choice shows again; ASIO drivers come and go
start_program audiosettings_2.boxes
check_eq 0 "$(grep -c '^Configure Audio Settings' "$QV_WATCH_LOG")" "second: devices open, no question"
if open_dialog second; then
  check_eq QvOutA "$(selected 1039)" "second: QvOutA selected"
  check_eq "Monitor of QvOutB" "$(selected 1038)" "second: Monitor of QvOutB selected"
  check_eq "48000 smp/sec, 16 Bits, Stereo" "$(selected 1048)" "second: the format selected"
  check_eq 4 "$(selected 1019)" "second: four buffers selected"
  check_eq "5 ms" "$(qvd text "$DIALOG" 1042)" "second: latency"
  check_eq 10 "$(qvd text "$DIALOG" 1043)" "second: output delay"
  check_eq "60.0 bpm" "$(qvd text "$DIALOG" 1121)" "second: tempo"
  if [ -n "$have_asio" ]; then
    qvd post-command "$DIALOG" 1080 >/dev/null
    check_ok "second: choose the long-named driver" qvd list "$DIALOG" 1040 "$long_name"
    accept "second, long-named driver"
    check_eq enabled "$(menu_state 32797)" "second: a driver is open, the ASIO control panel is enabled"

    open_dialog "second, broken driver"
    check_eq "$long_name" "$(selected 1040)" "second: the open driver is selected"
    qvd list "$DIALOG" 1040 "Qv Broken Driver" >/dev/null
    before=$(boxes)
    qvd post-command "$DIALOG" 1045 >/dev/null
    for _ in $(seq 100); do [ "$(boxes)" -gt "$before" ] && break; sleep 0.1; done
    check_contains "$(tail -n +"$((before + 1))" "$QV_WATCH_LOG")" $'Error #185\tError opening asio device' \
      "second: a driver that cannot be created is reported"
    sleep 0.5
    check_ok "second: the dialog stays open after the failure" qvd title "$DIALOG"
    qvd post-command "$DIALOG" 1046 >/dev/null
    check_ok "second: Cancel closes the dialog" qvd wait-gone "$DIALOG" 20
    check_eq grayed "$(menu_state 32797)" "second: failed Accept then Cancel, no driver: grayed"

    open_dialog "second, no driver"
    qvd list "$DIALOG" 1040 "<none>" >/dev/null
    accept "second, no driver"
    check_eq grayed "$(menu_state 32797)" "second: ASIO with no driver, grayed"

    open_dialog "second, driver again"
    qvd list "$DIALOG" 1040 "$long_name" >/dev/null
    accept "second, driver again"
    check_eq enabled "$(menu_state 32797)" "second: the driver again, enabled"
  else
    qvd post-command "$DIALOG" 1046 >/dev/null
  fi
  qv_shot audiosettings_second
fi
close_program second
if [ -n "$have_asio" ]; then
  check_eq "$short_name" "$(qv_reg_get "$QV_KEY" AsioDevice)" "second: the driver is stored by its short name"
  st001=$(qv_reg_get "$QV_KEY" st001)
  check_eq 01 "${st001:0:2}" "second: the device system is ASIO"
  check_eq "<none>" "$(qv_reg_get "$QV_KEY" DxOutput)" "second: DirectSound output closed"

  # ---- run 3: the long-named driver opens again at start and shows selected
  # The driver writes what it is asked to a log, and asks for a reset
  # before its 50th buffer switch (about a quarter second of live input).
  asio_log="$QV_E2E_DIR/testasio.log"
  rm -f "$asio_log"
  export QV_TESTASIO_LOG QV_TESTASIO_RESET_AT=50
  QV_TESTASIO_LOG=$(qv_winpath "$asio_log")
  start_program audiosettings_3.boxes
  check_eq enabled "$(menu_state 32797)" "third: the stored driver opened at start"
  if open_dialog third; then
    check_eq "$long_name" "$(selected 1040)" "third: the driver is selected"
    qvd post-command "$DIALOG" 1046 >/dev/null
    check_ok "third: Cancel closes the dialog" qvd wait-gone "$DIALOG" 20
  fi
  asio_calls() { tr -d '\r' <"$asio_log" 2>/dev/null | grep -c -x "$1"; }
  qvd send-key "$FRAME" ctrl+l >/dev/null
  for _ in $(seq 100); do [ "$(asio_calls start)" -ge 2 ] && break; sleep 0.1; done
  sleep 1
  echo "test driver log: $(tr -d '\r' <"$asio_log" 2>/dev/null | tr '\n' '|')"
  check_eq checked "$(menu_state 32772)" "third: live input runs on the ASIO driver"
  check_eq "2 1" "$(asio_calls start) $(asio_calls stop)" \
    "third: the driver's reset request restarted live input by itself (two starts, one stop)"
  qvd post-command "$FRAME" 32797 >/dev/null
  for _ in $(seq 50); do [ "$(asio_calls 'control panel')" -ge 1 ] && break; sleep 0.1; done
  check_eq 1 "$(asio_calls 'control panel')" "third: ASIO Control Panel reaches the driver"
  check_eq "enabled 2" "$(menu_state 32772) $(asio_calls stop)" "third: the control panel stopped live input first"
  unset QV_TESTASIO_LOG QV_TESTASIO_RESET_AT
  close_program third
  check_eq 0 "$(boxes)" "third: no reports"

  # ---- run 4: inputs in a sample type no converter reads (1-bit DSD)
  export QV_TESTASIO_INPUT_TYPE=32
  start_program audiosettings_4.boxes
  qvd post-command "$FRAME" 32772 >/dev/null
  for _ in $(seq 50); do [ "$(boxes)" -gt 0 ] && break; sleep 0.1; done
  check_file_line "$QV_WATCH_LOG" $'Error #245\tSelected ASIO input audio format does not supported\tOK' \
    "fourth: an input format the program cannot read is reported"
  for _ in $(seq 30); do [ "$(menu_state 32772)" = enabled ] && break; sleep 0.2; done
  check_eq enabled "$(menu_state 32772)" "fourth: live input stopped after the report"
  unset QV_TESTASIO_INPUT_TYPE
  close_program fourth
fi

asio_cleanup
qv_reg_delete_key "$QV_KEY"
