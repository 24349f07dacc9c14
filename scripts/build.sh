#!/usr/bin/env bash
# Configures and builds the given presets (default: the 32-bit plug-in
# host, then the Windows, native and sanitizer builds). windows32 goes before
# windows: it stages into the Windows build's stage, which the Windows
# build packs.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(windows32 windows native native-asan)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
