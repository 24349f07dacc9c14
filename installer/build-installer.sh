#!/usr/bin/env bash
# Builds the setup program from a complete application directory:
#   installer/build-installer.sh STAGE OUTFILE [ICON]
# Quiet on success (one line, plus any makensis warnings); on failure prints
# makensis's whole log and exits non-zero. Needs makensis (Debian package nsis).
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 STAGE OUTFILE [ICON]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v makensis >/dev/null || { echo "build-installer: makensis not found (package nsis)" >&2; exit 1; }

# makensis runs in the script's folder: hand it absolute paths.
stage=$(realpath -e -- "$1") || { echo "build-installer: no stage at $1" >&2; exit 1; }
outfile=$(realpath -m -- "$2")
[ -f "$stage/QuorvaneLive.exe" ] || { echo "build-installer: $stage/QuorvaneLive.exe is missing" >&2; exit 1; }
defines=(-DSTAGE="$stage" -DOUTFILE="$outfile")
# QV_SETUP_VERSION=1.20 builds the same setup claiming an older version (the
# upgrade test installs it first).
[ -z "${QV_SETUP_VERSION:-}" ] || defines+=(-DVERSION="$QV_SETUP_VERSION")
if [ $# -eq 3 ] && [ -n "$3" ]; then
  icon=$(realpath -e -- "$3") || { echo "build-installer: no icon at $3" >&2; exit 1; }
  defines+=(-DICON="$icon")
fi

mkdir -p "$(dirname "$outfile")"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
rm -f "$outfile"
if ! makensis -V3 -INPUTCHARSET UTF8 "${defines[@]}" "$here/quorvane.nsi" >"$log" 2>&1 || [ ! -s "$outfile" ]; then
  cat "$log" >&2
  echo "build-installer: makensis FAILED for $outfile" >&2
  exit 1
fi
grep -i -A1 'warning' "$log" >&2 || true
echo "build-installer: $outfile ($(stat -c %s "$outfile") bytes)"
