# WASAPI live input through PulseAudio's null sinks, against DirectSound in
# the same run: the program starts on DirectSound at its defaults (40 ms,
# two buffers), the capture-to-playback latency of a tone is measured; then
# WASAPI is chosen in Audio Settings with Exclusive mode (which Wine
# refuses: the fallback shows in the status bar, no box), live input
# carries the tone at half gain with the meters lit as for DirectSound, its latency is
# measured the same way, and a take records the tone. The choice survives
# a restart, and the device record still says DirectSound for releases
# that know nothing else.
# shellcheck shell=bash

work="$QV_E2E_DIR/wasapi"
rm -rf "$work"
mkdir -p "$work"

qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_reg_add "$QV_KEY" DxOutput REG_SZ QvOutA
qv_reg_add "$QV_KEY" DxInput REG_SZ "Monitor of QvOutB"
qv_reg_add "$QV_KEY" st001 REG_BINARY 0028050202
# Master gain 0.5, gate open, DC remover off: the tone passes at half gain.
qv_reg_add "$QV_KEY" st002 REG_BINARY 0000003f0000803f00000000050064000000f0420000
# Recorder: dry only, no accompaniment, to a file, 44.1 kHz 16-bit stereo, 200 s.
qv_reg_add "$QV_KEY" st003 REG_BINARY 0100000500c8

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 3 sine 1000 vol 0.5 2>/dev/null

boxes() { grep -c . "$QV_WATCH_LOG"; }
toggle_live() { qvd send-key "$FRAME" ctrl+l >/dev/null; sleep 1.5; }
status_text() { qvd text "$FRAME" 1130; }
onset() {
  sox "$1" -t dat - remix 1 2>/dev/null |
    awk '!/^;/ { if ($2 > 0.2 || $2 < -0.2) { print $1; exit } }'
}
# measure NAME: the tone into sink b while both monitors record; prints
# "LATENCY-MS GAIN-DB".
measure() {
  local name=$1 rec_out rec_in t_in t_out
  timeout 20 parecord --device=a.monitor --file-format=wav --rate=44100 --channels=2 "$work/$name.out.wav" &
  rec_out=$!
  timeout 20 parecord --device=b.monitor --file-format=wav --rate=44100 --channels=2 "$work/$name.in.wav" &
  rec_in=$!
  sleep 1
  timeout 20 paplay --device=b "$work/tone.wav"
  sleep 1
  kill "$rec_out" "$rec_in" 2>/dev/null
  wait "$rec_out" "$rec_in" 2>/dev/null
  t_in=$(onset "$work/$name.in.wav")
  t_out=$(onset "$work/$name.out.wav")
  local in_rms out_rms
  in_rms=$(rms_of "$work/$name.in.wav" 1.5 1.5)
  out_rms=$(rms_of "$work/$name.out.wav" 1.5 1.5)
  awk -v a="$t_in" -v b="$t_out" -v i="$in_rms" -v o="$out_rms" 'BEGIN {
    l = (a != "" && b != "") ? sprintf("%.0f", (b - a) * 1000) : "?"
    g = (i > 0 && o > 0) ? sprintf("%.1f", 20 * log(o / i) / log(10)) : "none"
    print l, g }'
}
# open_settings: Audio Settings from the frame, its handle in DIALOG. A
# command posted while the frame is still starting can go unanswered: it is
# posted once more before the scenario gives up.
open_settings() {
  qvd post-command "$FRAME" 32771 >/dev/null
  DIALOG=$(qv_wait_window '#32770' 'Audio Settings:' 5 2>/dev/null)
  if [ -z "$DIALOG" ]; then
    echo "no Audio Settings after 5 s: asking again"
    qvd post-command "$FRAME" 32771 >/dev/null
    DIALOG=$(qv_wait_window '#32770' 'Audio Settings:' 20)
  fi
}
half_gain() { awk -v g="$1" 'BEGIN { exit !(g != "none" && g > -7.0 && g < -5.0) }'; }

QV_APP_LIMIT=300 qv_watch_start wasapi.boxes "*=OK"
QV_APP_LIMIT=300 qv_start
FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
sleep 2

