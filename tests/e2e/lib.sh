# Functions for the end-to-end scenarios: the program runs inside a Wine
# virtual desktop and qvdrive.exe (same Wine server) finds, reads and pokes
# its windows. Sourced by run.sh and by every scenario_*.sh.
#
# The scenarios have a Wine prefix and an X display of their own
# (build/e2e/wineprefix, :96): they rewrite the program's registry key and,
# when something hangs, end the whole Wine server, which must not disturb the
# unit tests' prefix. PulseAudio is shared with scripts/services.sh.
# shellcheck shell=bash

qv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
QV_E2E_DIR="$qv_root/build/e2e"
QV_STAGE="${QV_STAGE:-$qv_root/build/windows/stage}"
QV_EXE_NAME=QuorvaneLive.exe
QV_EXE="${QV_EXE:-$QV_STAGE/$QV_EXE_NAME}"
QV_DESKTOP=qv
QV_KEY='HKCU\SOFTWARE\Quorvane Software\Quorvane Live\1'
QV_RESULTS="${QV_RESULTS:-$QV_E2E_DIR/results.txt}"
# The scenario's name, used in results and for its files.
QV_SCENARIO="${QV_SCENARIO:-manual}"

# qvdrive: the build's copy, else one compiled by hand into build/e2e.
if [ -z "${QV_DRIVE:-}" ]; then
  QV_DRIVE="$qv_root/build/windows/tests/qvdrive.exe"
  [ -f "$QV_DRIVE" ] || QV_DRIVE="$QV_E2E_DIR/qvdrive.exe"
fi

mkdir -p "$QV_E2E_DIR"

export WINEPREFIX="${QV_E2E_PREFIX:-$QV_E2E_DIR/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export DISPLAY="${QV_E2E_DISPLAY:-:96}"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$qv_root/build/runtime}"

# Windows form of a Linux path (Z:\...); no Wine start needed for that.
qv_winpath() {
  local p
  p=$(readlink -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# ---- services ---------------------------------------------------------------

qv_e2e_started=()

# Starts the display, the sound server and the prefix's Wine server if they
# are not running; qv_services_stop stops what this shell started.
qv_services_start() {
  local n=${DISPLAY#:}
  if [ ! -S "/tmp/.X11-unix/X$n" ]; then
    rm -f "/tmp/.X$n-lock"
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    qv_e2e_started+=($!)
    for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  if ! timeout 5 pactl info >/dev/null 2>&1; then
    pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
      --load=module-native-protocol-unix \
      --load="module-null-sink sink_name=a sink_properties=device.description=QvOutA" \
      --load="module-null-sink sink_name=b sink_properties=device.description=QvOutB" >/dev/null 2>&1 || true
    for _ in $(seq 50); do timeout 5 pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    timeout 5 pactl set-default-source b.monitor >/dev/null 2>&1 || true
    qv_e2e_pulse=1
  fi
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "e2e: creating the Wine prefix $WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1 </dev/null || true
    # What the first start leaves running slows every program after it
    # several times over (15 s instead of 2 for a start and a box); the
    # server and its processes are ended before the persistent one starts.
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    timeout 20 wineserver -w >/dev/null 2>&1 || true
  fi
  qv_marlett
  qv_wine_up
  # A crash must end the program, not open winedbg's dialog.
  qv_reg_add 'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0
}

# Wine draws caption buttons with the Marlett font, which it does not find
# in Debian's fonts-wine folder on its own: without it they show as the
# letters "0 1 r". A copy in the prefix's Fonts folder is found.
qv_marlett() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  [ -f /usr/share/wine/fonts/marlett.ttf ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ] &&
    cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
  return 0
}

# A persistent Wine server and Wine's own services, holding /dev/null
# rather than a caller's pipe.
qv_wine_up() {
  timeout 10 wineserver -p >/dev/null 2>&1 </dev/null || true
  timeout 120 wineboot >/dev/null 2>&1 </dev/null || true
}

# Ends every Wine process of the prefix; used after a hang.
qv_wine_reset() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
  qv_wine_up
}

qv_services_stop() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  [ -n "${qv_e2e_pulse:-}" ] && pulseaudio --kill >/dev/null 2>&1
  local pid
  for pid in "${qv_e2e_started[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
  return 0
}

