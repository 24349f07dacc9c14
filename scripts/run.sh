#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds both stages and shows what they hold.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh windows native
for stage in build/windows/stage build/native/stage; do
  echo "== $stage"
  (cd "$stage" && find . -type f | sort)
done
echo "== streamconv.dll imports"
x86_64-w64-mingw32-objdump -p build/windows/stage/streamconv.dll | grep 'DLL Name'