# ---- DirectSound at its defaults ------------------------------------------------
toggle_live
read -r ds_latency ds_gain < <(measure directsound)
echo "directsound (40 ms, 2 buffers): latency $ds_latency ms, gain $ds_gain dB"
toggle_live

# ---- WASAPI chosen in Audio Settings --------------------------------------------
open_settings
check_ok "the dialog offers WASAPI" test -n "$(qvd children "$DIALOG" | grep -P '\t1140\t')"
qvd post-command "$DIALOG" 1140 >/dev/null
sleep 0.5
check_eq "Default device" "$(qvd list "$DIALOG" 1143 | head -1 | cut -f3)" "the input list starts with the default device"
check_eq "Shared|Shared, low latency|Exclusive" "$(qvd list "$DIALOG" 1147 | cut -f3 | paste -sd'|')" "the three modes"
# The endpoints by their names when Wine lists them so; the defaults are the same sinks.
qvd list "$DIALOG" 1145 QvOutA >/dev/null 2>&1 || true
qvd list "$DIALOG" 1143 "Monitor of QvOutB" >/dev/null 2>&1 || true
check_ok "choose Exclusive" qvd list "$DIALOG" 1147 Exclusive
echo "endpoints: input [$(qvd list "$DIALOG" 1143 | awk -F'\t' '$2 == "selected" { print $3 }')]," \
  "output [$(qvd list "$DIALOG" 1145 | awk -F'\t' '$2 == "selected" { print $3 }')]"
qvd post-command "$DIALOG" 1045 >/dev/null
check_ok "Accept closes the dialog" qvd wait-gone "$DIALOG" 20

toggle_live
meter=$(qvd wait-window Quorvane_Meter_Class "Input VU Meter" 5 | cut -f1)
UNLIT=$(qvd pixels "$meter" 277 16 | cut -f2)
status=$(status_text)
echo "status: $status"
check_contains "$status" "WASAPI" "the status bar names WASAPI"
check_contains "$status" "Exclusive mode refused" "the status bar says exclusive mode was refused"
read -r wasapi_latency wasapi_gain < <(measure wasapi)
echo "wasapi: latency $wasapi_latency ms, gain $wasapi_gain dB"
echo "latency: directsound $ds_latency ms, wasapi $wasapi_latency ms" | tee "$work/measured.txt"
check_ok "WASAPI carries the tone at half gain ($wasapi_gain dB)" half_gain "$wasapi_gain"
check_ok "WASAPI's loop is shorter than DirectSound's at its defaults ($wasapi_latency against $ds_latency ms)" \
  awk -v w="$wasapi_latency" -v d="$ds_latency" 'BEGIN { exit !(w != "?" && d != "?" && w + 0 < d + 0) }'
check_ok "WASAPI's loop is under 80 ms ($wasapi_latency ms)" \
  awk -v w="$wasapi_latency" 'BEGIN { exit !(w != "?" && w + 0 < 80) }'
