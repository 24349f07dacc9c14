#!/usr/bin/env bash
# Checks a built manual: its table of contents (read back out of the CHM)
# names only topics that are inside the file, every topic of a window or
# dialog of the program is among them, and the index and the start topic
# are there.
#   manual/check-chm.sh Manual.chm
# Prints one line per check and "N passed, M failed"; exits non-zero on a
# failure. Needs chmls (fp-utils).
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 Manual.chm" >&2
  exit 2
fi
chm=$1
passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); echo "PASS $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmls list "$chm" 2>/dev/null | awk '{ print $NF }' | grep '^/' | LC_ALL=C sort >"$work/files"
check "the CHM lists its files" test -s "$work/files"

# The contents and index files are stored in the CHM under their own names.
hhc=$(grep -i '\.hhc$' "$work/files" | head -n1)
hhk=$(grep -i '\.hhk$' "$work/files" | head -n1)
check "the CHM holds a table of contents" test -n "$hhc"
check "the CHM holds an index" test -n "$hhk"
[ -n "$hhc" ] && (cd "$work" && chmls extract "$chm" "$hhc" toc.hhc >/dev/null 2>&1)
[ -n "$hhk" ] && (cd "$work" && chmls extract "$chm" "$hhk" index.hhk >/dev/null 2>&1)
check "the table of contents can be read back" test -s "$work/toc.hhc"

# Topics named by the contents: the Local values, without anchors.
topics() { grep -io '<param name="Local" value="[^"]*"' "$1" | sed 's/.*value="//; s/"$//; s/#.*//' | LC_ALL=C sort -u; }
topics "$work/toc.hhc" >"$work/toc" 2>/dev/null
check "the table of contents names topics" test -s "$work/toc"
missing=$(while IFS= read -r t; do grep -qxF "/$t" "$work/files" || echo "$t"; done <"$work/toc")
[ -z "$missing" ] || echo "  topics missing from the CHM: $missing"
check "every topic of the contents is in the CHM" test -z "$missing"
missing=$(topics "$work/index.hhk" 2>/dev/null | while IFS= read -r t; do grep -qxF "/$t" "$work/files" || echo "$t"; done)
[ -z "$missing" ] || echo "  index topics missing from the CHM: $missing"
check "every topic of the index is in the CHM" test -z "$missing"

# The program's Help command opens this topic.
check "the start topic html/manual.htm is in the contents" grep -qx 'html/manual.htm' "$work/toc"
# A topic for every window and dialog, and the messages.
for t in main-window master-section chain audio-settings recording meters vst about effects reverb echo \
  flanger chorus performances accompaniment metronome playing-live latency shortcuts messages getting-started install; do
  check "the contents list html/$t.htm" grep -qx "html/$t.htm" "$work/toc"
done
# Every page's pictures are in the file (a missing shot is text, not a link).
pics=$(for p in $(grep '^/html/.*\.htm$' "$work/files"); do
  (cd "$work" && chmls extract "$chm" "$p" page.htm >/dev/null 2>&1 && grep -o 'src="[^"]*"' page.htm | sed 's/src="//; s/"$//' | sed "s|^|/html/|")
done | LC_ALL=C sort -u)
missing=$(for p in $pics; do grep -qxF "$p" "$work/files" || echo "$p"; done)
[ -z "$missing" ] || echo "  pictures missing from the CHM: $missing"
check "every picture a page shows is in the CHM" test -z "$missing"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
