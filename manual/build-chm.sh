#!/usr/bin/env bash
# Builds OUTDIR/Manual.chm from the help sources. The program opens the topic
# html\manual.htm inside it, so the build fails if that page is missing.
# Needs chmcmd and chmls (Debian package fp-utils).
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
outdir=$1
src=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/placeholder

for tool in chmcmd chmls; do
  command -v "$tool" >/dev/null || { echo "build-chm: $tool not found (package fp-utils)" >&2; exit 1; }
done

# chmcmd writes next to the project file: compile a copy, not the sources.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$src/." "$work/"

if ! (cd "$work" && chmcmd --verbosity 1 manual.hhp) >"$work/chmcmd.log" 2>&1 \
   || [ ! -s "$work/Manual.chm" ]; then
  cat "$work/chmcmd.log" >&2
  echo "build-chm: chmcmd failed" >&2
  exit 1
fi
if ! chmls list "$work/Manual.chm" 2>/dev/null | grep -q ' /html/manual\.htm$'; then
  echo "build-chm: html/manual.htm is missing from Manual.chm" >&2
  exit 1
fi

mkdir -p "$outdir"
cp "$work/Manual.chm" "$outdir/Manual.chm.tmp"
mv -f "$outdir/Manual.chm.tmp" "$outdir/Manual.chm"