# ---- the driver ---------------------------------------------------------------

# qvd COMMAND ARGS...: runs qvdrive under a time limit (QV_DRIVE_LIMIT,
# default 60 s beyond which a command is taken as hung), prints its result
# lines and returns its exit code (0 ok, 1 failed, 2 timed out).
# The driver makes its output file before it does anything, so a command
# whose driver left none never ran (Wine did not start it) and is run
# again, up to twice, and reported. One that ran is never repeated: it
# may have acted.
qvd() {
  local out rc try
  out=$(mktemp -u "$QV_E2E_DIR/qvd.XXXXXX")
  for try in 1 2 3; do
    rm -f "$out"
    timeout -k 5 "${QV_DRIVE_LIMIT:-60}" wine "$QV_DRIVE" --out "$(qv_winpath "$out")" "$@" >/dev/null 2>&1 </dev/null
    rc=$?
    [ ! -e "$out" ] || break
    echo "qvd $*: the driver never ran (exit $rc, try $try)" >&2
    sleep 0.5
  done
  [ ! -e "$out" ] || tr -d '\r' <"$out"
  rm -f "$out"
  [ "$rc" -eq 124 ] && rc=2
  return "$rc"
}

# qv_wait_window CLASS TITLE SECONDS: the window's handle (hex) on stdout.
# Anything but a plain time-out (a driver that never ran, or warned that
# it could not reach the desktop) is reported.
qv_wait_window() {
  local line rc
  line=$(QV_DRIVE_LIMIT=$((${3%.*} + 30)) qvd wait-window "$@")
  rc=$?
  if [ "$rc" -ne 0 ]; then
    [[ "$line" == "timeout waiting for window"* ]] ||
      echo "qv_wait_window $*: the driver said [$(printf '%s' "$line" | tr '\n' '|')] (exit $rc)" >&2
    return "$rc"
  fi
  printf '%s\n' "${line%%$'\t'*}"
}

# ---- the test ASIO driver ---------------------------------------------------------

# The test driver (tests/modules/testasio_com.cpp, a COM server) registered
# in the prefix under HKLM\Software\ASIO\KEY as "Quorvane Test Driver";
# qv_test_asio_remove KEY takes it away again.
QV_TEST_ASIO_NAME="Quorvane Test Driver"
QV_TEST_ASIO_CLASS="{5A1C0E21-3B7D-4C8E-9F10-2A6B4D8E0C31}"
qv_test_asio_server() { echo "$(dirname "$QV_DRIVE")/../testmodules/testasio.dll"; }
qv_test_asio_remove() {
  qv_reg_delete_key "HKLM\\Software\\ASIO\\$1"
  qv_reg_delete_key "HKLM\\Software\\Classes\\CLSID\\$QV_TEST_ASIO_CLASS"
}
qv_test_asio_register() {  # KEY
  local clsid="HKLM\\Software\\Classes\\CLSID\\$QV_TEST_ASIO_CLASS"
  qv_test_asio_remove "$1"
  qv_reg_add "HKLM\\Software\\ASIO\\$1" CLSID REG_SZ "$QV_TEST_ASIO_CLASS"
  qv_reg_add "HKLM\\Software\\ASIO\\$1" Description REG_SZ "$QV_TEST_ASIO_NAME"
  qv_reg add "$clsid\\InprocServer32" /ve /t REG_SZ /d "$(qv_winpath "$(qv_test_asio_server)")" /f >/dev/null
  qv_reg_add "$clsid\\InprocServer32" ThreadingModel REG_SZ Apartment
}

# ---- the program ----------------------------------------------------------------

