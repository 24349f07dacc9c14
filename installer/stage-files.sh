#!/usr/bin/env bash
# The NSIS lines written below hold $INSTDIR literally.
# shellcheck disable=SC2016
# Called by quorvane.nsi while it compiles: lists the application directory
# STAGE as NSIS commands. INSTALL_NSH gets the SetOutPath/File lines,
# UNINSTALL_NSH the matching Delete/RMDir lines, so the uninstaller removes
# exactly the files the installer put there and leaves anything else alone.
# Test programs and build leftovers that may sit in a stage are skipped.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 STAGE INSTALL_NSH UNINSTALL_NSH" >&2
  exit 2
fi
stage=${1%/}
install_nsh=$2
uninstall_nsh=$3
[ -d "$stage" ] || { echo "stage-files: no such directory: $stage" >&2; exit 1; }

# Not part of the installed program: test executables and modules, debug
# databases, import libraries.
skip() {
  local base
  base=$(basename "$1" | tr '[:upper:]' '[:lower:]')
  case "$base" in
    *test*.exe | *test*.dll | *.pdb | *.a | *.lib | *.exp | *.ilk | *.log) return 0 ;;
  esac
  return 1
}

# "$" starts an NSIS variable: written "$$".
nsis_escape() {
  printf '%s' "${1//\$/\$\$}"
}

files=()
while IFS= read -r -d '' f; do
  f=${f#./}
  case "$f" in
    # Neither fits in an NSIS string in double quotes.
    *'"'* | *$'\n'*) echo "stage-files: unusable file name: $f" >&2; exit 1 ;;
  esac
  skip "$f" || files+=("$f")
done < <(cd "$stage" && find . -type f -print0 | LC_ALL=C sort -z)

[ ${#files[@]} -gt 0 ] || { echo "stage-files: $stage holds nothing to install" >&2; exit 1; }

# Every folder of the stage, empty ones too; "VST Plugins" (empty in the
# stage) is created by its own component and removed only while empty.
dirs=()
while IFS= read -r -d '' d; do
  d=${d#./}
  case "$d" in
    *'"'* | *$'\n'*) echo "stage-files: unusable folder name: $d" >&2; exit 1 ;;
  esac
  dirs+=("$d")
done < <(cd "$stage" && find . -mindepth 1 -type d -print0 | LC_ALL=C sort -z)

{
  for d in "${dirs[@]}"; do
    # An optional component of the setup program creates it.
    [ "$d" = "VST Plugins" ] && continue
    printf 'CreateDirectory "$INSTDIR\\%s"\n' "$(nsis_escape "${d//\//\\}")"
  done
  current=//   # no directory has this name: the first file always sets the path
  for f in "${files[@]}"; do
    dir=$(dirname "$f")
    [ "$dir" = . ] && dir=
    if [ "$dir" != "$current" ]; then
      if [ -n "$dir" ]; then
        printf 'SetOutPath "$INSTDIR\\%s"\n' "$(nsis_escape "${dir//\//\\}")"
      else
        printf 'SetOutPath "$INSTDIR"\n'
      fi
      current=$dir
    fi
    # The source path is read by makensis as it stands: no escaping.
    printf 'File "%s"\n' "$stage/$f"
  done
  printf 'SetOutPath "$INSTDIR"\n'
} >"$install_nsh"

{
  for f in "${files[@]}"; do
    printf 'Delete "$INSTDIR\\%s"\n' "$(nsis_escape "${f//\//\\}")"
  done
  # Folders deepest first; RMDir without /r only removes them when empty.
  for d in "${dirs[@]}"; do
    printf '%s\n' "$d"
  done | awk -F/ '{ print NF "\t" $0 }' | LC_ALL=C sort -t "$(printf '\t')" -k1,1nr -k2 | cut -f2- |
  while IFS= read -r d; do
    printf 'RMDir "$INSTDIR\\%s"\n' "$(nsis_escape "${d//\//\\}")"
  done
} >"$uninstall_nsh"
