#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds both builds and runs every test:
# the native tests optimised and under the sanitizers, the Windows tests
# under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
# shellcheck source=scripts/services.sh
source scripts/services.sh
scripts/build.sh windows32 windows native native-asan fuzz || exit 1

mkdir -p build
log=build/test-summary.log
echo "== built after $SECONDS s"
: >"$log"
status=0
for preset in native native-asan windows; do
  echo "== test $preset"
  ctest --preset "$preset" -j2 2>&1 | tee -a "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
done

# The real program under Wine, driven from outside: one run of the program
# per scenario, in a Wine prefix and on a display of their own.
echo "== test end-to-end (after $SECONDS s)"
e2elog=build/e2e-summary.log
bash tests/e2e/run.sh 2>&1 | tee "$e2elog"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

# The end-to-end run took the manual's pictures (build/manual/shots): the
# release artifacts are made again to carry them.
echo "== release artifacts with the manual's pictures (after $SECONDS s)"
cmake --build build/windows --target manual installer portable 2>&1 | tail -n 3
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

# Coverage-guided fuzzing of the parsers, a short bounded run each from the
# seed corpus (copied: the runs add their finds to a scratch corpus), 10 s
# each; longer runs are the fuzzers' own (build/fuzz/fuzzers/fuzz_*).
# Two run at a time, one per core.
fuzz_one() {
  local target=$1 seconds=10 corpus fuzzlog rc
  corpus=$(mktemp -d)
  fuzzlog=$(mktemp)
  cp tests/fuzz/corpus/$target/* "$corpus"/
  (cd build/fuzz/fuzzers && ./fuzz_$target -max_total_time=$seconds -timeout=10 -artifact_prefix="$corpus/" \
      "$corpus" >"$fuzzlog" 2>&1)
  rc=$?
  {
    echo "== fuzz $target"
    grep -E '^Done|ERROR|SUMMARY' "$fuzzlog"
    if [ "$rc" -ne 0 ]; then
      echo "fuzz $target: failed (exit $rc), input in $corpus, log $fuzzlog"
    else
      rm -rf "$corpus" "$fuzzlog"
    fi
  } >"build/fuzz-$target.log"
  return "$rc"
}
set -- performance accompaniment vststate vst3state clapstate preset settings effectstate stage
while [ $# -gt 0 ]; do
  fuzz_one "$1" &
  first=$!
  second=
  if [ $# -gt 1 ]; then fuzz_one "$2" & second=$!; fi
  wait "$first" || status=1
  [ -z "$second" ] || wait "$second" || status=1
  cat "build/fuzz-$1.log"; rm -f "build/fuzz-$1.log"
  if [ -n "$second" ]; then cat "build/fuzz-$2.log"; rm -f "build/fuzz-$2.log"; shift; fi
  shift
done

# The failures once more, last, where a log shown only in part still has
# them: the test programs that failed and every end-to-end check that did.
recap=$( {
  awk '/The following tests FAILED/ { on = 1; next } on && /^[[:space:]]+[0-9]+ - / { sub(/^[[:space:]]+/, ""); print "failed: " $0; next } { on = 0 }' "$log"
  grep -h '^FAIL ' "$e2elog" | cut -c1-700 | head -n 40
} )
[ -z "$recap" ] || printf '== failures\n%s\n' "$recap"

# One closing line over the three test runs and the end-to-end checks.
read -r passed failed < <(awk '/tests passed, .* tests failed out of/ {
    total += $NF; failed += $(NF-5) } END { print total - failed, failed + 0 }' "$log")
read -r e2epassed e2efailed < <(awk '/^[0-9]+ passed, [0-9]+ failed$/ { p = $1; f = $3 } END { print p + 0, f + 0 }' "$e2elog")
passed=$((passed + e2epassed))
failed=$((failed + e2efailed))
echo "tests: ${passed} passed, ${failed} failed (in $SECONDS s)"
exit "$status"