# qv_start ARGS...: starts the program inside the virtual desktop, through
# qvdrive's "run", which records its process id and exit code in
# $QV_RUN_FILE. The whole run is limited by QV_APP_LIMIT (default 120 s).
qv_start() {
  QV_RUN_FILE="$QV_E2E_DIR/$QV_SCENARIO.run.txt"
  : >"$QV_RUN_FILE"
  timeout -k 5 "${QV_APP_LIMIT:-120}" wine explorer "/desktop=$QV_DESKTOP,1280x1024" \
    "$(qv_winpath "$QV_DRIVE")" --out "$(qv_winpath "$QV_RUN_FILE")" \
    run "$(qv_winpath "$QV_EXE")" "$@" >/dev/null 2>&1 </dev/null &
  QV_PID=$!
}

# qv_watch_start LOGNAME RULES...: answers every message box by the rules
# (e.g. "Configure Audio Settings=NO" "*=OK"; "text:PATTERN=BUTTON" matches
# the text), one line per box in $QV_E2E_DIR/LOGNAME: caption, text, button.
# Every top-level window that showed is listed in $QV_WINDOWS_LOG
# ("class<TAB>title"). It ends when the program has come and gone.
qv_watch_start() {
  QV_WATCH_LOG="$QV_E2E_DIR/$1"
  QV_WINDOWS_LOG="$QV_E2E_DIR/$1.windows"
  shift
  : >"$QV_WATCH_LOG"
  : >"$QV_WINDOWS_LOG"
  timeout -k 5 "${QV_APP_LIMIT:-120}" wine "$QV_DRIVE" watch "$(qv_winpath "$QV_WATCH_LOG")" "$@" \
    --windows "$(qv_winpath "$QV_WINDOWS_LOG")" \
    --until-exit "$QV_EXE_NAME" --max "${QV_APP_LIMIT:-120}" >/dev/null 2>&1 </dev/null &
  QV_WATCH_PID=$!
}

# qv_wait_exit SECONDS: waits for the program's end; its exit code in
# QV_EXIT (empty when it did not end in time, then returns 2).
qv_wait_exit() {
  local limit=$(($1 * 10)) i
  QV_EXIT=
  for ((i = 0; i < limit; i++)); do
    if grep -q '^exit ' "$QV_RUN_FILE" 2>/dev/null; then
      QV_EXIT=$(sed -n 's/^exit \([0-9]*\).*/\1/p' "$QV_RUN_FILE" | tail -1)
      return 0
    fi
    sleep 0.1
  done
  return 2
}

# The program's Windows process id (from qvdrive's run record).
qv_app_pid() { sed -n 's/^pid \([0-9]*\).*/\1/p' "$QV_RUN_FILE" 2>/dev/null | tail -1; }

# qv_stop: ends what the scenario started: the program if still running,
# the watcher, the desktop. After a hang the Wine server goes with them.
qv_stop() {
  if ! qv_wait_exit 1; then
    QV_DRIVE_LIMIT=20 qvd kill "$QV_EXE_NAME" >/dev/null || qv_wine_reset
  fi
  local pid
  for pid in "${QV_WATCH_PID:-}" "${QV_PID:-}"; do
    [ -n "$pid" ] || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
  QV_WATCH_PID= QV_PID=
}

# qv_shot NAME: screenshot of the whole display to build/e2e/NAME.png.
qv_shot() {
  timeout 20 import -display "$DISPLAY" -window root "$QV_E2E_DIR/$1.png" >/dev/null 2>&1
}

# ---- the program's resources ---------------------------------------------------------

# qv_linux_pid: the Linux process id of the program running in this
# scenario's prefix (Wine names a Windows process's thread after its
# executable, cut to 15 characters).
qv_linux_pid() {
  local p
  for p in $(pgrep -x "${QV_EXE_NAME:0:15}"); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && { echo "$p"; return 0; }
  done
  return 1
}

