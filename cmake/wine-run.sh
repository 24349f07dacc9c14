#!/bin/sh
# Runs a Windows program under Wine with the project's own prefix: quiet, no
# Mono or Gecko prompts, created on first use.
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="${QV_WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # One creator at a time when tests start in parallel.
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
    wineserver -w
  ) 9>"$WINEPREFIX/.create.lock"
fi
# Wine's background services (started by the first program of a server's
# life) inherit that program's output; started here, they hold /dev/null
# instead of the test runner's pipe, which would otherwise never close.
wineboot >/dev/null 2>&1 </dev/null
exec wine "$@"
