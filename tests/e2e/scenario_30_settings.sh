# Settings: values seeded in the key are taken, survive a run unchanged and
# a change made in the program persists into the next run; damaged values
# (wrong sizes and types, a NaN gain, a minimised placement, a format of
# 200) come back normalised.
# shellcheck shell=bash

qv_reg_delete_key "$QV_KEY"
# Stored without its trailing backslash: the program adds it.
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")"

# run_once NAME: one start, the configuration question answered No, then
# the frame closed; leaves the frame's handle in FRAME while it runs and
# calls the scenario's function "during_NAME" (if any) before closing.
run_once() {
  local name=$1
  qv_watch_start "settings_$name.boxes" "Configure Audio Settings=NO" "*=OK"
  qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  if [ -z "$FRAME" ]; then
    qv_fail "$name: no frame"
    qv_stop
    return 1
  fi
  # The question comes after the frame is shown: wait until it was answered.
  for _ in $(seq 100); do grep -q '^Configure Audio Settings' "$QV_WATCH_LOG" && break; sleep 0.1; done
  if declare -F "during_$name" >/dev/null; then "during_$name"; fi
  qv_shot "settings_$name"
  qvd close "$FRAME" >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "$name: exit code"
  qv_stop
}

key_is() { check_eq "$2" "$(qv_reg_get "$QV_KEY" "$1")" "$3: $1"; }

# ---- run 1: seeded values are taken and written back unchanged, plus the metronome
st001=001e090403                                   # DirectSound, 30 ms, format 9, 4 buffers, delay 3
st002=0000003f0000803f0000803e05006400 # gains 0.5, 1.0, threshold 0.25, 5 ms, 100 ms
st002=${st002}0000c2420001                          # 97 bpm, metronome off, DC remover on
st003=000100072c01                                 # dry off, accompaniment on, RAM off, format 7, 300 s
ww001=0100000064000000840300003200000076020000     # normal, left 100 right 900 top 50 bottom 630
ww002=0a00000014000000002800000064000000
ww002=${ww002}3c000000aa000000
qv_reg_add "$QV_KEY" st001 REG_BINARY "$st001"
qv_reg_add "$QV_KEY" st002 REG_BINARY "$st002"
qv_reg_add "$QV_KEY" st003 REG_BINARY "$st003"
qv_reg_add "$QV_KEY" ww001 REG_BINARY "$ww001"
qv_reg_add "$QV_KEY" ww002 REG_BINARY "$ww002"
qv_reg_add "$QV_KEY" DxOutput REG_SZ "No Such Device"
qv_reg_add "$QV_KEY" DxInput REG_SZ "<none>"
qv_reg_add "$QV_KEY" PrfLoad REG_SZ 'C:\perf\in.qvp'
qv_reg_add "$QV_KEY" PrfSave REG_SZ 'C:\perf\out.qvp'
qv_reg_add "$QV_KEY" AccOpen REG_SZ 'C:\songs\backing.wav'

during_seeded() {
  qvd post-command "$FRAME" 32813 >/dev/null
  sleep 0.5
  check_contains "$(qvd menu "$FRAME" | grep -P '\t32813\t')" checked "seeded: the metronome command checks its item"
}
run_once seeded
key_is st001 "$st001" seeded
key_is st002 "${st002%0001}0101" "seeded (metronome now on)"
key_is st003 "$st003" seeded
key_is ww001 "$ww001" seeded
key_is ww002 "$ww002" seeded
key_is DxOutput "<none>" "seeded (a device that is gone)"
key_is DxInput "<none>" seeded
key_is AsioDevice "<none>" seeded
key_is PrfLoad 'C:\perf\in.qvp' seeded
key_is PrfSave 'C:\perf\out.qvp' seeded
key_is AccOpen 'C:\songs\backing.wav' seeded
key_is AppDir "$(qv_winpath "$QV_STAGE")" "seeded (left as stored)"
check_contains "$(tr '\t' ' ' <"$QV_WATCH_LOG")" "Configure Audio Settings Before starting live input you must open output and input devices.\nDo it right now? NO" \
  "seeded: the configuration question without devices"

# ---- run 2: the change persists
during_persisted() {
  check_contains "$(qvd menu "$FRAME" | grep -P '\t32813\t')" checked "persisted: the metronome item is checked at start"
}
run_once persisted
key_is st002 "${st002%0001}0101" persisted

# ---- run 3: damaged values come back normalised
qv_reg_add "$QV_KEY" st001 REG_BINARY 001e0904                       # one byte short
qv_reg_add "$QV_KEY" st002 REG_BINARY 000020410000c07f0000803e2c01e8030000c24201ff  # gain 10, NaN, 300 ms, 1000 ms
qv_reg_add "$QV_KEY" st003 REG_BINARY 010100c8ffff                   # format 200, 65535 s
qv_reg_add "$QV_KEY" ww001 REG_BINARY 020000000083ffffa083ffff0083ffff1e83ffff  # minimised at -32000
qv_reg_add "$QV_KEY" ww002 REG_BINARY 0a000000                       # far too short
qv_reg_add "$QV_KEY" DxOutput REG_BINARY 3c6e6f6e653e                # "<none>" of the wrong type
run_once damaged
key_is st001 0028050202 "damaged (defaults)"
key_is st002 000080400000803f0000803ec800bc020000c2420101 "damaged (clamped, NaN dropped)"
key_is st003 010100055802 "damaged (format 5, 600 s)"
key_is ww002 000000800000008000280000006400000028000000aa000000 "damaged (defaults)"
key_is DxOutput "<none>" damaged
placement=$(qv_reg_get "$QV_KEY" ww001)
check_eq 02000000 "${placement:0:8}" "damaged: the frame stays minimised"
if [[ "$placement" == *0083ffff* ]]; then
  qv_fail "damaged: the parked rectangle of a minimised frame was stored ($placement)"
else
  qv_pass "damaged: a minimised frame stores its normal rectangle"
fi

qv_reg_delete_key "$QV_KEY"
