#!/usr/bin/env bash
# Time to render the tone generator's largest tone into a WAV file: `zelkgen tone --export`
# beside `sox -n` synthesising the same length (32767 ms), rate (96000 frames per second),
# channels (two, the same samples in both) and the same nine sines (the main tone and eight extra
# tones), 16-bit; the best of N runs each, taken in turns, wall and processor seconds.
#
# Three comparisons:
# - chord: sox makes one channel per sine (with one channel, sox would ignore `sine mix F` and
#   make a single sine) and mixes the nine into each of the two channels, as the tone generator
#   mixes its tones;
# - chord with envelope: the same with the default envelope (attack 10 %, release 30 % of the
#   duration), which sox applies as a linear fade in and out (its fade has no hold, decay or
#   sustain; the tone generator's envelope does all four, so sox's job is a little lighter);
# - one sine: the earlier, lighter job (sox's single mixed channel copied by remix), for
#   comparison with figures measured before.
# Usage: bench/tone_vs_sox.sh [build dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
source "$(dirname "$0")/common.sh"
need_programs sox soxi
make_scratch tone_vs_sox

frequency=440
duration_ms=32767
seconds=32.767
factors=(1.5 2 2.5 3 3.5 4 4.5 5)
tone=("$build/zelkgen" tone --frequency "$frequency" --duration "$duration_ms" --quality high
  --stereo)
chord=(synth "$seconds" sine "$frequency")
one_sine=(synth "$seconds" sine "$frequency")
level=1
for factor in "${factors[@]}"; do
  tone+=(--am "$level,10,sine,$factor")
  hertz=$(awk -v f="$frequency" -v k="$factor" 'BEGIN { print f * k }')
  chord+=(sine "$hertz")
  one_sine+=(sine mix "$hertz")
  level=$((level + 1))
done
attack=$(awk -v s="$seconds" 'BEGIN { print s * 0.10 }')
release=$(awk -v s="$seconds" 'BEGIN { print s * 0.30 }')

# compare NAME SOX-CHANNELS ZELKGEN-OPTIONS -- SOX-EFFECTS: one line of figures.
compare() {
  local name=$1 channels=$2 tone_extra=() sox_args=() tone_times=() sox_times=()
  shift 2
  while [[ $1 != -- ]]; do tone_extra+=("$1"); shift; done
  shift
  sox_args=("$@")
  for _ in $(seq "$runs"); do
    tone_times+=("$(seconds "${tone[@]}" "${tone_extra[@]}" --export "$work/tone.wav")")
    sox_times+=("$(seconds sox -r 96000 -c "$channels" -n -b 16 -D "$work/sox.wav" "${sox_args[@]}")")
  done
  [[ -s $work/tone.wav ]] || { echo "zelkgen tone --export wrote nothing" >&2; exit 1; }
  [[ $(soxi -c "$work/sox.wav") == 2 ]] || { echo "sox did not write two channels" >&2; exit 1; }
  local tw tc sw sc
  tw=$(printf '%s\n' "${tone_times[@]}" | best 1)
  tc=$(printf '%s\n' "${tone_times[@]}" | best 2)
  sw=$(printf '%s\n' "${sox_times[@]}" | best 1)
  sc=$(printf '%s\n' "${sox_times[@]}" | best 2)
  awk -v n="$name" -v tw="$tw" -v tc="$tc" -v sw="$sw" -v sc="$sc" 'BEGIN {
    printf "%-22s zelkgen %6.3f s wall %6.3f s cpu | sox %6.3f s wall %6.3f s cpu | " \
           "zelkgen %.2fx as fast (wall), %.2fx (cpu)\n", n, tw, tc, sw, sc, sw / tw, sc / tc }'
}

echo "Nine sines, ${duration_ms} ms, 96000 frames/s, two channels, 16-bit; best of $runs"
compare "chord" 9 -- "${chord[@]}" remix 1-9 1-9
compare "chord with envelope" 9 --envelope -- "${chord[@]}" remix 1-9 1-9 \
  fade t "$attack" "$seconds" "$release"
compare "one sine (lighter)" 1 -- "${one_sine[@]}" vol 0.111 remix 1 1
echo "(target: zelkgen 1x or more as fast)"