# The meters while the tone sounds again, against its captured peak: the
# input meter lights the peak's segments, the output meter half of it.
timeout 20 paplay --device=b "$work/tone.wav" &
tone=$!
sleep 1.5
in_lit=$(lit_segments "Input VU Meter")
out_lit=$(lit_segments "Output VU Meter")
wait "$tone"
in_peak=$(sox "$work/wasapi.in.wav" -n trim 1.5 1.5 stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
want_in=$(segments_for "$in_peak")
want_out=$(segments_for "$(awk -v p="$in_peak" 'BEGIN { print p / 2 }')")
echo "meters: captured peak $in_peak; lit input $in_lit (want $want_in), output $out_lit (want $want_out)"
check_ok "the input meter lights the tone's segments ($in_lit of 43, want $want_in)" near_segments "$in_lit" "$want_in"
check_ok "the output meter lights half the tone's segments ($out_lit of 43, want $want_out)" \
  near_segments "$out_lit" "$want_out"

# ---- a take through WASAPI ------------------------------------------------------
qvd post-command "$FRAME" 32794 >/dev/null
REC=$(qv_wait_window '#32770' 'Recording:' 20)
qvd post-command "$REC" 1106 >/dev/null
qvd file-dialog "Wave File To Record" "$(qv_winpath "$work/take.wav")" 20 >/dev/null
sleep 0.5
qvd post-command "$REC" 1109 >/dev/null
sleep 1
timeout 30 paplay --device=b "$work/tone.wav"
sleep 0.5
qvd post-command "$REC" 1109 >/dev/null
sleep 1
qvd close "$REC" >/dev/null
qvd wait-gone "$REC" 10 >/dev/null
peak=$(sox "$work/take.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
length=$(soxi -D "$work/take.wav" 2>/dev/null)
echo "take: $length s, peak $peak"
check_ok "the take holds the tone at half gain (peak $peak)" awk -v p="$peak" 'BEGIN { exit !(p > 0.15 && p < 0.35) }'
check_eq 0 "$(boxes)" "no box along the way"

qvd close "$FRAME" >/dev/null
qv_wait_exit 20
qv_stop
# The device record says DirectSound; the choice is beside it.
check_eq 0028050202 "$(qv_reg_get "$QV_KEY" st001 | tr -d ' ' | tr '[:upper:]' '[:lower:]')" \
  "the device record still says DirectSound"
check_eq 01020028050202 "$(qv_reg_get "$QV_KEY" st004 | tr -d ' ' | tr '[:upper:]' '[:lower:]')" \
  "WASAPI and its mode are stored beside it"

# ---- the chosen output device lost during a take --------------------------------
module=$(timeout 5 pactl load-module module-null-sink sink_name=qvgone sink_properties=device.description=QvGone 2>/dev/null)
if [ -n "$module" ]; then
  QV_APP_LIMIT=120 qv_watch_start wasapi_lost.boxes "*=OK"
  QV_APP_LIMIT=120 qv_start
  FRAME=$(qv_wait_window Quorvane_Main_Class - 40)
  sleep 2
  open_settings
  check_ok "lost device: the new sink is chosen" qvd list "$DIALOG" 1145 QvGone
  qvd list "$DIALOG" 1147 Shared >/dev/null
  qvd post-command "$DIALOG" 1045 >/dev/null
  qvd wait-gone "$DIALOG" 20 >/dev/null
  qvd post-command "$FRAME" 32794 >/dev/null
  REC=$(qv_wait_window '#32770' 'Recording:' 20)
  qvd post-command "$REC" 1106 >/dev/null
  qvd file-dialog "Wave File To Record" "$(qv_winpath "$work/lost.wav")" 20 >/dev/null
  sleep 0.5
  qvd post-command "$REC" 1109 >/dev/null
  timeout 30 paplay --device=b "$work/tone.wav"
  timeout 5 pactl unload-module "$module"
  for _ in $(seq 100); do [ "$(boxes)" -gt 0 ] && break; sleep 0.1; done
  sleep 1
  echo "lost device: boxes: $(tr '\n' '|' <"$QV_WATCH_LOG")"
  check_file_line "$QV_WATCH_LOG" $'Error #273\tThe sound device was removed or changed. Live input stopped.\tOK' \
    "lost device: one message says live input stopped"
  check_eq 1 "$(grep -c '#273' "$QV_WATCH_LOG")" "lost device: said once"
  check_eq "Quorvane Live 1.21" "$(qvd title "$FRAME" | cut -f2-)" "lost device: the program survives"
  qvd close "$REC" >/dev/null
  qvd wait-gone "$REC" 10 >/dev/null
  peak=$(sox "$work/lost.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
  echo "lost device: the take's peak $peak, $(soxi -D "$work/lost.wav" 2>/dev/null) s"
  check_ok "lost device: the take keeps the tone it had (peak $peak)" \
    awk -v p="$peak" 'BEGIN { exit !(p > 0.15 && p < 0.35) }'
  qvd post-command "$FRAME" 105 >/dev/null
  qv_wait_exit 30 && check_eq 0 "$QV_EXIT" "lost device: exit code"
  qv_stop
else
  qv_fail "lost device: could not load an extra null sink"
fi
qv_reg_delete_key "$QV_KEY"
