#!/usr/bin/env bash
# Packs the application directory as a portable zip:
#   installer/build-portable.sh STAGE OUTFILE.zip
# The zip holds one folder, "Quorvane Live", laid out as the setup program
# installs it (the same files: test programs are left out by the setup's own
# list), plus register.cmd, which writes the AppDir value the program needs.
# Needs zip.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 STAGE OUTFILE.zip" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v zip >/dev/null || { echo "build-portable: zip not found (package zip)" >&2; exit 1; }
stage=$(realpath -e -- "$1") || { echo "build-portable: no stage at $1" >&2; exit 1; }
outfile=$(realpath -m -- "$2")
[ -f "$stage/QuorvaneLive.exe" ] || { echo "build-portable: $stage/QuorvaneLive.exe is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
top="$work/Quorvane Live"
mkdir -p "$top"
# The same selection as the setup program: its list of files, read back.
"$here/stage-files.sh" "$stage" "$work/install.nsh" "$work/uninstall.nsh"
sed -n 's/^File "\(.*\)"$/\1/p' "$work/install.nsh" | while IFS= read -r f; do
  rel=${f#"$stage"/}
  mkdir -p "$top/$(dirname "$rel")"
  cp -p "$f" "$top/$rel"
done
(cd "$stage" && find . -mindepth 1 -type d -print0) | while IFS= read -r -d '' d; do mkdir -p "$top/$d"; done
cp "$here/portable/register.cmd" "$top/register.cmd"

mkdir -p "$(dirname "$outfile")"
rm -f "$outfile"
# Stable order and times, so the same stage gives the same zip.
(cd "$work" && find "Quorvane Live" -print0 | LC_ALL=C sort -z | xargs -0 touch -h -d @0 &&
  find "Quorvane Live" -print | LC_ALL=C sort | zip -q -X -D -@ "$outfile.tmp" &&
  zip -q -X "$outfile.tmp" "Quorvane Live/VST Plugins/")
mv -f "$outfile.tmp" "$outfile"
echo "build-portable: $outfile ($(stat -c %s "$outfile") bytes)"
