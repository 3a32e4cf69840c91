#!/usr/bin/env bash
# Time to render the tone generator's largest tone into a WAV file: `zelkgen tone --export`
# beside `sox -n` synthesising the same length (32767 ms), rate (96000 frames per second),
# channels (two, the same samples in both) and number of mixed tones (nine sines, the main tone
# and eight extra tones), 16-bit; the best of N runs each, taken in turns, wall and processor
# seconds. sox gets its cheapest way to two equal channels: one mixed channel, scaled by a ninth
# so that the sum stays in range as the tone generator's does, copied by remix.
# Usage: bench/tone_vs_sox.sh [build dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
source "$(dirname "$0")/common.sh"
need_programs sox
make_scratch tone_vs_sox

frequency=440
factors=(1.5 2 2.5 3 3.5 4 4.5 5)
tone=("$build/zelkgen" tone --frequency "$frequency" --duration 32767 --quality high --stereo)
synth=(synth 32.767 sine "$frequency")
level=1
for factor in "${factors[@]}"; do
  tone+=(--am "$level,10,sine,$factor")
  synth+=(sine mix "$(awk -v f="$frequency" -v k="$factor" 'BEGIN { print f * k }')")
  level=$((level + 1))
done


tone_times=()
sox_times=()
for _ in $(seq "$runs"); do
  tone_times+=("$(seconds "${tone[@]}" --export "$work/tone.wav")")
  sox_times+=("$(seconds sox -r 96000 -c 1 -n -b 16 -D "$work/sox.wav" "${synth[@]}" vol 0.111 remix 1 1)")
done
[[ -s $work/tone.wav ]] || { echo "zelkgen tone --export wrote nothing" >&2; exit 1; }
tone_wall=$(printf '%s\n' "${tone_times[@]}" | best 1)
tone_cpu=$(printf '%s\n' "${tone_times[@]}" | best 2)
sox_wall=$(printf '%s\n' "${sox_times[@]}" | best 1)
sox_cpu=$(printf '%s\n' "${sox_times[@]}" | best 2)

describe() { echo "$(soxi -c "$1") channels, $(soxi -r "$1")/s, $(soxi -s "$1") frames; "; }
echo "zelkgen tone --export: ${tone_wall} s wall, ${tone_cpu} s processor ($(describe "$work/tone.wav")best of $runs)"
echo "sox -n synth:          ${sox_wall} s wall, ${sox_cpu} s processor ($(describe "$work/sox.wav")best of $runs)"
awk -v tw="$tone_wall" -v sw="$sox_wall" -v tc="$tone_cpu" -v sc="$sox_cpu" 'BEGIN {
  printf "ratio: zelkgen tone %.2f times as fast as sox in wall time, %.2f in processor time" \
         " (target: 1 or more)\n", sw / tw, sc / tc }'
