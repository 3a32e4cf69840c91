#!/usr/bin/env bash
# Time to write the whole Zelk general program (ten square waves of 180 s each, 30 minutes) as
# FLAC: `zelkgen --export` beside sox synthesising the same ten square waves into FLAC, the best
# of N runs each, taken in turns in one run. Usage: bench/export_vs_sox.sh [build dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
source "$(dirname "$0")/common.sh"
make_scratch export_vs_sox

# The same waves as the export: amplitude 26000 of 32767, the right channel half a cycle apart,
# 16-bit without dither.
chain=()
for frequency in 10000 5000 1800 1500 690 650 600 465 2.165 2.008; do
  if [ ${#chain[@]} -gt 0 ]; then chain+=(:); fi
  chain+=(synth 180 square "$frequency" 0 0 square "$frequency" 0 50 vol 0.7935)
done


export_times=()
sox_times=()
for _ in $(seq "$runs"); do
  export_times+=("$(seconds "$build/zelkgen" --export "$work/zelkgen.flac" --program zelk)")
  sox_times+=("$(seconds sox -r 44100 -c 2 -n -D -b 16 "$work/sox.flac" "${chain[@]}")")
done
export_wall=$(printf '%s\n' "${export_times[@]}" | best 1)
export_cpu=$(printf '%s\n' "${export_times[@]}" | best 2)
sox_wall=$(printf '%s\n' "${sox_times[@]}" | best 1)
sox_cpu=$(printf '%s\n' "${sox_times[@]}" | best 2)

size() { stat -c %s "$1"; }
echo "zelkgen --export: ${export_wall} s wall, ${export_cpu} s processor," \
  "$(size "$work/zelkgen.flac") bytes (best of $runs)"
echo "sox synth:        ${sox_wall} s wall, ${sox_cpu} s processor," \
  "$(size "$work/sox.flac") bytes (best of $runs)"
awk -v ew="$export_wall" -v sw="$sox_wall" -v ec="$export_cpu" -v sc="$sox_cpu" 'BEGIN {
  printf "ratio: export %.1f times as fast as sox in wall time, %.1f in processor time" \
         " (target: 10 or more)\n", sw / ew, sc / ec }'
