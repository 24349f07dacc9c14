#!/usr/bin/env bash
# 32-bit plug-ins in full: needs a machine that runs 32-bit programs and
# installs Wine's 32-bit part (wine32, i386, about 1.8 GB of packages);
# the Wine prefix is then made again with its 32-bit half. Builds the Windows program and the 32-bit plug-in host, then with
# qvrender under Wine: a 32-bit test VST is listed with " (32-bit)", gives
# the same samples in the 32-bit helper as its 64-bit twin inside the
# program, keeps its state through a performance, and a 32-bit plug-in that
# crashes is survived; the 32-bit VST 3 and CLAP test gains are listed so
# and give their 64-bit twins' samples. Prints PASS/FAIL lines; exits
# non-zero on a failure.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq wine32:i386 >/dev/null || exit 1
fi
# shellcheck source=scripts/services.sh
source scripts/services.sh
scripts/build.sh windows32 windows || exit 1

work=build/test32
rm -rf "$work"
mkdir -p "$work/vst"
cp build/windows32/testmodules/tvst_stereo.dll "$work/vst/vintage.dll"
cp build/windows32/testmodules/tvst_faulty.dll "$work/vst/faulty.dll"
cp build/windows/testmodules/tvst_stereo.dll "$work/vst/modern.dll"
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 2 sine 440 sine 660 vol 0.5 2>/dev/null
wp() { winepath -w "$1" 2>/dev/null; }
key='HKCU\Software\Quorvane Software\Quorvane Live\1'
wine reg add "$key" /v VSTDir /t REG_SZ /d "$(wp "$work/vst")\\" /f >/dev/null 2>&1
render() { timeout 120 wine build/windows/stage/qvrender.exe --quiet --dc-remover off --gate-threshold 0 --block 256 \
  --format 13 "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
status=0
check() {  # WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "PASS $what"; else echo "FAIL $what"; status=1; fi
}

list=$(timeout 120 wine build/windows/stage/qvrender.exe --list-plugins 2>&1 | tr -d '\r')
echo "$list"
check "the 32-bit plug-in is listed with \" (32-bit)\"" grep -qx "VST Plugins: vintage (32-bit)" <<<"$list"
render --effect modern "$(wp "$work/in.wav")" "$(wp "$work/modern.wav")"
render --effect "vintage (32-bit)" --save-performance "$(wp "$work/vintage.qvp")" \
  "$(wp "$work/in.wav")" "$(wp "$work/vintage.wav")"
check "the 32-bit plug-in gives the samples of its 64-bit twin" cmp -s "$work/modern.wav" "$work/vintage.wav"
render --performance "$(wp "$work/vintage.qvp")" "$(wp "$work/in.wav")" "$(wp "$work/again.wav")"
check "its performance renders the same samples again (state and slot kept)" cmp -s "$work/vintage.wav" "$work/again.wav"
out=$(QV_TVST_FAULT=crash:40 render --effect "faulty (32-bit)" "$(wp "$work/in.wav")" "$(wp "$work/crashed.wav")")
rc=$?
echo "$out"
check "a 32-bit plug-in that crashes is survived (exit code 3)" test "$rc" -eq 3
check "the tool names the plug-in, the slot and the frame" \
  grep -q "the plug-in faulty (32-bit) in slot 1 crashed at frame 10240" <<<"$out"

# VST 3 and CLAP: the 32-bit test gain (a bundle with only Contents/x86-win,
# and a .clap) beside its 64-bit twin (a bundle with only Contents/x86_64-win)
# in one folder. Each build lists and runs its own; the 32-bit helper's scan
# leaves the 64-bit bundle to the program and keeps its cache record.
mixed="$work/mixed"
mkdir -p "$mixed/Modern.vst3/Contents/x86_64-win"
cp -r build/windows32/testmodules/vst3/QvTestGain.vst3 build/windows32/testmodules/clap/QvTestGain.clap "$mixed/"
cp build/windows/testmodules/vst3/QvTestGain.vst3/Contents/x86_64-win/QvTestGain.vst3 \
  "$mixed/Modern.vst3/Contents/x86_64-win/Modern.vst3"
wine reg add "$key" /v VSTDir /t REG_SZ /d "$(wp "$mixed")\\" /f >/dev/null 2>&1
list=$(timeout 120 wine build/windows/stage/qvrender.exe --list-plugins 2>&1 | tr -d '\r')
echo "$list"
check "the 32-bit VST 3 and CLAP modules are listed with \" (32-bit)\", the 64-bit one without" \
  test "$(grep -c ': Qv Test Gain (32-bit)$' <<<"$list") $(grep -c '^VST3 Plugins: Qv Test Gain$' <<<"$list")" = "2 1"
render --effect "Qv Test Gain" "$(wp "$work/in.wav")" "$(wp "$work/gain64.wav")"
render --effect "Qv Test Gain (32-bit)" "$(wp "$work/in.wav")" "$(wp "$work/gain32.wav")"
check "the 32-bit test gain (the first wrapper's) gives the samples of its 64-bit twin" \
  cmp -s "$work/gain64.wav" "$work/gain32.wav"
cache="$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)/Quorvane Live VST3 cache.txt"
kept_record() { grep -A1 'Modern.vst3$' "$cache" | grep -q '^C '; }
check "the 32-bit helper's scan kept the 64-bit bundle's record in the cache" kept_record
wine reg delete "$key" /v VSTDir /f >/dev/null 2>&1
exit "$status"
