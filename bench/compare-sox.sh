#!/usr/bin/env bash
# Times qvrender against sox on the same file, whole process each: 60 s of
# 44.1 kHz stereo 16-bit pink noise, each effect (and the empty chain) next
# to the sox command that does the comparable job. Both commands run in turn,
# five pairs per row; the row shows the median of the per-pair ratios
# qvrender / sox and the median times. Builds nothing.
#
#   bench/compare-sox.sh PATH/TO/qvrender [PAIRS]
#
# Goal: each effect at or below 0.5, the empty chain at or below 1.0.
set -euo pipefail
qvrender=${1:?usage: compare-sox.sh PATH/TO/qvrender [PAIRS]}
pairs=${2:-5}
[ -x "$qvrender" ] || { echo "compare-sox: $qvrender is not a program" >&2; exit 2; }
if ! command -v sox >/dev/null; then
  echo "compare-sox: sox is not installed; nothing to compare with" >&2
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
in="$work/in.wav"
sox -n -r 44100 -c 2 -b 16 "$in" synth 60 pinknoise vol 0.5

# Wall time of one command in nanoseconds; its output goes to the scratch folder.
nanos() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { echo "compare-sox: failed: $*" >&2; exit 1; }
  end=$(date +%s%N)
  echo $((end - start))
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# Other work on the machine skews the ratios: the load is shown before and after.
load() { cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown; }
echo "load average before: $(load) ($(nproc 2>/dev/null || echo ?) processors)"
printf '%-12s %8s %10s %10s   %s\n' effect ratio "qv ms" "sox ms" "sox command"
row() {
  local name=$1 goal=$2
  shift 2
  local qvargs=() soxargs=()
  while [ "$1" != "--" ]; do qvargs+=("$1"); shift; done
  shift
  soxargs=("$@")
  local ratios=() qvs=() soxes=() i q s
  # One untimed pair first, so that neither side pays for a cold cache alone.
  nanos "$qvrender" --quiet "${qvargs[@]}" "$in" "$work/qv.wav" >/dev/null
  nanos sox "$in" "$work/sox.wav" "${soxargs[@]}" >/dev/null
  for ((i = 0; i < pairs; i++)); do
    q=$(nanos "$qvrender" --quiet "${qvargs[@]}" "$in" "$work/qv.wav")
    s=$(nanos sox "$in" "$work/sox.wav" "${soxargs[@]}")
    qvs+=("$q")
    soxes+=("$s")
    ratios+=("$(awk -v q="$q" -v s="$s" 'BEGIN {printf "%.4f", q / s}')")
  done
  local ratio qm sm verdict
  ratio=$(printf '%s\n' "${ratios[@]}" | median)
  qm=$(printf '%s\n' "${qvs[@]}" | median)
  sm=$(printf '%s\n' "${soxes[@]}" | median)
  verdict=$(awk -v r="$ratio" -v g="$goal" 'BEGIN {print (r <= g) ? "ok" : "over " g}')
  printf '%-12s %8.2f %10.1f %10.1f   sox in.wav out.wav %s  (%s)\n' "$name" "$ratio" \
    "$(awk -v n="$qm" 'BEGIN {print n / 1e6}')" "$(awk -v n="$sm" 'BEGIN {print n / 1e6}')" "${soxargs[*]}" "$verdict"
}

row chorus 0.5 --effect chorus -- chorus 0.7 0.9 55 0.4 0.25 2 -t
row flanger 0.5 --effect flanger -- flanger
row echo 0.5 --effect echo -- echo 0.8 0.9 100 0.3
row reverb 0.5 --effect reverb -- reverb
row "empty chain" 1.0 -- gain 0
echo "load average after: $(load)"