# qv_resources: one line of NAME=VALUE fields (tab-separated) for the
# running program: qvdrive's procstats (the Windows calls' answers, see
# qvdrive.cpp) followed by what Linux knows of the Wine process that runs
# it: anon (resident anonymous memory plus swap, bytes: what Windows calls
# private bytes; Wine reports PrivateUsage 0 for another process), fds
# (open file descriptors) and lthreads (threads).
qv_resources() {
  local win pid anon swap fds lthreads
  win=$(QV_DRIVE_LIMIT=30 qvd procstats "$QV_EXE_NAME" | tail -1)
  pid=$(qv_linux_pid)
  if [ -n "$pid" ]; then
    anon=$(awk '/^RssAnon:/ { print $2 * 1024 }' "/proc/$pid/status" 2>/dev/null)
    swap=$(awk '/^VmSwap:/ { print $2 * 1024 }' "/proc/$pid/status" 2>/dev/null)
    lthreads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
    fds=$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
  fi
  printf '%s\tanon=%s\tfds=%s\tlthreads=%s\n' "$win" "$((${anon:--1} + ${swap:-0}))" "${fds:--1}" "${lthreads:--1}"
}

# ---- registry -------------------------------------------------------------------

# qv_seed_devices: live input on the test sinks with DirectSound: output
# QvOutA, input the monitor of QvOutB (where a tone is played in); 40 ms,
# 44.1 kHz 16-bit stereo, 2 buffers, 2 ms output delay.
qv_seed_devices() {
  qv_reg_add "$QV_KEY" DxOutput REG_SZ QvOutA
  qv_reg_add "$QV_KEY" DxInput REG_SZ "Monitor of QvOutB"
  qv_reg_add "$QV_KEY" st001 REG_BINARY 0028050202
}

