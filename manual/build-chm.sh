#!/usr/bin/env bash
# Builds OUTDIR/Manual.chm from the help sources in this folder:
#   manual/build-chm.sh OUTDIR [SHOTSDIR]
# SHOTSDIR (default: build/manual/shots, filled by the end-to-end scenario
# scenario_95_manual_shots.sh) holds the pictures of the windows; a missing
# one becomes a framed "Picture of the ..." text (make_pages.py). The program
# opens the topic html\manual.htm, so the build fails if that page is
# missing, and check-chm.sh then proves that every topic of the contents is
# inside the file. Nothing is rewritten when the inputs are unchanged.
# Needs python3, chmcmd and chmls (Debian package fp-utils).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUTDIR [SHOTSDIR]" >&2
  exit 2
fi
outdir=$1
src=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$src")
shots=${2:-$root/build/manual/shots}

for tool in python3 chmcmd chmls; do
  command -v "$tool" >/dev/null || { echo "build-chm: $tool not found (package fp-utils)" >&2; exit 1; }
done

# The inputs' fingerprint: sources, message table and pictures. With
# QV_MANUAL_STAMP naming a file (outside OUTDIR, which is shipped), the same
# fingerprint as the last build leaves Manual.chm (and what depends on it)
# alone.
stamp=${QV_MANUAL_STAMP:-}
inputs=$( (cd "$src" && find . -type f ! -name '*.pyc' -print0 | LC_ALL=C sort -z | xargs -0 sha1sum
  sha1sum "$root/app/messages.cpp"
  [ -d "$shots" ] && (cd "$shots" && find . -maxdepth 1 -name '*.png' -print0 | LC_ALL=C sort -z | xargs -0 -r sha1sum)
  true) | sha1sum | cut -d' ' -f1)
if [ -n "$stamp" ] && [ -s "$outdir/Manual.chm" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$inputs" ]; then
  exit 0
fi

# chmcmd writes next to the project file: compile a copy, not the sources.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$src/make_pages.py" "$src" "$root/app/messages.cpp" "$shots" "$work/src"

if ! (cd "$work/src" && chmcmd --verbosity 1 manual.hhp) >"$work/chmcmd.log" 2>&1 \
   || [ ! -s "$work/src/Manual.chm" ]; then
  cat "$work/chmcmd.log" >&2
  echo "build-chm: chmcmd failed" >&2
  exit 1
fi
# The listing is read whole first: grep -q ending at the first match would
# cut chmls off, and under pipefail that broken pipe reads as a failure.
listing=$(chmls list "$work/src/Manual.chm" 2>/dev/null || true)
if ! grep -q ' /html/manual\.htm$' <<<"$listing"; then
  echo "build-chm: html/manual.htm is missing from Manual.chm" >&2
  exit 1
fi
bash "$src/check-chm.sh" "$work/src/Manual.chm" >/dev/null

mkdir -p "$outdir"
cp "$work/src/Manual.chm" "$outdir/Manual.chm.tmp"
mv -f "$outdir/Manual.chm.tmp" "$outdir/Manual.chm"
[ -z "$stamp" ] || echo "$inputs" >"$stamp"
