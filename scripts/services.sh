# Sourced by the test and run scripts: starts the services the Windows tests
# use (an X display, a PulseAudio daemon with two null sinks, the project's
# Wine prefix) and stops what it started when the calling shell exits.
# shellcheck shell=bash

qv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$qv_root/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export QV_WINEPREFIX="$WINEPREFIX"

qv_started=()

# X display for windows and dialogs.
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:97
  if ! pgrep -f "Xvfb :97" >/dev/null 2>&1; then
    # A server that died leaves its lock and socket behind.
    rm -f /tmp/.X97-lock /tmp/.X11-unix/X97
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    qv_started+=($!)
    for _ in $(seq 50); do [ -S /tmp/.X11-unix/X97 ] && break; sleep 0.1; done
  fi
fi

# Sound: two null sinks; a sink's monitor is a loopback capture device.
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$qv_root/build/runtime}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if ! pactl info >/dev/null 2>&1; then
  pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=a sink_properties=device.description=QvOutA" \
    --load="module-null-sink sink_name=b sink_properties=device.description=QvOutB" >/dev/null 2>&1 || true
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-source b.monitor >/dev/null 2>&1 || true
  qv_pulse_started=1
fi

# The Wine prefix, created once; a persistent server spares every test
# program Wine's start-up.
mkdir -p "$WINEPREFIX"
# A prefix made before Wine's 32-bit part was installed cannot run 32-bit
# programs (the 32-bit plug-in host): it is made again.
if [ -f "$WINEPREFIX/system.reg" ] && [ -x /usr/lib/wine/wine ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "services: making the Wine prefix again, now with its 32-bit part"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "services: creating the Wine prefix"
  wineboot -i >/dev/null 2>&1 || true
fi
# Caption buttons are drawn with Marlett, found only in the prefix's Fonts.
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
wineserver -p >/dev/null 2>&1 || true
# Services started now hold /dev/null, not a test runner's pipe.
wineboot >/dev/null 2>&1 </dev/null || true
# A test program that crashes (a misbehaving plug-in on purpose) must end,
# not wait in winedbg's dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null || true

qv_stop_services() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${qv_pulse_started:-}" ] && pulseaudio --kill >/dev/null 2>&1 || true
  for pid in "${qv_started[@]}"; do kill "$pid" >/dev/null 2>&1 || true; done
}
trap qv_stop_services EXIT