qv_reg() { timeout 60 wine reg "$@" </dev/null 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# qv_reg_add KEY [NAME TYPE DATA]: creates the key, and sets the value if
# given. REG_BINARY data is hex ("0a1bff"); REG_DWORD decimal or 0x hex.
# A write that fails is tried twice more, and reported: a scenario that
# goes on with its settings half seeded fails far from the cause.
qv_reg_add() {
  local try
  for try in 1 2 3; do
    if [ $# -ge 4 ]; then
      qv_reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null && return 0
    else
      qv_reg add "$1" /f >/dev/null && return 0
    fi
    echo "qv_reg_add: writing $1 ${2:-} failed (try $try)" >&2
    sleep 0.5
  done
  return 1
}

# qv_reg_get KEY NAME: the value's data (REG_BINARY as lower-case hex,
# REG_DWORD as 0x hex as reg prints it); returns 1 when absent.
qv_reg_get() {
  local out
  out=$(qv_reg query "$1" /v "$2") || return 1
  printf '%s\n' "$out" | awk -v name="$2" '
    { line = $0; sub(/^[ \t]+/, "", line) }
    index(line, name) == 1 {
      rest = substr(line, length(name) + 1)
      if (match(rest, /^[ \t]+REG_[A-Z_]+[ \t]*/)) {
        type = substr(rest, RSTART, RLENGTH); gsub(/[ \t]/, "", type)
        data = substr(rest, RSTART + RLENGTH)
        if (type == "REG_BINARY") data = tolower(data)
        print data; found = 1; exit
      }
    }
    END { exit !found }'
}

qv_reg_delete_key() { qv_reg delete "$1" /f >/dev/null 2>&1; return 0; }
qv_reg_delete_value() { qv_reg delete "$1" /v "$2" /f >/dev/null 2>&1; return 0; }
qv_reg_has_key() { qv_reg query "$1" >/dev/null 2>&1; }

# ---- WAV files ------------------------------------------------------------------

# wav_header FILE: "riff data size channels rate bits" of a WAV file's
# 44-byte header (size: the file's length on disk).
wav_header() {
  python3 - "$1" <<'EOF'
import os, struct, sys
data = open(sys.argv[1], 'rb').read(44)
riff, = struct.unpack_from('<I', data, 4)
channels, rate = struct.unpack_from('<HI', data, 22)
bits, = struct.unpack_from('<H', data, 34)
size, = struct.unpack_from('<I', data, 40)
print(riff, size, os.path.getsize(sys.argv[1]), channels, rate, bits)
EOF
}

# sizes_valid FILE BLOCK-ALIGN: the header's sizes agree with the file:
# RIFF = data + 36, data = file - 44 (less a partial frame at most), a
# whole number of frames.
sizes_valid() {
  local riff data size ch rate bits
  read -r riff data size ch rate bits < <(wav_header "$1")
  [ -n "$size" ] && [ "$riff" -eq $((data + 36)) ] && [ $((data % $2)) -eq 0 ] && [ "$data" -le $((size - 44)) ] &&
    [ $((size - 44 - data)) -lt "$2" ]
}

# rms_of FILE FROM SECONDS: RMS amplitude (sox stat) of that stretch.
rms_of() { sox "$1" -n trim "$2" "$3" stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }

# ---- the VU meters ----------------------------------------------------------------

# lit_segments TITLE: how many of the meter's upper row of 43 segments
# differ from the colour of an unlit one ($UNLIT, read while it was silent).
lit_segments() {
  local meter points k
  meter=$(qvd wait-window Quorvane_Meter_Class "$1" 5 | cut -f1)
  points=""
  for k in $(seq 0 42); do points+=" $((67 + 5 * k)) 16"; done
  # shellcheck disable=SC2086
  qvd pixels "$meter" $points | awk -F'\t' -v u="$UNLIT" '$2 != u { n++ } END { print n + 0 }'
}
segments_for() {  # PEAK: the segments a linear peak lights
  awk -v p="$1" 'BEGIN { if (p <= 0) { print 0; exit } n = int((80 + 20 * log(p) / log(10)) * 43 / 80);
                         print (n < 0 ? 0 : (n > 43 ? 43 : n)) }'
}
# near_segments LIT WANT: LIT is WANT or one segment fewer (a block's peak
# may fall a segment below the file's).
near_segments() { [ -n "$1" ] && [ "$1" -le "$2" ] && [ "$1" -ge $(($2 - 1)) ]; }

# qv_epoch: the clock qvdrive's "press" lines are read against (seconds,
# with milliseconds).
qv_epoch() { date +%s.%3N; }

# ---- results ----------------------------------------------------------------------

# Each check appends one line to $QV_RESULTS ("PASS|FAIL scenario: what");
# the runner counts them, so scenarios in subshells add to one total.
qv_pass() { echo "PASS $QV_SCENARIO: $*" | tee -a "$QV_RESULTS"; }
qv_fail() { echo "FAIL $QV_SCENARIO: $*" | tee -a "$QV_RESULTS"; }

# check_eq EXPECTED ACTUAL WHAT
check_eq() {
  if [ "$1" == "$2" ]; then qv_pass "$3"; else qv_fail "$3: expected [$1], got [$2]"; fi
}

# check_contains HAYSTACK NEEDLE WHAT
check_contains() {
  if [[ "$1" == *"$2"* ]]; then qv_pass "$3"; else qv_fail "$3: [$2] not in [$1]"; fi
}

# check_ok WHAT COMMAND...: the command succeeds.
check_ok() {
  local what=$1
  shift
  if "$@"; then qv_pass "$what"; else qv_fail "$what (exit $?)"; fi
}

# check_file_line FILE EXPECTED-LINE WHAT: the file has exactly that line.
check_file_line() {
  if grep -qxF -- "$2" "$1" 2>/dev/null; then qv_pass "$3"; else
    qv_fail "$3: no line [$2] in $(basename "$1"): [$(tr '\n' '|' <"$1" 2>/dev/null)]"
  fi
}

# qv_summary: "N passed, M failed" on its own line; non-zero on a failure.
qv_summary() {
  local p f
  p=$(grep -c '^PASS ' "$QV_RESULTS" 2>/dev/null)
  f=$(grep -c '^FAIL ' "$QV_RESULTS" 2>/dev/null)
  echo "${p:-0} passed, ${f:-0} failed"
  [ "${f:-0}" -eq 0 ]
}
