#!/usr/bin/env bash
# The silence between a built-in program's steps, which close their output and open it again:
# Zelk general's ten steps of STEP MS each, played RUNS times by `zelkgen --play` into a private
# PulseAudio's null sink (step_frames.sh), the gap at each step's end measured in the recording.
# A bare SDL2 player that closes and opens its device takes some 40 ms for the same.
#
# Usage: bench/step_silence.sh [runs] [build dir] [step ms]      (defaults: 3, build, 1000)
# Build first: cmake --build build --target zelkgen step_run
#
# Prints each run's frames (every frame of every step should be heard) and the median, shortest
# and longest silence of the joins (nine a run); gaps elsewhere (underruns) are left out.
set -euo pipefail

runs=${1:-3}
build=${2:-build}
step_ms=${3:-1000}
here=$(dirname "$0")
gaps=$(mktemp /tmp/step_silence.XXXXXX)
trap 'rm -f "$gaps"' EXIT
echo "load average before $(cut -d' ' -f1-3 /proc/loadavg)"
for ((run = 1; run <= runs; ++run)); do
  STEP_FRAMES_GAPS=$gaps "$here/step_frames.sh" "$build" play "$((10 * step_ms))" zelk \
    --test-step-ms "$step_ms" | grep -E '^recorded'
done
python3 -c '
import sys
step = int(sys.argv[2]) * 441 // 10
joins = []
for line in open(sys.argv[1]):
    before, frames = map(int, line.split())
    # A join follows a whole number of steps of tone, give or take what underruns lost.
    k = round(before / step)
    if 1 <= k <= 9 and abs(before - k * step) <= step // 20:
        joins.append(frames / 44.1)
joins.sort()
if not joins:
    sys.exit("no silence between steps recorded")
print("silence between steps: median %.1f ms, shortest %.1f, longest %.1f (%d joins)"
      % (joins[len(joins) // 2], joins[0], joins[-1], len(joins)))
' "$gaps" "$step_ms"
echo "load average after $(cut -d' ' -f1-3 /proc/loadavg)"
