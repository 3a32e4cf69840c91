#!/usr/bin/env bash
# THD+N of the tone generator's two renderings beside sox's sine: one second of a sine at 440,
# 997 and 5000 Hz, 96000 frames per second, 16-bit mono, measured by thd_noise (a least-squares
# sine fit at the known frequency over whole periods; residual RMS against total RMS).
# Usage: bench/tone_thd.sh [build dir]
set -euo pipefail
build=${1:-build}
source "$(dirname "$0")/common.sh"
make_scratch tone_thd
have_sox=1
command -v sox >/dev/null || have_sox=0

printf '%-8s %-12s %-10s %s\n' hertz restarting clean sox
for f in 440 997 5000; do
  common=("$build/zelkgen" tone --frequency "$f" --duration 1000 --quality high)
  "${common[@]}" --export "$work/plain.wav"
  "${common[@]}" --clean --export "$work/clean.wav"
  sox_figure=-
  if [ "$have_sox" = 1 ]; then
    sox -D -n -r 96000 -b 16 -c 1 "$work/sox.wav" synth 1 sine "$f"
    sox_figure=$("$build/bench/thd_noise" "$work/sox.wav" "$f")
  fi
  printf '%-8s %-12s %-10s %s\n' "$f" "$("$build/bench/thd_noise" "$work/plain.wav" "$f")" \
    "$("$build/bench/thd_noise" "$work/clean.wav" "$f")" "$sox_figure"
done
