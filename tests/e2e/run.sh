#!/usr/bin/env bash
# Runs the end-to-end scenarios (tests/e2e/scenario_*.sh, in name order, or
# only those named on the command line) against the staged program under
# Wine, one program run after another, each in a subshell with a time limit.
# Prints "N passed, M failed" last; exits non-zero on any failure.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"

if [ ! -f "$QV_EXE" ]; then
  echo "e2e: $QV_EXE is missing (build the windows preset first)"
  exit 1
fi
# The driver comes with the Windows build; without one, compile it here.
if [ ! -f "$QV_DRIVE" ]; then
  QV_DRIVE="$QV_E2E_DIR/qvdrive.exe"
  x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -static -o "$QV_DRIVE" "$here/qvdrive.cpp" -luser32 -lgdi32 -lshell32 -lpsapi || exit 1
fi
export QV_DRIVE QV_RESULTS

: >"$QV_RESULTS"
qv_services_start
trap qv_services_stop EXIT

scenarios=()
if [ $# -gt 0 ]; then
  for name in "$@"; do
    if [ -f "$name" ]; then scenarios+=("$(readlink -f "$name")"); else scenarios+=("$here/${name%.sh}.sh"); fi
  done
else
  for f in "$here"/scenario_*.sh; do scenarios+=("$f"); done
fi

# A scenario's time limit: QV_SCENARIO_LIMIT (default 400 s); the soak runs
# QV_SOAK_MINUTES (default 3) on top of that.
scenario_limit() {
  local limit=${QV_SCENARIO_LIMIT:-400} minutes=${QV_SOAK_MINUTES:-3}
  [[ "$minutes" =~ ^[0-9]+$ ]] || minutes=3
  if [ "$1" = scenario_93_soak ]; then limit=$((limit + minutes * 60)); fi
  echo "$limit"
}

for f in "${scenarios[@]}"; do
  name=$(basename "$f" .sh)
  echo "== $name"
  began=$SECONDS
  before=$(grep -c "^FAIL $name:" "$QV_RESULTS")
  limit=$(scenario_limit "$name")
  QV_SCENARIO=$name timeout -k 10 "$limit" \
    bash -c 'source "$1/lib.sh" && source "$2"' _ "$here" "$f" </dev/null
  rc=$?
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    QV_SCENARIO=$name qv_fail "timed out after $limit s"
  elif [ "$rc" -ne 0 ] && [ "$(grep -c "^FAIL $name:" "$QV_RESULTS")" -eq "$before" ]; then
    QV_SCENARIO=$name qv_fail "scenario script ended with status $rc"
  fi
  # Nothing of this run may outlive it: a program still running is ended,
  # and a Wine server that does not answer is restarted.
  if [ -n "$(QV_DRIVE_LIMIT=20 qvd --no-desktop exit-code "$QV_EXE_NAME" 0 2>/dev/null | grep 'still running')" ]; then
    QV_DRIVE_LIMIT=20 qvd kill "$QV_EXE_NAME" >/dev/null || qv_wine_reset
  fi
  echo "($name: $((SECONDS - began)) s)"
done

qv_summary
