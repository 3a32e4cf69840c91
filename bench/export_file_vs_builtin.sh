#!/usr/bin/env bash
# Export speed per minute of sound, a program file beside a built-in program: the Zelk general
# program (30 minutes) exported as itself and as the program file --print-program writes of it
# (the same frequencies and lengths, played exactly), and a file of three 10-minute sine glides
# at two levels, each as WAV (the synthesis and the writing) and FLAC (the encoder's share), best
# of N runs taken in turns. Usage: bench/export_file_vs_builtin.sh [build dir] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
source "$(dirname "$0")/common.sh"
make_scratch export_file_vs_builtin

"$build/zelkgen" --print-program zelk >"$work/zelk.zelkgen"
printf '%s\n' "zelkgen program: Glides" "shape sine" "100 -> 10000 10m" "10000 -> 465 10m 50%" \
  "2.165 -> 2.008 10m" >"$work/glides.zelkgen"


declare -A times
programs=(zelk "$work/zelk.zelkgen" "$work/glides.zelkgen")
for _ in $(seq "$runs"); do
  for program in "${programs[@]}"; do
    for type in wav flac; do
      times[$program.$type]+="$(seconds "$build/zelkgen" --export "$work/out.$type" --program "$program")"$'\n'
    done
  done
done
for program in "${programs[@]}"; do
  for type in wav flac; do
    wall=$(printf '%s' "${times[$program.$type]}" | best 1)
    cpu=$(printf '%s' "${times[$program.$type]}" | best 2)
    awk -v p="$(basename "$program")" -v t="$type" -v w="$wall" -v c="$cpu" 'BEGIN {
      printf "%-16s %-4s %6.3f s wall %6.3f s processor: %.4f s wall per minute of sound\n",
             p, t, w, c, w / 30 }'
  done
done
echo "(each program is 30 minutes of sound; best of $runs; the target: a file no slower than zelk)"
